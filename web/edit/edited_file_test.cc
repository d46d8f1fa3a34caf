#include "web/edit/edited_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "web/edit/edit_test_support.h"

namespace annc {
namespace {

using testing::TempFolder;

// An edit that puts `bytes` in place of the file's.
FileEdit Put(std::string bytes) {
  return [bytes](const FileSnapshot&, std::string* out) {
    *out = bytes;
    return EditOutcome{true, "done"};
  };
}

struct stat StatusOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status;
}

TEST(FileVersionTest, IsTheSha256OfTheBytes) {
  EXPECT_EQ(FileVersion(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(FileVersion("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(ReadSnapshotTest, WhatIsReadAndWhatIsRefused) {
  TempFolder folder;
  folder.Write("list", "^1800\n");
  ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("nowhere", (folder / "dangling").c_str()), 0);
  ASSERT_EQ(::symlink("list", (folder / "link").c_str()), 0);
  struct Case {
    std::string name;
    bool exists;
    std::string version;
    std::string error;  // a part of it
  };
  const Case cases[] = {
      {"list", true, FileVersion("^1800\n"), ""},
      {"link", true, FileVersion("^1800\n"), ""},
      {"missing", false, "none", ""},
      {"fifo", false, "none", "not a regular file"},
      {"dangling", false, "none", "symbolic link to a missing file"},
      {"", false, "none", "not a regular file"},  // the folder itself
  };
  for (const Case& c : cases) {
    FileSnapshot file = ReadSnapshot(folder / c.name, 100);
    EXPECT_EQ(file.exists, c.exists) << c.name;
    EXPECT_EQ(file.version, c.version) << c.name;
    if (c.error.empty()) {
      EXPECT_EQ(file.error, "") << c.name;
    } else {
      EXPECT_NE(file.error.find(c.error), std::string::npos) << c.name << ": " << file.error;
    }
  }
  EXPECT_EQ(ReadSnapshot(folder / "link", 100).target, folder / "list");
  EXPECT_NE(ReadSnapshot(folder / "list", 5).error.find("larger than 5 bytes"), std::string::npos);
  EXPECT_EQ(ReadSnapshot(folder / "list", 6).error, "");
}

TEST(EditFileTest, ReplacesTheFileKeepingItsModeAndLeavingNothingBehind) {
  TempFolder folder;
  folder.Write("calls.block", "old\n");
  ASSERT_EQ(::chmod((folder / "calls.block").c_str(), 0640), 0);
  EditOutcome outcome = EditFile(folder / "calls.block", folder.Version("calls.block"), 100, Put("new\n"));
  EXPECT_TRUE(outcome.ok) << outcome.message;
  EXPECT_EQ(folder.Read("calls.block"), "new\n");
  EXPECT_EQ(StatusOf(folder / "calls.block").st_mode & 07777, 0640u);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"calls.block"});
}

TEST(EditFileTest, KeepsTheOwnerAndGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to someone else";
  TempFolder folder;
  folder.Write("aon.db", "1=a\n");
  ASSERT_EQ(::chown((folder / "aon.db").c_str(), 4321, 8765), 0);
  EditOutcome outcome = EditFile(folder / "aon.db", folder.Version("aon.db"), 100, Put("1=b\n"));
  EXPECT_TRUE(outcome.ok) << outcome.message;
  struct stat status = StatusOf(folder / "aon.db");
  EXPECT_EQ(status.st_uid, 4321u);
  EXPECT_EQ(status.st_gid, 8765u);
  EXPECT_EQ(folder.Read("aon.db"), "1=b\n");
}

TEST(EditFileTest, CreatesAMissingFileWithMode0644) {
  TempFolder folder;
  mode_t old = ::umask(077);
  EditOutcome outcome = EditFile(folder / "calls.allow", "none", 100, Put("^1\n"));
  ::umask(old);
  EXPECT_TRUE(outcome.ok) << outcome.message;
  EXPECT_EQ(folder.Read("calls.allow"), "^1\n");
  EXPECT_EQ(StatusOf(folder / "calls.allow").st_mode & 07777, 0644u);
}

TEST(EditFileTest, RefusesAFileThatChangedSinceItWasShown) {
  TempFolder folder;
  folder.Write("calls.block", "one\n");
  std::string shown = folder.Version("calls.block");
  folder.Write("calls.block", "two\n");
  for (std::string version : {shown, std::string(""), std::string("none"), FileVersion("one\n").substr(1)}) {
    EditOutcome outcome = EditFile(folder / "calls.block", version, 100, Put("three\n"));
    EXPECT_FALSE(outcome.ok) << version;
    EXPECT_NE(outcome.message.find("changed since the page was shown"), std::string::npos) << outcome.message;
    EXPECT_EQ(folder.Read("calls.block"), "two\n");
  }
  // A file that appeared since a page showed it missing is no less changed.
  EXPECT_FALSE(EditFile(folder / "calls.block", "none", 100, Put("x\n")).ok);
}

TEST(EditFileTest, ARefusedEditWritesNothing) {
  TempFolder folder;
  folder.Write("calls.block", "one\n");
  struct stat before = StatusOf(folder / "calls.block");
  EditOutcome outcome = EditFile(folder / "calls.block", folder.Version("calls.block"), 100,
                                 [](const FileSnapshot&, std::string* bytes) {
                                   *bytes = "changed anyway\n";
                                   return EditOutcome{false, "no"};
                                 });
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.message, "no");
  EXPECT_EQ(folder.Read("calls.block"), "one\n");
  EXPECT_EQ(StatusOf(folder / "calls.block").st_ino, before.st_ino);
}

TEST(EditFileTest, WritesThroughASymbolicLink) {
  TempFolder folder;
  std::filesystem::create_directory(folder / "etc");
  folder.Write("etc/aon.db", "1=a\n");
  ASSERT_EQ(::symlink((folder / "etc/aon.db").c_str(), (folder / "aon.db").c_str()), 0);
  EditOutcome outcome = EditFile(folder / "aon.db", folder.Version("aon.db"), 100, Put("1=b\n"));
  EXPECT_TRUE(outcome.ok) << outcome.message;
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "aon.db"));
  EXPECT_EQ(folder.Read("etc/aon.db"), "1=b\n");
  // The new file was made beside the target, and nothing is left there.
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"aon.db", "etc"}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "etc"), {}), 1);
}

