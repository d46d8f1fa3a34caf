#include "web/http.h"

#include "web/html/page_frame.h"

namespace annc::web {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Escaped(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                 c == '_' || c == '.' || c == '~';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string Lookup(const std::map<std::string, std::string>& map, const std::string& name) {
  auto it = map.find(name);
  return it == map.end() ? std::string() : it->second;
}

}  // namespace

std::string Request::Query(const std::string& name) const { return Lookup(query, name); }
std::string Request::Field(const std::string& name) const { return Lookup(form, name); }

Response Response::Html(int status, std::string body) {
  Response response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

Response Response::Message(int status, const std::string& sentence) {
  return Html(status, MessagePage(std::to_string(status) + " " + StatusTitle(status), sentence));
}

Response Response::Redirect(const std::string& location) {
  Response response = Message(303, "Go on to " + location + ".");
  response.headers.emplace_back("Location", location);
  return response;
}

const Route* RouteTable::Find(const std::string& method, const std::string& path, bool* pathKnown) const {
  *pathKnown = false;
  for (const Route& route : routes_) {
    if (route.path != path) continue;
    *pathKnown = true;
    if (route.method == method) return &route;
  }
  return nullptr;
}

bool DecodeFormPart(const std::string& part, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < part.size(); ++i) {
    char c = part[i];
    if (c == '+') {
      *out += ' ';
    } else if (c == '%') {
      if (i + 2 >= part.size()) return false;
      int high = HexValue(part[i + 1]);
      int low = HexValue(part[i + 2]);
      if (high < 0 || low < 0) return false;
      *out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      *out += c;
    }
  }
  return true;
}

bool ParseForm(const std::string& text, std::map<std::string, std::string>* fields) {
  fields->clear();
  std::size_t count = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('&', start);
    if (end == std::string::npos) end = text.size();
    std::string pair = text.substr(start, end - start);
    start = end + 1;
    if (pair.empty()) continue;
    if (++count > kMaxFields) return false;
    std::size_t equals = pair.find('=');
    std::string name, value;
    if (!DecodeFormPart(pair.substr(0, equals), &name)) return false;
    if (equals != std::string::npos && !DecodeFormPart(pair.substr(equals + 1), &value)) return false;
    fields->emplace(std::move(name), std::move(value));
  }
  return true;
}

std::string WithQuery(const std::string& path, const std::vector<std::pair<std::string, std::string>>& args) {
  std::string out = path;
  char separator = '?';
  for (const auto& [name, value] : args) {
    out += separator;
    out += Escaped(name) + "=" + Escaped(value);
    separator = '&';
  }
  return out;
}

const char* StatusTitle(int status) {
  switch (status) {
    case 200: return "OK";
    case 303: return "See Other";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Content Too Large";
    case 415: return "Unsupported Media Type";
    case 421: return "Misdirected Request";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Error";
  }
}

}  // namespace annc::web
