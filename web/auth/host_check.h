// Which Host headers and Origins annc-web answers: a page reached under
// another name (DNS rebinding) is refused, reads included.
#ifndef ANNC_WEB_AUTH_HOST_CHECK_H_
#define ANNC_WEB_AUTH_HOST_CHECK_H_

#include <string>
#include <vector>

namespace annc::web {

class HostCheck {
 public:
  // `listenHost` as --listen gave it (IPv6 without brackets), the port
  // listened on, and the names of --host-name.
  HostCheck(const std::string& listenHost, int port, const std::vector<std::string>& names);

  // Whether a request with this Host header is answered: the name is the
  // listening address, a loopback name or one of the names given, and a
  // port, when the header has one, is the one listened on.
  bool Allowed(const std::string& host) const;
  // Whether a POST with this Origin header comes from the page itself:
  // http:// and the request's own (allowed) Host.
  bool SameOrigin(const std::string& origin, const std::string& host) const;

 private:
  std::vector<std::string> names_;
  std::string port_;
};

}  // namespace annc::web

#endif  // ANNC_WEB_AUTH_HOST_CHECK_H_
