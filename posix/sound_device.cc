#include "posix/sound_device.h"

#include <alsa/asoundlib.h>

namespace annc {
namespace {

// ALSA's library writes its own lines to standard error (a journal full of
// "ALSA lib ... Unknown PCM default" on a box without sound); the one line
// annc-line says of it is enough.
void SilentAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

std::optional<std::string> DefaultSoundDeviceProblem() {
  snd_lib_error_set_handler(SilentAlsaError);
  snd_pcm_t* pcm = nullptr;
  // Without waiting for a device another program holds.
  int error = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (error == 0) snd_pcm_close(pcm);
  // The configuration ALSA read for it is not needed again here.
  snd_config_update_free_global();
  if (error == 0) return std::nullopt;
  if (error == -EBUSY || error == -EAGAIN) return std::nullopt;  // there, only busy now
  return std::string("ALSA's default sound device cannot be opened: ") + snd_strerror(error);
}

}  // namespace annc
