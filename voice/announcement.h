// One announcement cycle: the time, a chime, the caller's name when there is
// a recording of it, the caller's number in groups, a chime.
#ifndef ANNC_VOICE_ANNOUNCEMENT_H_
#define ANNC_VOICE_ANNOUNCEMENT_H_

#include <string>
#include <string_view>

namespace annc {

// Speaks one cycle for the number. `nameRecording`, when not empty, is the
// path of a recording of the caller's name: it is played after the opening
// chime's pause, the modem is drained after it as after a number, and a
// group's pause follows. A name recording that is missing or cannot be
// played is left out without a beep, and the cycle is as without it.
void AnnounceCall(std::string_view number, const std::string& nameRecording = std::string());

}  // namespace annc

#endif  // ANNC_VOICE_ANNOUNCEMENT_H_
