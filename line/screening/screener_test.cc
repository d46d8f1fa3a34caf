#include "line/screening/screener.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "platform/test_support.h"
#include "posix/fake_line_system.h"
#include "posix/posix_line_system.h"

namespace annc {
namespace {

// Files as a map: a test writes, removes and breaks them at will, and counts
// the reads. The size limit is left to the list's own parse.
class FakeListFiles : public Files {
 public:
  struct File {
    std::string text;
    std::int64_t modified = 1;
    int statError = 0;
    int readError = 0;
  };
  std::map<std::string, File> files;
  int reads = 0;

  void Write(const std::string& path, const std::string& text) {
    File& f = files[path];
    f.text = text;
    ++f.modified;
  }

  int Stamp(const std::string& path, FileStamp* stamp) {
    auto it = files.find(path);
    if (it == files.end()) return ENOENT;
    if (it->second.statError != 0) return it->second.statError;
    *stamp = FileStamp{it->second.modified, static_cast<std::int64_t>(it->second.text.size())};
    return 0;
  }
  int Inspect(const std::string& path, FileInfo* info) override {
    info->kind = FileInfo::kRegular;
    return Stamp(path, &info->stamp);
  }
  int Read(const std::string& path, std::size_t, std::string* text, FileStamp* stamp) override {
    ++reads;
    if (int error = Stamp(path, stamp); error != 0) return error;
    if (files[path].readError != 0) return files[path].readError;
    *text = files[path].text;
    return 0;
  }
  // Nothing else is asked of the lists' files.
  int CanUse(const std::string&, Use) override { return ENOSYS; }
  int List(const std::string&, std::vector<FolderEntry>*) override { return ENOSYS; }
  int Remove(const std::string&) override { return ENOSYS; }
  int MakeFolders(const std::string&, unsigned) override { return ENOSYS; }
  void Touch(const std::string&) override {}
  std::int64_t FileTimeNow() override { return 0; }
};

std::string Kind(const Decision& d) {
  return d.kind == Decision::kAnnounce ? "announce" : d.kind == Decision::kQuiet ? "quiet" : "block";
}

ScreenedCall Call(const std::string& number) { return ScreenedCall{number, std::string("X")}; }

TEST(ScreenerTest, AListThatCannotBeReadAtStartIsAnError) {
  struct Case {
    std::vector<std::string> block, allow;
    const char* want;
  };
  const Case cases[] = {
      {{"calls.block"}, {}, ""},
      {{"missing.block"}, {}, "cannot read the block list missing.block: No such file or directory"},
      {{"calls.block"}, {"locked.allow"}, "cannot read the allow list locked.allow: Permission denied"},
      {{"huge.block"}, {}, "cannot read the block list huge.block: larger than 8 MiB"},
      {{"bad\x1b.block"}, {}, "cannot read the block list bad^[.block: No such file or directory"},
  };
  for (const Case& c : cases) {
    FakeListFiles files;
    files.Write("calls.block", "5551234\n");
    files.Write("locked.allow", "");
    files.files["locked.allow"].readError = EACCES;
    files.Write("huge.block", std::string(ScreeningList::kMaxBytes + 1, 'x'));
    Screener screener(ScreeningSettings{c.block, c.allow, {}, 3}, files);
    EXPECT_EQ(screener.Start(), c.want);
  }
}

TEST(ScreenerTest, ChangedListsAreReadAgainAndAFailureKeepsTheLastCopy) {
  FakeListFiles files;
  files.Write("calls.block", "5551234\n");
  Screener screener(ScreeningSettings{{"calls.block"}, {}, {}, 3}, files);
  ASSERT_EQ(screener.Start(), "");
  ASSERT_EQ(files.reads, 1);

  // A scenario of steps: change the files, then screen one call.
  struct Step {
    const char* what;  // "write TEXT", "remove", "stat-error", "read-error", "restore", "none"
    const char* text;
    const char* number;
    const char* want;
    std::vector<std::string> status;
    int reads;  // reads so far
  };
  const std::string kept = "cannot read the block list calls.block again (";
  const std::string stays = "); the copy read before stays in use";
  const std::string tooLarge(ScreeningList::kMaxBytes + 1, '1');  // outlives the table that points into it
  const Step steps[] = {
      {"none", "", "5551234", "block", {}, 1},  // unchanged: not read again
      {"none", "", "5559999", "announce", {}, 1},
      {"write", "5559999\n", "5559999", "block", {"read the block list calls.block again: 1 entries"}, 2},
      {"none", "", "5551234", "announce", {}, 2},
      {"remove", "", "5559999", "block", {kept + "No such file or directory" + stays}, 2},
      {"none", "", "5559999", "block", {}, 2},  // said once
      {"write", "5551234\n5550000\n", "5550000", "block", {"read the block list calls.block again: 2 entries"}, 3},
      {"read-error", "", "5550000", "block", {kept + "Input/output error" + stays}, 4},
      {"none", "", "5550000", "block", {}, 5},  // tried again, not said again
      {"write", "5557777\n", "5557777", "block", {"read the block list calls.block again: 1 entries"}, 6},
      {"write", tooLarge.c_str(), "5557777", "block",
       {kept + "larger than 8 MiB" + stays}, 7},
      {"stat-error", "", "5557777", "block", {}, 7},  // still the same failure spell
      {"write", "", "5557777", "announce", {"read the block list calls.block again: 0 entries"}, 8},
      {"stat-error", "", "5557777", "announce", {kept + "Permission denied" + stays}, 8},
      {"restore", "", "5557777", "announce", {}, 8},  // back as it was: nothing to read
      {"stat-error", "", "5557777", "announce", {kept + "Permission denied" + stays}, 8},  // a new spell
  };
  Millis now = 0;
  for (const Step& s : steps) {
    std::string what = s.what;
    if (what == "write") {
      files.Write("calls.block", s.text);
      files.files["calls.block"].readError = 0;
      files.files["calls.block"].statError = 0;
    } else if (what == "remove") {
      files.files.erase("calls.block");
    } else if (what == "read-error") {
      files.files.at("calls.block").readError = EIO;
      ++files.files.at("calls.block").modified;
    } else if (what == "stat-error") {
      files.files.at("calls.block").statError = EACCES;
    } else if (what == "restore") {
      files.files.at("calls.block").statError = 0;
    }
    std::vector<std::string> status;
    Decision d = screener.Screen(Call(s.number), now += 1000, 600, &status);
    EXPECT_EQ(Kind(d), s.want) << what << " " << s.number;
    EXPECT_EQ(status, s.status) << what << " " << s.number;
    EXPECT_EQ(files.reads, s.reads) << what << " " << s.number;
  }
}

TEST(ScreenerTest, RemembersCallsForTheRepeatWindow) {
  FakeListFiles files;
  Screener screener(ScreeningSettings{{}, {}, {*ParseQuietWindow("22:00-07:00")}, 3}, files);
  ASSERT_EQ(screener.Start(), "");
  EXPECT_TRUE(screener.Active());
  std::vector<std::string> status;
  const int night = 23 * 60;
  EXPECT_EQ(Kind(screener.Screen(Call("5551234"), 0, night, &status)), "quiet");
  EXPECT_EQ(Kind(screener.Screen(Call("5551234"), 120000, night, &status)), "announce");
  EXPECT_EQ(Kind(screener.Screen(Call("5550000"), 130000, night, &status)), "quiet");
  EXPECT_EQ(Kind(screener.Screen(Call("5551234"), 120000 + 180001, night, &status)), "quiet");
  // Withheld calls never count as the same caller again.
  EXPECT_EQ(Kind(screener.Screen(Call("P"), 400000, night, &status)), "quiet");
  EXPECT_EQ(Kind(screener.Screen(Call("P"), 401000, night, &status)), "quiet");
  EXPECT_TRUE(status.empty());

  Screener idle(ScreeningSettings{}, files);
  EXPECT_FALSE(idle.Active());
}

// The real file system: a list edited on disk is read again, a removed one
// keeps its copy, a folder or a FIFO is refused without waiting.
TEST(ScreenerTest, RealFiles) {
  testing::ScopedTempPath path("screener_test.block");
  testing::WriteWholeFile(path, "5551234 #= first\n");
  SystemFiles files;
  Screener screener(ScreeningSettings{{path.str()}, {}, {}, 3}, files);
  ASSERT_EQ(screener.Start(), "");
  std::vector<std::string> status;
  Decision d = screener.Screen(Call("5551234"), 0, 600, &status);
  EXPECT_EQ(d.label, "first");
  EXPECT_TRUE(status.empty());

  // The same size, a modification time set apart: read again.
  testing::WriteWholeFile(path, "5559999 #= other\n");
  timeval times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimes(path.str().c_str(), times), 0);
  d = screener.Screen(Call("5559999"), 1000, 600, &status);
  EXPECT_EQ(d.label, "other");
  EXPECT_EQ(status, (std::vector<std::string>{"read the block list " + path.str() + " again: 1 entries"}));

