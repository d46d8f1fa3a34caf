#include "posix/posix_line_system.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/test_support.h"
#include "posix/sound_device.h"

namespace annc {
namespace {

// Standard error on a pipe for the test's length.
class StderrOnPipe {
 public:
  StderrOnPipe() {
    EXPECT_EQ(::pipe2(fds_, O_CLOEXEC), 0);
    saved_ = ::dup(STDERR_FILENO);
    ::dup2(fds_[1], STDERR_FILENO);
  }
  ~StderrOnPipe() {
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  // Fills the pipe to the last byte.
  void Fill() {
    int flags = ::fcntl(fds_[1], F_GETFL);
    ::fcntl(fds_[1], F_SETFL, flags | O_NONBLOCK);
    std::string block(4096, 'x');
    while (::write(fds_[1], block.data(), block.size()) > 0) {
    }
    while (::write(fds_[1], "x", 1) == 1) {
    }
    ::fcntl(fds_[1], F_SETFL, flags);
  }
  std::string Drain() {
    int flags = ::fcntl(fds_[0], F_GETFL);
    ::fcntl(fds_[0], F_SETFL, flags | O_NONBLOCK);
    std::string all;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds_[0], buffer, sizeof buffer)) > 0) all.append(buffer, static_cast<std::size_t>(n));
    ::fcntl(fds_[0], F_SETFL, flags);
    return all;
  }

 private:
  int fds_[2] = {-1, -1};
  int saved_ = -1;
};

TEST(StandardStreamsTest, AFullPipeDropsLinesAndSaysHowMany) {
  StderrOnPipe pipe;
  StandardStreams streams;
  streams.Status("first");
  EXPECT_EQ(pipe.Drain(), "annc-line: first\n");
  pipe.Fill();
  ::alarm(10);  // a write that blocks would hang here
  for (int i = 0; i < 3; ++i) streams.Status("lost");
  ::alarm(0);
  std::string filled = pipe.Drain();
  EXPECT_EQ(filled.find("annc-line"), std::string::npos);
  streams.Status("back");
  EXPECT_EQ(pipe.Drain(), "annc-line: 3 status lines dropped while standard error was blocked\nannc-line: back\n");
  // Standard error itself is left blocking, for the announcer that shares it.
  EXPECT_EQ(::fcntl(STDERR_FILENO, F_GETFL) & O_NONBLOCK, 0);
}

// Reads the program's output until the line that begins with `until` has
// come whole, or 5 s have passed.
std::string ReadUntil(ForkedProcesses& processes, int output, const std::string& until) {
  std::string all;
  auto whole = [&] {
    std::size_t at = all.find(until);
    return at != std::string::npos && all.find('\n', at) != std::string::npos;
  };
  for (int i = 0; i < 100 && !whole(); ++i) {
    pollfd fd{output, POLLIN, 0};
    ::poll(&fd, 1, 50);
    char buffer[512];
    ReadResult got = processes.ReadProgramOutput(output, buffer, sizeof buffer);
    if (got.n > 0) all.append(buffer, static_cast<std::size_t>(got.n));
    if (got.n == 0) break;
  }
  return all;
}

// Whether the process is gone (or a zombie that only waits for its reaper).
bool Gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::size_t paren = text.rfind(')');
  return text.empty() || (paren != std::string::npos && text.substr(paren + 2, 1) == "Z");
}

