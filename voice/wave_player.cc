#include "voice/wave_player.h"

#include "platform/platform.h"

namespace annc {

std::string SoundDir = kSoundFolderName;

bool PlayWave(const std::string& path) {
  Platform& sys = Sys();
  if (!sys.WaveDeviceAvailable() || !sys.IsRegularFile(path) || !sys.PlaySoundFile(path)) {
    sys.Beep();
    return false;
  }
  return true;
}

}  // namespace annc