TEST(EditFileTest, RefusesALinkToAMissingFile) {
  TempFolder folder;
  ASSERT_EQ(::symlink((folder / "gone").c_str(), (folder / "aon.db").c_str()), 0);
  EditOutcome outcome = EditFile(folder / "aon.db", "none", 100, Put("1=b\n"));
  EXPECT_FALSE(outcome.ok);
  EXPECT_NE(outcome.message.find("symbolic link to a missing file"), std::string::npos) << outcome.message;
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"aon.db"});
}

TEST(ReplaceFileTest, LeavesNoTemporaryFileWhenItFails) {
  TempFolder folder;
  // The rename cannot put a file over a folder that holds something: the
  // last step fails after the new file was written.
  std::filesystem::create_directories(folder / "calls.block/inside");
  FileSnapshot old;
  old.path = old.target = folder / "calls.block";
  std::string why = ReplaceFile(old, "^1\n");
  EXPECT_NE(why.find("cannot put the new file in place"), std::string::npos) << why;
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"calls.block"});

  // A folder that does not exist.
  old.path = old.target = folder / "nowhere/calls.block";
  EXPECT_NE(ReplaceFile(old, "^1\n"), "");
  EXPECT_EQ(EditFile(folder / "nowhere/calls.block", "none", 100, Put("^1\n")).ok, false);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"calls.block"});
}

TEST(ReplaceFileTest, LeavesNoTemporaryFileInAFolderItMayNotWrite) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes a read-only folder anyway";
  TempFolder folder;
  folder.Write("calls.block", "one\n");
  ASSERT_EQ(::chmod(folder.path().c_str(), 0500), 0);
  EditOutcome outcome = EditFile(folder / "calls.block", folder.Version("calls.block"), 100, Put("two\n"));
  ::chmod(folder.path().c_str(), 0700);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(folder.Read("calls.block"), "one\n");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"calls.block"});
}

}  // namespace
}  // namespace annc
