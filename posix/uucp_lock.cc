#include "posix/uucp_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>

#include "platform/files.h"
#include "text/parse_integer.h"
#include "text/paths.h"
#include "text/terminal_text.h"

namespace annc {
namespace {

std::string ReadSmallFile(const std::string& path) {
  std::string content;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return content;
  char buffer[64];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
  }
  if (n > 0) content.assign(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return content;
}

bool ProcessAlive(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

std::string LockContent(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

}  // namespace

std::string UucpLockName(std::string_view resolvedDevicePath) {
  return "LCK.." + BaseName(resolvedDevicePath);
}

std::optional<pid_t> LockFilePid(std::string_view content) {
  // "%10d" fills ten places; a value beyond what a pid_t holds is no pid.
  std::optional<long long> pid = ParseDecimal(TrimBlanks(content), 10);
  if (!pid || *pid <= 0 || *pid > std::numeric_limits<pid_t>::max()) return std::nullopt;
  return static_cast<pid_t>(*pid);
}

LockOutcome UucpLock::Acquire(const std::string& lockDir, const std::string& lockName) {
  Release();
  LockOutcome outcome;
  const pid_t self = ::getpid();
  const std::string lockPath = lockDir + "/" + lockName;
  const std::string tempPath = lockDir + "/LTMP." + std::to_string(self);

  (void)::unlink(tempPath.c_str());  // left by an earlier process of the same id
  int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    outcome.error = errno;
    return outcome;
  }
  (void)::fchmod(fd, 0644);  // readable by every program that checks it, whatever the umask
  int writeError = WriteAll(fd, LockContent(self));
  if (::close(fd) != 0 && writeError == 0) writeError = errno;
  if (writeError != 0) {
    (void)::unlink(tempPath.c_str());
    outcome.error = writeError;
    return outcome;
  }

  // A stale lock is removed and the link tried again; another process may
  // win that race, so only a few rounds.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (::link(tempPath.c_str(), lockPath.c_str()) == 0) {
      (void)::unlink(tempPath.c_str());
      path_ = lockPath;
      outcome.kind = LockOutcome::kLocked;
      return outcome;
    }
    if (errno != EEXIST) {
      outcome.error = errno;
      break;
    }
    std::optional<pid_t> owner = LockFilePid(ReadSmallFile(lockPath));
    if (owner && *owner != self && ProcessAlive(*owner)) {
      outcome.kind = LockOutcome::kInUse;
      outcome.owner = *owner;
      break;
    }
    if (::unlink(lockPath.c_str()) != 0 && errno != ENOENT) {
      outcome.error = errno;
      break;
    }
    outcome.error = EEXIST;
  }
  (void)::unlink(tempPath.c_str());
  return outcome;
}

void UucpLock::Release() {
  if (path_.empty()) return;
  // Only a lock that still names this process is removed.
  if (LockFilePid(ReadSmallFile(path_)) == ::getpid()) (void)::unlink(path_.c_str());
  path_.clear();
}

}  // namespace annc
