#include "web/auth/host_check.h"

namespace annc::web {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// An IPv6 address in a Host header is in brackets; the names kept are too.
std::string Bracketed(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// Splits a Host header into its name and port ("" for none); false when it
// is malformed.
bool SplitHost(const std::string& host, std::string* name, std::string* port) {
  std::size_t colon;
  if (!host.empty() && host[0] == '[') {
    std::size_t close = host.find(']');
    if (close == std::string::npos) return false;
    *name = host.substr(0, close + 1);
    if (close + 1 == host.size()) {
      port->clear();
      return true;
    }
    if (host[close + 1] != ':') return false;
    colon = close + 1;
  } else {
    colon = host.find(':');
    *name = host.substr(0, colon);
    if (colon == std::string::npos) {
      port->clear();
      return !name->empty();
    }
  }
  *port = host.substr(colon + 1);
  if (port->empty() || port->size() > 5) return false;
  for (char c : *port) {
    if (c < '0' || c > '9') return false;
  }
  return !name->empty();
}

}  // namespace

HostCheck::HostCheck(const std::string& listenHost, int port, const std::vector<std::string>& names)
    : port_(std::to_string(port)) {
  names_ = {"localhost", "127.0.0.1", "[::1]"};
  // A wildcard address is no name a browser reaches the page by.
  if (listenHost != "0.0.0.0" && listenHost != "::") names_.push_back(Lower(Bracketed(listenHost)));
  for (const std::string& name : names) names_.push_back(Lower(Bracketed(name)));
}

bool HostCheck::Allowed(const std::string& host) const {
  std::string name, port;
  if (host.size() > 255 || !SplitHost(Lower(host), &name, &port)) return false;
  if (!port.empty() && port != port_) return false;
  for (const std::string& allowed : names_) {
    if (name == allowed) return true;
  }
  return false;
}

bool HostCheck::SameOrigin(const std::string& origin, const std::string& host) const {
  return Allowed(host) && Lower(origin) == "http://" + Lower(host);
}

}  // namespace annc::web