TEST(ForkedProcessesTest, AProgramRunsInAGroupOfItsOwnWithItsEnvironmentAndIsEndedWithIt) {
  testing::ScopedTempPath script("on_call_probe.sh");
  {
    std::ofstream out(script.str());
    out << "#!/bin/sh\n"
           "read line; echo \"input=$?\"\n"
           "echo \"event=$ANNC_EVENT old=${ANNC_OLD-none} kept=${ON_CALL_KEPT-none}\" >&2\n"
           "sleep 30 &\n"
           "echo \"helper=$!\"\n"
           "wait\n";
  }
  ::chmod(script.str().c_str(), 0700);
  ::setenv("ANNC_OLD", "inherited", 1);
  ::setenv("ON_CALL_KEPT", "yes", 1);
  // Something to read on this process's standard input, which the program
  // must not get.
  int typed[2];
  ASSERT_EQ(::pipe(typed), 0);
  ASSERT_EQ(::write(typed[1], "typed\n", 6), 6);
  int savedInput = ::dup(STDIN_FILENO);
  ::dup2(typed[0], STDIN_FILENO);
  ForkedProcesses processes;
  int output = -1;
  int error = 0;
  pid_t pid = processes.RunProgram(script, {"ANNC_EVENT=call"}, "ANNC_", &output, &error);
  ::dup2(savedInput, STDIN_FILENO);
  for (int fd : {savedInput, typed[0], typed[1]}) ::close(fd);
  ::unsetenv("ANNC_OLD");
  ::unsetenv("ON_CALL_KEPT");
  ASSERT_GT(pid, 0) << error;
  EXPECT_EQ(::getpgid(pid), pid);
  std::string text = ReadUntil(processes, output, "helper=");
  EXPECT_NE(text.find("input=1\n"), std::string::npos) << text;  // /dev/null: nothing to read
  EXPECT_NE(text.find("event=call old=none kept=yes\n"), std::string::npos) << text;
  std::size_t at = text.find("helper=");
  ASSERT_NE(at, std::string::npos) << text;
  pid_t helper = static_cast<pid_t>(std::atol(text.c_str() + at + 7));
  ASSERT_GT(helper, 0);
  EXPECT_EQ(::getpgid(helper), pid);
  EXPECT_FALSE(Gone(helper));

  processes.EndPrograms({pid}, 1000);
  ChildEnd end;
  EXPECT_FALSE(processes.ReapProgram(pid, &end));  // reaped already
  for (int i = 0; i < 200 && !Gone(helper); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(Gone(helper));
  processes.CloseProgramOutput(output);
}

TEST(ForkedProcessesTest, AProgramsExitCodeAndOutputAfterItsEnd) {
  ForkedProcesses processes;
  int output = -1;
  int error = 0;
  pid_t pid = processes.RunProgram("/bin/false", {}, "ANNC_", &output, &error);
  ASSERT_GT(pid, 0) << error;
  ChildEnd end;
  bool reaped = false;
  for (int i = 0; i < 500 && !(reaped = processes.ReapProgram(pid, &end)); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(reaped);
  EXPECT_TRUE(end.exited);
  EXPECT_EQ(end.code, 1);
  char buffer[16];
  EXPECT_EQ(processes.ReadProgramOutput(output, buffer, sizeof buffer).n, 0);  // its end, without waiting
  processes.CloseProgramOutput(output);

  output = -1;
  EXPECT_EQ(processes.RunProgram("/nonexistent/hook", {}, "ANNC_", &output, &error), -1);
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(output, -1);
}

TEST(SystemFilesTest, InspectGivesThePermissionBits) {
  testing::ScopedTempPath path("mode");
  testing::WriteWholeFile(path, "x");
  SystemFiles files;
  for (unsigned mode : {0600u, 0640u, 0604u, 0755u}) {
    ASSERT_EQ(::chmod(path.str().c_str(), mode), 0);
    FileInfo info;
    ASSERT_EQ(files.Inspect(path, &info), 0);
    EXPECT_EQ(info.mode, mode);
  }
}

// ALSA reads ~/.asoundrc: HOME names a folder whose default device is
// given, for as long as it lives.
class AlsaHome {
 public:
  explicit AlsaHome(const std::string& asoundrc) {
    std::filesystem::create_directories(home_.str());
    testing::WriteWholeFile(home_.str() + "/.asoundrc", asoundrc);
    if (const char* old = std::getenv("HOME")) saved_ = old;
    ::setenv("HOME", home_.str().c_str(), 1);
  }
  ~AlsaHome() {
    if (saved_) {
      ::setenv("HOME", saved_->c_str(), 1);
    } else {
      ::unsetenv("HOME");
    }
    std::filesystem::remove_all(home_.str());
  }

 private:
  testing::ScopedTempPath home_{"alsa_home"};
  std::optional<std::string> saved_;
};

TEST(SoundDeviceTest, TheDefaultDeviceIsCheckedInAChildThatLeavesNothing) {
  struct Case {
    const char* asoundrc;
    std::optional<std::string> problem;
  };
  const Case cases[] = {
      {"pcm.!default { type null }\n", std::nullopt},
      // The reason after the colon is ALSA's, and varies with its version.
      {"pcm.!default { type hw; card 97 }\n", "ALSA's default sound device cannot be opened: "},
  };
  for (const Case& c : cases) {
    AlsaHome home(c.asoundrc);
    std::optional<std::string> problem = DefaultSoundDeviceProblem();
    ASSERT_EQ(problem.has_value(), c.problem.has_value()) << c.asoundrc;
    if (problem) {
      EXPECT_TRUE(problem->starts_with(*c.problem)) << *problem;
      EXPECT_GT(problem->size(), c.problem->size()) << *problem;
    }
    // The child is reaped: none is left to wait for.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
  }
}

}  // namespace
}  // namespace annc
