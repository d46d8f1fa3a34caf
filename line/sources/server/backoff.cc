#include "line/sources/server/backoff.h"

#include <algorithm>

namespace annc {

Millis Backoff::Next() {
  Millis wait = next_;
  next_ = std::min(next_ * 2, kLongest);
  return wait;
}

}  // namespace annc