  status.clear();
  std::remove(path.str().c_str());
  d = screener.Screen(Call("5559999"), 2000, 600, &status);
  EXPECT_EQ(Kind(d), "block");
  EXPECT_EQ(status, (std::vector<std::string>{"cannot read the block list " + path.str() +
                                              " again (No such file or directory); the copy read before stays in use"}));

  ASSERT_EQ(::mkdir(path.str().c_str(), 0700), 0);
  Screener folder(ScreeningSettings{{path.str()}, {}, {}, 3}, files);
  EXPECT_EQ(folder.Start(), "cannot read the block list " + path.str() + ": Is a directory");
  ::rmdir(path.str().c_str());

  ASSERT_EQ(::mkfifo(path.str().c_str(), 0600), 0);
  Screener fifo(ScreeningSettings{{path.str()}, {}, {}, 3}, files);
  EXPECT_EQ(fifo.Start(), "cannot read the block list " + path.str() + ": Invalid argument");
}

// The lists on the fake system's files, edited and removed between calls.
TEST(ScreenerTest, ListsOnTheFakeSystem) {
  FakeLineSystem fake;
  const std::string path = "/etc/annc/calls.block";
  fake.WriteFile(path, "5551234\n");
  Screener screener(ScreeningSettings{{path}, {}, {}, 3}, fake);
  ASSERT_EQ(screener.Start(), "");
  struct Step {
    const char* what;  // "edit TEXT", "remove", "none"
    const char* text;
    const char* number;
    const char* want;
    std::vector<std::string> status;
  };
  const std::string gone = "cannot read the block list " + path +
                           " again (No such file or directory); the copy read before stays in use";
  const Step steps[] = {
      {"none", "", "5551234", "block", {}},
      {"edit", "5559999\n", "5559999", "block", {"read the block list " + path + " again: 1 entries"}},
      {"none", "", "5551234", "announce", {}},
      {"edit", "5551234\n5559999\n", "5551234", "block", {"read the block list " + path + " again: 2 entries"}},
      {"remove", "", "5559999", "block", {gone}},
      {"none", "", "5551234", "block", {}},  // said once; the last good copy stays
      {"edit", "5550000\n", "5551234", "announce", {"read the block list " + path + " again: 1 entries"}},
  };
  for (const Step& s : steps) {
    fake.now += 1000;
    std::string what = s.what;
    if (what == "edit") fake.WriteFile(path, s.text);
    if (what == "remove") fake.files.erase(path);
    std::vector<std::string> status;
    Decision d = screener.Screen(Call(s.number), fake.now, 600, &status);
    EXPECT_EQ(Kind(d), s.want) << what << " " << s.number;
    EXPECT_EQ(status, s.status) << what << " " << s.number;
  }
}

}  // namespace
}  // namespace annc
