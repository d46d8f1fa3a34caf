#include "line/names/name_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "platform/test_support.h"
#include "posix/posix_line_system.h"

namespace annc {
namespace {

// A folder of its own for each test, removed with everything in it.
class CacheFolder {
 public:
  CacheFolder() : path_("name_cache") { std::filesystem::create_directories(path_.str()); }
  ~CacheFolder() { std::filesystem::remove_all(path_.str()); }
  std::string str() const { return path_.str(); }
  std::string operator/(const std::string& name) const { return path_.str() + "/" + name; }
  std::size_t Count() const {
    std::size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(path_.str())) n += e.is_regular_file() ? 1 : 0;
    return n;
  }

 private:
  testing::ScopedTempPath path_;
};

// A recording whose last change was `age` seconds ago.
void Make(const std::string& path, int age, std::string_view bytes = "RIFF") {
  testing::WriteWholeFile(path, bytes);
  timespec times[2];
  times[0].tv_sec = times[1].tv_sec = std::time(nullptr) - age;
  times[0].tv_nsec = times[1].tv_nsec = 0;
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::string Digest(int i) {
  std::string d = std::to_string(i);
  return std::string(32 - d.size(), '0') + d;
}

TEST(NameCacheTest, DefaultFolder) {
  struct Case {
    std::map<std::string, std::string> env;
    const char* folder;
  };
  const Case cases[] = {
      {{{"CACHE_DIRECTORY", "/var/cache/annc"}, {"HOME", "/tmp"}}, "/var/cache/annc/names"},
      {{{"CACHE_DIRECTORY", "/var/cache/annc:/var/cache/other"}}, "/var/cache/annc/names"},
      {{{"XDG_CACHE_HOME", "/tmp/xdg"}, {"HOME", "/tmp"}}, "/tmp/xdg/annc/names"},
      {{{"XDG_CACHE_HOME", "relative"}, {"HOME", "/tmp"}}, "/tmp/.cache/annc/names"},
      {{{"HOME", "/tmp"}}, "/tmp/.cache/annc/names"},
      // A service user without a home of its own.
      {{{"HOME", "/nonexistent"}}, "/var/cache/annc/names"},
      {{{"HOME", "/"}}, "/var/cache/annc/names"},
      {{}, "/var/cache/annc/names"},
  };
  for (const Case& c : cases) {
    auto env = [&c](const char* name) {
      auto it = c.env.find(name);
      return it == c.env.end() ? std::string() : it->second;
    };
    SystemFiles files;
    EXPECT_EQ(DefaultNameCacheFolder(env, files), c.folder);
  }
}

TEST(NameCacheTest, FileNamesAreDigestsOfVoiceAndText) {
  std::string a = CachedNamePath("/c", "en", "Ann Lee");
  EXPECT_EQ(a, CachedNamePath("/c/", "en", "Ann Lee"));
  EXPECT_NE(a, CachedNamePath("/c", "de", "Ann Lee"));
  EXPECT_NE(a, CachedNamePath("/c", "en", "Ann Le"));
  // The voice and the text cannot trade letters.
  EXPECT_NE(CachedNamePath("/c", "en", "xAnn"), CachedNamePath("/c", "enx", "Ann"));
  for (const char* text : {"Ann Lee", "../../etc/passwd", "a/b", ""}) {
    std::string path = CachedNamePath("/c", "en", text);
    ASSERT_EQ(path.rfind("/c/", 0), 0u);
    EXPECT_TRUE(IsCachedNameFile(path.substr(3))) << path;
  }
  EXPECT_TRUE(IsCachedNameTempFile(Digest(1) + ".wav.tmp123"));
  EXPECT_FALSE(IsCachedNameTempFile(Digest(1) + ".wav.tmp"));
  EXPECT_FALSE(IsCachedNameFile("names.wav"));
  EXPECT_FALSE(IsCachedNameFile(std::string(32, 'G') + ".wav"));
}

TEST(NameCacheTest, AHitIsAWholeFileAndIsMarkedUsed) {
  SystemFiles files;
  CacheFolder cache;
  std::string path = cache / (Digest(1) + ".wav");
  EXPECT_FALSE(UseCachedName(files, path));  // not there
  Make(path, 0, "");
  EXPECT_FALSE(UseCachedName(files, path));  // empty
  Make(path, 5000);
  EXPECT_TRUE(UseCachedName(files, path));
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_GT(st.st_mtime, std::time(nullptr) - 100);
  ::mkdir((cache / "dir.wav").c_str(), 0700);
  EXPECT_FALSE(UseCachedName(files, cache / "dir.wav"));
}

TEST(NameCacheTest, TheOldestGoPastTheBound) {
  SystemFiles files;
  struct Case {
    int files;
    std::size_t keep;
  };
  const Case cases[] = {{5, 3}, {3, 3}, {1005, kNameCacheFiles}};
  for (const Case& c : cases) {
    CacheFolder cache;
    // File i is i seconds old: the highest numbers are the oldest.
    for (int i = 0; i < c.files; ++i) Make(cache / (Digest(i) + ".wav"), 10 + i);
    Make(cache / "aon.db", 99999);  // not the cache's: never touched
    Make(cache / (Digest(7) + ".wav.tmp42"), 5000);  // left by a killed synthesis
    Make(cache / (Digest(8) + ".wav.tmp43"), 1);     // one being written now
    PruneNameCache(files, cache.str(), c.keep);
    for (int i = 0; i < c.files; ++i) {
      EXPECT_EQ(Exists(cache / (Digest(i) + ".wav")), static_cast<std::size_t>(i) < c.keep) << i;
    }
    EXPECT_TRUE(Exists(cache / "aon.db"));
    EXPECT_FALSE(Exists(cache / (Digest(7) + ".wav.tmp42")));
    EXPECT_TRUE(Exists(cache / (Digest(8) + ".wav.tmp43")));
  }
  PruneNameCache(files, "/nonexistent/names");  // nothing to do, no harm
}

TEST(NameCacheTest, FilesRemovedUnderItAreNoError) {
  SystemFiles files;
  // Two launchers prune one cache at once: each removes files the other
  // may already have removed.
  CacheFolder cache;
  for (int i = 0; i < 1500; ++i) Make(cache / (Digest(i) + ".wav"), 10 + i);
  pid_t other = ::fork();
  if (other == 0) {
    PruneNameCache(files, cache.str());
    ::_exit(0);
  }
  PruneNameCache(files, cache.str());
  int status = 0;
  ASSERT_EQ(::waitpid(other, &status, 0), other);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(cache.Count(), kNameCacheFiles);
  EXPECT_TRUE(Exists(cache / (Digest(999) + ".wav")));
  EXPECT_FALSE(Exists(cache / (Digest(1000) + ".wav")));
}

TEST(NameCacheTest, MakesTheFolderAndThoseAboveIt) {
  SystemFiles files;
  CacheFolder cache;
  std::string deep = cache / "a/b/names";
  EXPECT_EQ(MakeNameCacheFolder(files, deep), 0);
  struct stat st;
  ASSERT_EQ(::stat(deep.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(MakeNameCacheFolder(files, deep), 0);  // already there
  Make(cache / "file", 0);
  EXPECT_EQ(MakeNameCacheFolder(files, cache / "file/names"), ENOTDIR);
}

}  // namespace
}  // namespace annc
