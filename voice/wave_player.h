// Plays one recorded word from the sound folder, synchronously.
#ifndef ANNC_VOICE_WAVE_PLAYER_H_
#define ANNC_VOICE_WAVE_PLAYER_H_

#include <string>

namespace annc {

// The sound folder's name, and the sound folder itself: every recording and
// the phone book are addressed as SoundDir followed by the file name. It
// ends in a folder separator; start-up sets it to the folder of that name
// beside the executable.
constexpr const char* kSoundFolderName = "Numvoice/";
extern std::string SoundDir;

// Plays the file and returns true when it played; beeps instead and returns
// false when there is no sound device, no regular file at the path, or the
// file cannot be decoded or played.
bool PlayWave(const std::string& path);

// Plays the file like PlayWave, but stays silent when it cannot: for a
// recording that is a bonus to the call, whose absence must not sound like
// a fault. Returns whether it played.
bool PlayWaveQuietly(const std::string& path);

}  // namespace annc

#endif  // ANNC_VOICE_WAVE_PLAYER_H_
