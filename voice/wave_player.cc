#include "voice/wave_player.h"

#include "platform/platform.h"

namespace annc {

std::string SoundDir = kSoundFolderName;

bool PlayWaveQuietly(const std::string& path) {
  Platform& sys = Sys();
  return sys.WaveDeviceAvailable() && sys.IsRegularFile(path) && sys.PlaySoundFile(path);
}

bool PlayWave(const std::string& path) {
  if (!PlayWaveQuietly(path)) {
    Sys().Beep();
    return false;
  }
  return true;
}

}  // namespace annc
