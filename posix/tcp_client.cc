#include "posix/tcp_client.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/errors.h"

namespace annc {
namespace {

// Keep-alive: the first probe after a minute of silence, then every 10 s;
// three unanswered probes end the connection.
constexpr int kKeepIdleSeconds = 60;
constexpr int kKeepIntervalSeconds = 10;
constexpr int kKeepCount = 3;

// Returns 0, or the errno of the option that was refused with its name in
// *failed.
int KeepAlive(int fd, std::string* failed) {
  const int on = 1;
  const struct {
    int level;
    int option;
    const int* value;
    const char* what;
  } options[] = {
      {SOL_SOCKET, SO_KEEPALIVE, &on, "set SO_KEEPALIVE"},
      {IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleSeconds, "set TCP_KEEPIDLE"},
      {IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalSeconds, "set TCP_KEEPINTVL"},
      {IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, "set TCP_KEEPCNT"},
  };
  for (const auto& o : options) {
    if (::setsockopt(fd, o.level, o.option, o.value, sizeof *o.value) != 0) {
      *failed = o.what;
      return errno;
    }
  }
  return 0;
}

}  // namespace

int ResolveTcp(const std::string& host, int port, std::vector<TcpAddress>* addresses, std::string* error) {
  addresses->clear();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  // No AI_ADDRCONFIG: it drops loopback addresses on a machine without
  // another address of their family. An address of a family the machine
  // cannot reach fails at once, and the next one is tried.
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  int code = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (code != 0) {
    *error = code == EAI_SYSTEM ? SystemErrorText(errno) : ::gai_strerror(code);
    return code;
  }
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
    TcpAddress address;
    std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
    address.length = a->ai_addrlen;
    address.family = a->ai_family;
    addresses->push_back(address);
  }
  ::freeaddrinfo(found);
  if (addresses->empty()) {
    *error = ::gai_strerror(EAI_NONAME);
    return EAI_NONAME;
  }
  return 0;
}

int StartTcpConnect(const TcpAddress& address, int* fd, bool* done, std::string* failed) {
  *fd = -1;
  *done = false;
  std::string step = "connect";
  if (failed == nullptr) failed = &step;
  *failed = "connect";
  int s = ::socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s < 0) return errno;
  if (int error = KeepAlive(s, failed); error != 0) {
    ::close(s);
    return error;
  }
  if (::connect(s, reinterpret_cast<const sockaddr*>(&address.storage), address.length) == 0) {
    *done = true;
  } else if (errno != EINPROGRESS) {
    int error = errno;
    ::close(s);
    return error;
  }
  *fd = s;
  return 0;
}

int FinishTcpConnect(int fd) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

}  // namespace annc
