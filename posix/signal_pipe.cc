#include "posix/signal_pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace annc {
namespace {

int pipeFds[2] = {-1, -1};

void WriteSignal(int signal) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(signal);
  (void)!::write(pipeFds[1], &byte, 1);  // a full pipe already holds a wake-up
  errno = saved;
}

}  // namespace

int SignalPipe::Open(std::initializer_list<int> signals) {
  Close();
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return errno;
  struct sigaction action {};
  action.sa_handler = WriteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int s : signals) {
    if (s <= 0 || s >= 64) continue;
    if (::sigaction(s, &action, nullptr) != 0) {
      int error = errno;
      Close();
      return error;
    }
    installed_ |= 1ull << s;
  }
  return 0;
}

void SignalPipe::Close() {
  for (int s = 1; s < 64; ++s) {
    if (installed_ & (1ull << s)) ::signal(s, SIG_DFL);
  }
  installed_ = 0;
  for (int& fd : pipeFds) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

int SignalPipe::fd() const { return pipeFds[0]; }

void SignalPipe::Take() {
  unsigned char buffer[64];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] < 64) seen_ |= 1ull << buffer[i];
    }
  }
}

bool SignalPipe::Seen(int signal) const { return signal > 0 && signal < 64 && (seen_ & (1ull << signal)) != 0; }

void SignalPipe::Clear(int signal) {
  if (signal > 0 && signal < 64) seen_ &= ~(1ull << signal);
}

}  // namespace annc
