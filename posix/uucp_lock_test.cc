#include "posix/uucp_lock.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/test_support.h"

namespace annc {
namespace {

using testing::ReadWholeFile;
using testing::ScopedTempPath;
using testing::WriteWholeFile;

// A folder of its own for each test, removed with whatever is left in it.
class LockDir {
 public:
  LockDir() : path_("uucp_lock") { ::mkdir(path_.str().c_str(), 0755); }
  ~LockDir() {
    for (const std::string& name : Names()) ::unlink((path_.str() + "/" + name).c_str());
    ::rmdir(path_.str().c_str());
  }
  std::string str() const { return path_.str(); }
  std::string operator/(const std::string& name) const { return path_.str() + "/" + name; }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(path_.str().c_str())) {
      while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
      }
      ::closedir(d);
    }
    return names;
  }

 private:
  ScopedTempPath path_;
};

std::string Content(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

// The id of a process that has ended and been reaped.
pid_t DeadPid() {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

TEST(UucpLockTest, NamesAndContents) {
  EXPECT_EQ(UucpLockName("/dev/ttyACM0"), "LCK..ttyACM0");
  EXPECT_EQ(UucpLockName("/dev/pts/7"), "LCK..7");
  struct Case {
    std::string content;
    std::optional<pid_t> pid;
  };
  const Case cases[] = {
      {"      1234\n", 1234}, {"1234", 1234},  {" 42 \n", 42},      {"", std::nullopt},
      {"\n", std::nullopt},   {"abc\n", std::nullopt}, {"0\n", std::nullopt}, {"-5\n", std::nullopt},
      {"$10\n", std::nullopt}, {"12345678901\n", std::nullopt}, {std::string("\xd2\x04\0\0", 4), std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(LockFilePid(c.content), c.pid) << c.content;
}

TEST(UucpLockTest, FreshLockHoldsThePidAndGoesOnRelease) {
  LockDir dir;
  {
    UucpLock lock;
    LockOutcome got = lock.Acquire(dir.str(), "LCK..ttyACM0");
    ASSERT_EQ(got.kind, LockOutcome::kLocked) << got.error;
    EXPECT_TRUE(lock.held());
    EXPECT_EQ(ReadWholeFile(dir / "LCK..ttyACM0"), Content(::getpid()));
    struct stat st;
    ASSERT_EQ(::stat((dir / "LCK..ttyACM0").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"LCK..ttyACM0"});  // no temporary file left
    lock.Release();
    EXPECT_FALSE(lock.held());
    EXPECT_TRUE(dir.Names().empty());
    lock.Release();  // twice is harmless
    ASSERT_EQ(lock.Acquire(dir.str(), "LCK..ttyACM0").kind, LockOutcome::kLocked);
  }
  EXPECT_TRUE(dir.Names().empty());  // the destructor releases it too
}

TEST(UucpLockTest, LiveOwnerKeepsItsLock) {
  LockDir dir;
  pid_t parent = ::getppid();
  WriteWholeFile(dir / "LCK..ttyS0", Content(parent));
  UucpLock lock;
  LockOutcome got = lock.Acquire(dir.str(), "LCK..ttyS0");
  EXPECT_EQ(got.kind, LockOutcome::kInUse);
  EXPECT_EQ(got.owner, parent);
  EXPECT_FALSE(lock.held());
  EXPECT_EQ(ReadWholeFile(dir / "LCK..ttyS0"), Content(parent));
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"LCK..ttyS0"});
}

TEST(UucpLockTest, StaleLocksAreReplaced) {
  // A lock holding this process's own id is its own (left by an earlier
  // opening of the same port): taken as well.
  const std::string stale[] = {Content(DeadPid()), "garbage\n", "", Content(::getpid())};
  for (const std::string& content : stale) {
    LockDir dir;
    WriteWholeFile(dir / "LCK..ttyS0", content);
    UucpLock lock;
    ASSERT_EQ(lock.Acquire(dir.str(), "LCK..ttyS0").kind, LockOutcome::kLocked) << content;
    EXPECT_EQ(ReadWholeFile(dir / "LCK..ttyS0"), Content(::getpid()));
  }
}

TEST(UucpLockTest, ReleaseLeavesAnotherOwnersLockAlone) {
  LockDir dir;
  UucpLock lock;
  ASSERT_EQ(lock.Acquire(dir.str(), "LCK..ttyS0").kind, LockOutcome::kLocked);
  // Someone broke the lock and took it.
  WriteWholeFile(dir / "LCK..ttyS0", Content(::getppid()));
  lock.Release();
  EXPECT_EQ(ReadWholeFile(dir / "LCK..ttyS0"), Content(::getppid()));
}

TEST(UucpLockTest, MissingFolder) {
  UucpLock lock;
  LockOutcome got = lock.Acquire("/nonexistent-annc-lock-dir", "LCK..ttyS0");
  EXPECT_EQ(got.kind, LockOutcome::kFailed);
  EXPECT_EQ(got.error, ENOENT);
}

}  // namespace
}  // namespace annc
