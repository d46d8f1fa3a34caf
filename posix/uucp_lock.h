// The UUCP lock file that dialers, gettys and modem programs honour:
// <dir>/LCK..<device name>, holding the owner's process id as "%10d\n".
#ifndef ANNC_POSIX_UUCP_LOCK_H_
#define ANNC_POSIX_UUCP_LOCK_H_

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace annc {

// "LCK.." and the file name of the device's resolved path, so that
// /dev/serial/by-id/... locks LCK..ttyACM0 as programs using /dev/ttyACM0
// expect.
std::string UucpLockName(std::string_view resolvedDevicePath);

// The process id a lock file holds: decimal digits with blanks around them.
std::optional<pid_t> LockFilePid(std::string_view content);

struct LockOutcome {
  enum Kind { kLocked, kInUse, kFailed };
  Kind kind = kFailed;
  pid_t owner = 0;  // kInUse: the live process holding it
  int error = 0;    // kFailed: errno
};

class UucpLock {
 public:
  UucpLock() = default;
  ~UucpLock() { Release(); }
  UucpLock(const UucpLock&) = delete;
  UucpLock& operator=(const UucpLock&) = delete;

  // Creates the lock atomically: the content is written to a temporary file
  // in the same folder, which is then linked to the lock's name. A lock
  // whose process no longer exists (kill gives ESRCH), or that holds no
  // process id, is stale and replaced.
  LockOutcome Acquire(const std::string& lockDir, const std::string& lockName);
  // Removes the lock if this process holds it. Safe to call more than once.
  void Release();

  bool held() const { return !path_.empty(); }

 private:
  std::string path_;  // empty while not held
};

}  // namespace annc

#endif  // ANNC_POSIX_UUCP_LOCK_H_
