// annc-line's time: milliseconds on a clock that only goes forward, and the
// clock the whole program reads it from.
#ifndef ANNC_POSIX_CLOCK_H_
#define ANNC_POSIX_CLOCK_H_

#include <cstdint>

namespace annc {

// Milliseconds on a clock that only goes forward.
using Millis = std::int64_t;

// One clock for the whole program: monotonic, never set back.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual Millis Now() = 0;
  // The local time of day, in minutes since midnight (0..1439).
  virtual int MinuteOfDay() = 0;
  // The calendar's time, in microseconds since the epoch: when calls began
  // and ended, as the call history keeps it. It may be set back.
  virtual std::int64_t WallMicros() = 0;
};

}  // namespace annc

#endif  // ANNC_POSIX_CLOCK_H_
