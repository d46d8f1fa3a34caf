#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/test_support.h"

namespace annc {
namespace {

// Another holder of the file's lock, as a second process would be.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT, 0600)) {
    EXPECT_EQ(::flock(fd_, LOCK_EX), 0);
  }
  ~LockHolder() { Release(); }
  void Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

TEST(LockedAppendFileTest, WaitsForAnotherHolderOnlyAsLongAsAllowed) {
  testing::ScopedTempPath path("files_test.log");
  LockHolder other(path);
  LockedAppendFile file;
  EXPECT_EQ(file.Open(path, 50), EWOULDBLOCK);
  file.Append("lost\r\n");  // closed again: nothing is written
  EXPECT_EQ(testing::ReadWholeFile(path), "");

  // A holder that lets go within the time is waited for.
  std::thread release([&other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    other.Release();
  });
  EXPECT_EQ(file.Open(path, 10000), 0);
  release.join();
  file.Append("line\r\n");
  file.Close();
  EXPECT_EQ(testing::ReadWholeFile(path), "line\r\n");
}

}  // namespace
}  // namespace annc

namespace annc {
namespace {

TEST(RealPathOrTest, LinksResolvedMissingPathsKept) {
  testing::ScopedTempPath target("realpath_target");
  testing::ScopedTempPath link("realpath_link");
  { std::ofstream(target.str()) << "x"; }
  ASSERT_EQ(::symlink(target.str().c_str(), link.str().c_str()), 0);
  const std::string real = RealPathOr(target);
  ASSERT_EQ(real.front(), '/');
  const std::string folder = testing::ScopedTempPath::TempFolder();
  const std::string name = target.str().substr(target.str().rfind('/') + 1);
  struct Case {
    std::string path;
    std::string want;
  };
  const Case cases[] = {
      {link.str(), real},                                     // a symbolic link: its target
      {folder + "/./" + name, real},                          // "." dropped
      {folder + "/../" + folder.substr(folder.rfind('/') + 1) + "/" + name, real},  // ".." followed
      {folder + "/annc_no_such_file", folder + "/annc_no_such_file"},             // missing: as given
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(RealPathOr(c.path), c.want) << c.path;
}

}  // namespace
}  // namespace annc
