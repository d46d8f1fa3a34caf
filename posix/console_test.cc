// --console on real terminals: what annc-line opens in place of its own
// standard input and output, and an announcer's beep reaching it. Each case
// runs in a child, since it replaces that process's standard streams.
#include "posix/console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "platform/test_support.h"
#include "posix/child_process.h"
#include "posix/posix_line_system.h"
#include "posix/pseudo_terminal.h"

namespace annc {
namespace {

// Runs `body` in a child with standard error on a pipe; its exit code.
template <typename Body>
int InChild(Body body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// What arrives at the pseudo-terminal's master within `ms`.
std::string Shown(int master, int ms) {
  std::string got;
  pollfd p{master, POLLIN, 0};
  while (::poll(&p, 1, ms) > 0) {
    char buffer[256];
    ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

TEST(ConsoleTest, WhatCanBeTheConsole) {
  PseudoTerminal pty;
  ASSERT_EQ(OpenPseudoTerminal(&pty), 0);
  std::string slave = ::ptsname(pty.master);
  struct Case {
    const char* name;
    std::string path;
    int error;
  };
  const Case cases[] = {
      {"a terminal", slave, 0},
      {"no terminal", "/dev/null", ENOTTY},
      {"not there", "/nonexistent/tty9", ENOENT},
  };
  for (const Case& c : cases) {
    int code = InChild([&c] {
      // A session leader with no terminal, as a service starts: the first
      // terminal it opens would become its controlling terminal.
      ::setsid();
      struct stat before {};
      ::fstat(STDIN_FILENO, &before);
      int error = TakeConsole(c.path);
      if (error != c.error) return 1;
      struct stat after {};
      ::fstat(STDIN_FILENO, &after);
      bool replaced = before.st_ino != after.st_ino || before.st_dev != after.st_dev;
      if (error != 0) return replaced ? 2 : 0;  // left as it was
      if (::isatty(STDIN_FILENO) != 1 || ::isatty(STDOUT_FILENO) != 1) return 3;
      // Not taken as the controlling terminal: it is no session's, and
      // annc-line may still put it back and flush it.
      if (::tcgetsid(STDIN_FILENO) >= 0) return 4;
      if (!ConsoleInFront()) return 5;
      return ::write(STDOUT_FILENO, "on the console", 14) == 14 ? 0 : 6;
    });
    EXPECT_EQ(code, 0) << c.name;
  }
  EXPECT_NE(Shown(pty.master, 200).find("on the console"), std::string::npos);
  ClosePseudoTerminal(&pty);
}

TEST(ConsoleTest, AnAnnouncersBeepReachesTheConsoleOnlyWhenAsked) {
  testing::ScopedTempPath script("beeper.sh");
  {
    std::ofstream out(script.str());
    out << "#!/bin/sh\nprintf '\\a' >&2\n";
  }
  ::chmod(script.str().c_str(), 0755);
  for (bool toConsole : {true, false}) {
    PseudoTerminal pty;
    ASSERT_EQ(OpenPseudoTerminal(&pty), 0);
    std::string slave = ::ptsname(pty.master);
    int errors[2];
    ASSERT_EQ(::pipe2(errors, O_CLOEXEC), 0);
    int code = InChild([&] {
      ::dup2(errors[1], STDERR_FILENO);
      if (TakeConsole(slave) != 0) return 1;
      PtyAnnouncers announcers;
      announcers.errorsToConsole = toConsole;
      if (announcers.Start(script.str(), "5551234", {}) != 0) return 2;
      ChildEnd end;
      for (int i = 0; i < 500 && !announcers.Reap(&end); ++i) ::usleep(10000);
      return end.exited && end.code == 0 ? 0 : 3;
    });
    ::close(errors[1]);
    EXPECT_EQ(code, 0) << toConsole;
    std::string onConsole = Shown(pty.master, 200);
    std::string onErrors = Shown(errors[0], 0);
    EXPECT_EQ(onConsole.find('\a') != std::string::npos, toConsole) << toConsole;
    EXPECT_EQ(onErrors.find('\a') != std::string::npos, !toConsole) << toConsole;
    ::close(errors[0]);
    ClosePseudoTerminal(&pty);
  }
}

}  // namespace
}  // namespace annc
