#include "line/start_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "posix/posix_line_system.h"

namespace annc {
namespace {

namespace fs = std::filesystem;

// A folder with an announcer, its sound folder and phone book, as a good
// installation has them; each case spoils one thing.
class Installation {
 public:
  Installation() {
    char pattern[] = "/tmp/annc-start-check-XXXXXX";
    root_ = ::mkdtemp(pattern);
    Write(root_ / "annc", "#!/bin/sh\n");
    fs::permissions(root_ / "annc", fs::perms::owner_all);
    fs::create_directory(root_ / "Numvoice");
    Write(root_ / "Numvoice" / "aon.db", "5551234=Ann Lee\n");
  }
  ~Installation() { fs::remove_all(root_); }
  static void Write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }
  fs::path root() const { return root_; }

 private:
  fs::path root_;
};

TEST(StartCheckTest, WhatAnncNeeds) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> spoil;
    std::string log;  // relative to the installation; empty: annc.log beside annc
    std::string problem;  // what the line starts with; empty: none
  };
  const Case cases[] = {
      {"a good installation", [](const fs::path&) {}, "", ""},
      {"the announcer cannot be run", [](const fs::path& r) { fs::permissions(r / "annc", fs::perms::owner_read | fs::perms::owner_write); },
       "", "cannot run the announcer "},
      {"no sound folder", [](const fs::path& r) { fs::remove_all(r / "Numvoice"); }, "", "no sound folder "},
      {"the sound folder a file", [](const fs::path& r) {
         fs::remove_all(r / "Numvoice");
         Installation::Write(r / "Numvoice", "");
       }, "", "no sound folder "},
      {"no phone book", [](const fs::path& r) { fs::remove(r / "Numvoice" / "aon.db"); }, "", "cannot read the phone book "},
      {"a phone book that is a FIFO", [](const fs::path& r) {
         fs::remove(r / "Numvoice" / "aon.db");
         ::mkfifo((r / "Numvoice" / "aon.db").c_str(), 0600);
       }, "", "the phone book "},
      {"the log's folder missing", [](const fs::path&) {}, "nonexistent/calls.log", "cannot write the log "},
      {"the log a folder", [](const fs::path& r) { fs::create_directory(r / "calls.log"); }, "calls.log",
       "cannot write the log "},
  };
  for (const Case& c : cases) {
    Installation install;
    c.spoil(install.root());
    LineOptions options;
    options.annc = (install.root() / "annc").string();
    SystemFiles files;
    std::string log = c.log.empty() ? (install.root() / "annc.log").string() : (install.root() / c.log).string();
    std::optional<std::string> problem = SetupProblem(options, log, files);
    if (c.problem.empty()) {
      EXPECT_FALSE(problem) << c.name << ": " << problem.value_or("");
      continue;
    }
    ASSERT_TRUE(problem) << c.name;
    EXPECT_EQ(problem->rfind(c.problem, 0), 0u) << c.name << ": " << *problem;
    EXPECT_EQ(problem->find('\n'), std::string::npos) << c.name;
  }
}

TEST(StartCheckTest, SaysWhatToDo) {
  Installation install;
  SystemFiles files;
  LineOptions options;
  options.annc = (install.root() / "annc").string();
  fs::remove_all(install.root() / "Numvoice");
  std::string folder = (install.root() / "Numvoice").string() + "/";
  EXPECT_EQ(SetupProblem(options, "", files).value_or(""),
            "no sound folder " + folder + " (No such file or directory): make one with tools/make_voice.sh " + folder);
  fs::create_directory(install.root() / "Numvoice");
  Installation::Write(install.root() / "Numvoice" / "aon.db", "");
  EXPECT_EQ(SetupProblem(options, "/nonexistent/x.log", files).value_or(""),
            "cannot write the log /nonexistent/x.log: No such file or directory: choose another with --log FILE");
}

}  // namespace
}  // namespace annc
