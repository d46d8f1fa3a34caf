// The HTTP server: libmicrohttpd with its own polling thread, and in front of
// every page the checks that do not depend on the page (the Host header, the
// method, the body's size, the session, the login, a POST's token and
// Origin) and the headers every response has.
#ifndef ANNC_WEB_SERVER_H_
#define ANNC_WEB_SERVER_H_

#include <string>

#include "web/auth/host_check.h"
#include "web/http.h"
#include "web/pages.h"

struct MHD_Daemon;

namespace annc::web {

class WebServer {
 public:
  WebServer(const RouteTable& routes, WebContext& context, HostCheck hosts)
      : routes_(routes), context_(context), hosts_(std::move(hosts)) {}
  ~WebServer() { Stop(); }
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Listens on `host` (numeric) and `port` and serves from a thread of its
  // own. False with one line in *error naming the address and the cause.
  bool Start(const std::string& host, int port, std::string* error);
  void Stop();

  // Answers one request whose body (for a POST) has been read: for the
  // access handler, and the tests' seam to the checks.
  struct Incoming {
    std::string method, path, host, origin, contentType, cookie, clientAddress, body;
    std::map<std::string, std::string> query;
  };
  Response Answer(const Incoming& incoming);
  // Whether a request with this Host header is answered at all.
  bool HostAllowed(const std::string& host) const { return hosts_.Allowed(host); }

 private:
  const RouteTable& routes_;
  WebContext& context_;
  HostCheck hosts_;
  MHD_Daemon* daemon_ = nullptr;
};

}  // namespace annc::web

#endif  // ANNC_WEB_SERVER_H_
