#include "platform/samples.h"

#include <cmath>

namespace annc {

short ShortSampleOf(float sample) {
  if (std::isnan(sample)) return 0;
  float scaled = sample * 32768.0f;
  if (scaled >= 32767.0f) return 32767;
  if (scaled <= -32768.0f) return -32768;
  return static_cast<short>(std::lrintf(scaled));
}

void ShortSamplesOf(const float* samples, std::size_t count, short* out) {
  for (std::size_t i = 0; i < count; ++i) out[i] = ShortSampleOf(samples[i]);
}

}  // namespace annc
