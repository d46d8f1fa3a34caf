#include "posix/console.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace annc {

int TakeConsole(const std::string& path) {
  int fd;
  while ((fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0 && errno == EINTR) {
  }
  if (fd < 0) return errno;
  int error = 0;
  if (::isatty(fd) != 1) {
    error = ENOTTY;
  } else if (::dup2(fd, STDIN_FILENO) < 0 || ::dup2(fd, STDOUT_FILENO) < 0) {
    error = errno;
  }
  if (fd > STDERR_FILENO) ::close(fd);
  return error;
}

bool ConsoleInFront() {
  pid_t group = ::tcgetpgrp(STDIN_FILENO);
  if (group >= 0) return group == ::getpgrp();
  // ENOTTY: a terminal, but not this process's controlling terminal.
  return errno == ENOTTY && ::isatty(STDIN_FILENO) == 1;
}

}  // namespace annc
