#include "posix/systemd_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace annc {
namespace {

// One field of a notification: its value on one line, since a line break
// would end the field and let the rest pass for another assignment.
std::string Field(std::string_view name, std::string_view value) {
  std::string field(name);
  field += '=';
  for (char c : value) field += (c == '\n' || c == '\r') ? ' ' : c;
  return field;
}

// systemd's notification protocol, without libsystemd (whose chain of
// libraries would cost annc-line more memory than the rest of it): one
// datagram to the AF_UNIX socket NOTIFY_SOCKET names, a path or, with "@"
// first, an abstract name.
void Send(const std::string& message) {
  const char* name = std::getenv("NOTIFY_SOCKET");
  if (name == nullptr) return;
  std::size_t length = std::strlen(name);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (length < 2 || length >= sizeof address.sun_path || (name[0] != '/' && name[0] != '@')) return;
  std::memcpy(address.sun_path, name, length);
  if (name[0] == '@') address.sun_path[0] = '\0';
  socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + (name[0] == '/' ? 1 : 0));
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  // A lost status is no reason to stop announcing.
  (void)::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address), size);
  ::close(fd);
}

}  // namespace

void NotifyReady(std::string_view status) { Send("READY=1\n" + Field("STATUS", status)); }

void NotifyStatus(std::string_view status) { Send(Field("STATUS", status)); }

void NotifyStopping() { Send("STOPPING=1"); }

}  // namespace annc
