// How long a client waits before it connects to its server again.
#ifndef ANNC_LINE_BACKOFF_H_
#define ANNC_LINE_BACKOFF_H_

#include "posix/clock.h"

namespace annc {

// The wait before the next attempt to connect: 1 s, doubling up to 60 s;
// back to 1 s once a connection has worked.
class Backoff {
 public:
  static constexpr Millis kFirst = 1000;
  static constexpr Millis kLongest = 60000;

  Millis Next();
  void Reset() { next_ = kFirst; }

 private:
  Millis next_ = kFirst;
};

}  // namespace annc

#endif  // ANNC_LINE_BACKOFF_H_
