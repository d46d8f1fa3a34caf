#include "posix/systemd_notify.h"

#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "platform/test_support.h"

namespace annc {
namespace {

using testing::ScopedTempPath;

// A datagram socket of the test's own, named by NOTIFY_SOCKET while it is
// open, standing in for systemd's.
class NotifySocket {
 public:
  NotifySocket() : path_("notify") {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.str().c_str(), sizeof address.sun_path - 1);
    bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::setenv("NOTIFY_SOCKET", path_.str().c_str(), 1);
  }
  ~NotifySocket() {
    ::unsetenv("NOTIFY_SOCKET");
    if (fd_ >= 0) ::close(fd_);
  }
  bool bound() const { return bound_; }

  // The next message, or nothing when none comes within `ms`.
  std::optional<std::string> Receive(int ms = 2000) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, ms) != 1) return std::nullopt;
    char buffer[4096];
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(n));
  }

 private:
  ScopedTempPath path_;
  int fd_ = -1;
  bool bound_ = false;
};

TEST(SystemdNotifyTest, MessagesArriveAsSystemdReadsThem) {
  struct Case {
    const char* what;
    std::function<void()> send;
    std::string expected;
  };
  const Case cases[] = {
      {"ready with the modem's set-up", [] { NotifyReady("modem ready, caller ID by AT+VCID=1"); },
       "READY=1\nSTATUS=modem ready, caller ID by AT+VCID=1"},
      {"status while the modem is away", [] { NotifyStatus("waiting for the modem"); },
       "STATUS=waiting for the modem"},
      {"status of a server", [] { NotifyStatus("connected to 192.168.1.10:3333"); },
       "STATUS=connected to 192.168.1.10:3333"},
      // Text from outside (a host name, a modem's answer) cannot add a field
      // of its own, such as a second READY=1 or a MAINPID.
      {"line breaks stay inside the status", [] { NotifyStatus("odd\nMAINPID=1\r\nREADY=1"); },
       "STATUS=odd MAINPID=1  READY=1"},
      {"empty status", [] { NotifyStatus(""); }, "STATUS="},
      {"stopping", [] { NotifyStopping(); }, "STOPPING=1"},
  };
  NotifySocket socket;
  ASSERT_TRUE(socket.bound());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.send();
    EXPECT_EQ(socket.Receive(), std::optional<std::string>(c.expected));
  }
}

TEST(SystemdNotifyTest, AnAbstractSocketNamedWithAnAt) {
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  std::string name = "@annc-notify-test-" + std::to_string(::getpid());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data() + 1, name.size() - 1);
  socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
  ::setenv("NOTIFY_SOCKET", name.c_str(), 1);
  NotifyStopping();
  ::unsetenv("NOTIFY_SOCKET");
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  char buffer[64];
  ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
  ::close(fd);
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n > 0 ? n : 0)), "STOPPING=1");
}

TEST(SystemdNotifyTest, NothingIsSentOutsideSystemd) {
  NotifySocket socket;
  ASSERT_TRUE(socket.bound());
  ::unsetenv("NOTIFY_SOCKET");
  NotifyReady("modem ready");
  NotifyStatus("waiting for the modem");
  EXPECT_EQ(socket.Receive(200), std::nullopt);
}

}  // namespace
}  // namespace annc
