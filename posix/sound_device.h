// Whether ALSA's default playback device can be opened: annc plays every
// word there, and beeps instead when it cannot.
#ifndef ANNC_POSIX_SOUND_DEVICE_H_
#define ANNC_POSIX_SOUND_DEVICE_H_

#include <optional>
#include <string>

namespace annc {

// Nothing when the device opens; otherwise why not, in one line
// ("ALSA's default sound device cannot be opened: No such device").
std::optional<std::string> DefaultSoundDeviceProblem();

}  // namespace annc

#endif  // ANNC_POSIX_SOUND_DEVICE_H_
