// Connecting to a TCP server by name or address (IPv4 or IPv6) without
// blocking, so that a program waiting in poll goes on with its other work
// while the connection is made.
#ifndef ANNC_POSIX_TCP_CLIENT_H_
#define ANNC_POSIX_TCP_CLIENT_H_

#include <sys/socket.h>

#include <string>
#include <vector>

namespace annc {

// One address a name stands for.
struct TcpAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family = 0;
};

// The addresses of `host` (a name, or an IPv4 or IPv6 address) at `port`,
// in the order the resolver prefers. Returns 0, or the resolver's error
// code with its text in *error. Looking a name up blocks for as long as the
// resolver takes (a numeric address does not).
int ResolveTcp(const std::string& host, int port, std::vector<TcpAddress>* addresses, std::string* error);

// Starts connecting to `address` on a new non-blocking, close-on-exec socket
// with keep-alive probes on (a server that vanished without closing is
// noticed within a few minutes). Returns 0 with *fd set, *done telling
// whether the connection is already made; otherwise it is in progress:
// poll *fd for writing, then call FinishTcpConnect. Any other outcome is an
// errno value, and nothing is left open; *failed (when given) then says
// what failed: "connect", or the socket option refused, as in
// "set TCP_KEEPIDLE", ready for CannotText (platform/errors.h).
int StartTcpConnect(const TcpAddress& address, int* fd, bool* done, std::string* failed = nullptr);

// Once poll says a connecting socket is writable (or reports an error):
// 0 when the connection is made, otherwise the errno value of its failure.
int FinishTcpConnect(int fd);

}  // namespace annc

#endif  // ANNC_POSIX_TCP_CLIENT_H_
