#include "posix/child_process.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace annc {
namespace {

// Closes every descriptor from `from` to `to` (inclusive). Runs in the child
// between fork and exec: system calls only.
void CloseRange(int from, int to) {
  if (from > to) return;
  if (::syscall(SYS_close_range, static_cast<unsigned>(from), static_cast<unsigned>(to), 0) == 0) return;
  long max = ::sysconf(_SC_OPEN_MAX);
  int last = std::min(to, max > 0 && max < 65536 ? static_cast<int>(max) - 1 : 65535);
  for (int fd = from; fd <= last; ++fd) ::close(fd);
}

[[noreturn]] void RunChild(char* const* args, int keepFd, int reportFd, pid_t parent, bool errorsToOutput) {
  // The child does not outlive this process: SIGTERM when it dies (annc
  // then gives the terminal back), and an end at once when it died before
  // this could be asked for.
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != parent) ::_exit(0);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::signal(SIGPIPE, SIG_DFL);
  if (errorsToOutput) ::dup2(STDOUT_FILENO, STDERR_FILENO);
  // Everything but the standard three, `keepFd` and the report pipe goes;
  // the report pipe closes itself at exec.
  int a = std::min(keepFd, reportFd);
  int b = std::max(keepFd, reportFd);
  CloseRange(3, a - 1);
  CloseRange(a + 1, b - 1);
  CloseRange(b + 1, 0x7fffffff);
  int flags = ::fcntl(keepFd, F_GETFD);
  if (flags >= 0) ::fcntl(keepFd, F_SETFD, flags & ~FD_CLOEXEC);
  ::execv(args[0], args);
  int error = errno;
  (void)!::write(reportFd, &error, sizeof error);
  ::_exit(127);
}

void FillEnd(int status, ChildEnd* end) {
  end->exited = WIFEXITED(status);
  end->code = end->exited ? WEXITSTATUS(status) : 0;
  end->signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

}  // namespace

int SpawnWithDescriptor(const std::vector<std::string>& argv, int keepFd, pid_t* pid, bool errorsToOutput) {
  if (argv.empty() || keepFd < 3) return EINVAL;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return errno;
  pid_t parent = ::getpid();
  pid_t child = ::fork();
  if (child < 0) {
    int error = errno;
    ::close(report[0]);
    ::close(report[1]);
    return error;
  }
  if (child == 0) RunChild(args.data(), keepFd, report[1], parent, errorsToOutput);
  ::close(report[1]);
  int error = 0;
  ssize_t n;
  while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  if (n == static_cast<ssize_t>(sizeof error)) {
    // exec failed: the child has ended already.
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return error != 0 ? error : ENOEXEC;
  }
  *pid = child;
  return 0;
}

bool ReapChild(pid_t pid, ChildEnd* end) {
  int status = 0;
  pid_t r;
  while ((r = ::waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (r != pid) return false;
  FillEnd(status, end);
  return true;
}

}  // namespace annc
