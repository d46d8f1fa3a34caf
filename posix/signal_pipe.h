// Signals turned into bytes on a pipe, so that a program waiting in poll
// learns of them with its other descriptors and handles them in its own
// time, never inside a handler.
#ifndef ANNC_POSIX_SIGNAL_PIPE_H_
#define ANNC_POSIX_SIGNAL_PIPE_H_

#include <initializer_list>

namespace annc {

// One per process. While it is open, each of the signals given writes its
// number to the pipe; closing it puts the default handling back.
class SignalPipe {
 public:
  SignalPipe() = default;
  ~SignalPipe() { Close(); }
  SignalPipe(const SignalPipe&) = delete;
  SignalPipe& operator=(const SignalPipe&) = delete;

  // Returns 0 or an errno value.
  int Open(std::initializer_list<int> signals);
  void Close();

  // Readable when a signal has come: poll it.
  int fd() const;

  // Reads what has come; afterwards Seen() tells which signals did.
  void Take();
  bool Seen(int signal) const;
  // Forgets that `signal` came.
  void Clear(int signal);

 private:
  unsigned long long seen_ = 0;  // bit n: signal n came
  unsigned long long installed_ = 0;
};

}  // namespace annc

#endif  // ANNC_POSIX_SIGNAL_PIPE_H_
