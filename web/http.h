// annc-web's requests and responses as its pages see them, the route table
// that maps a method and a path to a page, and the bounded parsing of what
// a browser sends.
#ifndef ANNC_WEB_HTTP_H_
#define ANNC_WEB_HTTP_H_

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "web/auth/sessions.h"

namespace annc::web {

// The largest request body taken; past it the answer is 413.
constexpr std::size_t kMaxBodyBytes = 64 * 1024;
// The most fields a form or a query string may have, and the longest value
// a page takes from one.
constexpr std::size_t kMaxFields = 64;

struct Request {
  std::string method;
  std::string path;
  std::map<std::string, std::string> query;  // the URL's arguments
  std::map<std::string, std::string> form;   // a POST's form fields
  std::string host;
  std::string clientAddress;
  // The browser's session; never null when a page runs.
  Session* session = nullptr;
  bool loginOn = false;

  // A query argument or form field, "" when missing.
  std::string Query(const std::string& name) const;
  std::string Field(const std::string& name) const;
};

struct Response {
  int status = 200;
  std::string contentType = "text/html; charset=utf-8";
  std::string body;
  // Headers of this response beyond the ones every response has.
  std::vector<std::pair<std::string, std::string>> headers;

  static Response Html(int status, std::string body);
  // A short page saying `sentence`, with the status's own title.
  static Response Message(int status, const std::string& sentence);
  // 303 See Other to `location` (a path of this program).
  static Response Redirect(const std::string& location);
};

using Handler = std::function<Response(Request&)>;

// One page: its method and exact path. A page is one entry in the table.
struct Route {
  std::string method;  // GET or POST
  std::string path;    // exact; no page is found by a file's name
  Handler handler;
  // Served without a login (the login page, the style sheet, the script).
  bool open = false;
};

class RouteTable {
 public:
  void Add(Route route) { routes_.push_back(std::move(route)); }
  // The route for `method` and `path`; null when there is none, with
  // *pathKnown saying whether the path has a route for another method.
  const Route* Find(const std::string& method, const std::string& path, bool* pathKnown) const;

 private:
  std::vector<Route> routes_;
};

// Parses an application/x-www-form-urlencoded text into *fields (the first
// of repeated names wins). False on a malformed escape or past kMaxFields.
bool ParseForm(const std::string& text, std::map<std::string, std::string>* fields);
// Decodes %XX and + in one part of a form; false on a malformed escape.
bool DecodeFormPart(const std::string& part, std::string* out);
// A path with `name=value` arguments, escaped for a URL.
std::string WithQuery(const std::string& path, const std::vector<std::pair<std::string, std::string>>& args);
// The reason phrase of a status.
const char* StatusTitle(int status);

}  // namespace annc::web

#endif  // ANNC_WEB_HTTP_H_
