// Sample formats: floating-point recordings as the 16-bit samples the sound
// device is fed with.
#ifndef ANNC_PLATFORM_SAMPLES_H_
#define ANNC_PLATFORM_SAMPLES_H_

#include <cstddef>

namespace annc {

// A floating-point sample, full scale at +-1.0, as a 16-bit sample at the
// same level: scaled by 32768 and rounded, clipped at full scale; NaN is
// silence. A file of 16-bit samples saved as float comes back sample-exact.
short ShortSampleOf(float sample);

void ShortSamplesOf(const float* samples, std::size_t count, short* out);

}  // namespace annc

#endif  // ANNC_PLATFORM_SAMPLES_H_
