// Speaks a number as recorded words: 0 to 19, the tens and the hundreds.
#ifndef ANNC_VOICE_NUMBER_SPEAKER_H_
#define ANNC_VOICE_NUMBER_SPEAKER_H_

#include <cstdint>
#include <string>

namespace annc {

// Speaks n (hundreds, tens, units; below ten with a leading zero, as a clock
// is read), then drains the modem when a serial line is open, except after
// an exact hundred.
void SayNumber(std::int32_t n);

}  // namespace annc

#endif  // ANNC_VOICE_NUMBER_SPEAKER_H_
