#include "posix/posix_line_system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

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

}  // namespace
}  // namespace annc
