// The real decode-and-play path on arbitrary and damaged sound files: each
// input is written to a file and played by the real platform, with ALSA's
// default device pointed at the null plugin (it takes samples as fast as
// they come). The sanitizers, libFuzzer's time-out and its memory limit
// catch crashes, hangs and runaway allocations; the result is checked
// against what libsndfile makes of the file and whether a device of our own
// takes its format.
#include <alsa/asoundlib.h>
#include <sndfile.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace {

std::string homeDir;
std::string soundPath;

void RemoveScratch() {
  std::remove(soundPath.c_str());
  std::remove((homeDir + "/.asoundrc").c_str());
  ::rmdir(homeDir.c_str());
}

void WriteFile(const std::string& path, const void* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
}

// Whether libsndfile opens the file with a format the player accepts.
bool Decodable(const std::string& path, SF_INFO* info) {
  *info = SF_INFO{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, info);
  if (file == nullptr) return false;
  sf_close(file);
  return info->channels >= 1 && info->channels <= 64 && info->samplerate >= 1;
}

// A second handle on the null device: alsa-lib refuses some rates (it finds
// no buffer size for them), and the player must then decline the file too.
snd_pcm_t* probe = nullptr;

bool DeviceTakes(const SF_INFO& info) {
  return snd_pcm_set_params(probe, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                            static_cast<unsigned>(info.channels), static_cast<unsigned>(info.samplerate), 1,
                            100000) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/annc-fuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  const std::string home = homeDir = pattern;
  // ALSA reads ~/.asoundrc (and the XDG one) when the first device is opened.
  static const char kNullDefault[] = "pcm.!default { type null }\n";
  WriteFile(home + "/.asoundrc", kNullDefault, sizeof kNullDefault - 1);
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
  unsetenv("ALSA_CONFIG_PATH");
  soundPath = home + "/word.wav";
  std::atexit(RemoveScratch);
  if (!annc::Sys().WaveDeviceAvailable() ||
      snd_pcm_open(&probe, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0) {
    std::fprintf(stderr, "the null ALSA device cannot be opened\n");
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  WriteFile(soundPath, data, size);
  bool played = annc::Sys().PlaySoundFile(soundPath);
  SF_INFO info;
  bool playable = Decodable(soundPath, &info) && DeviceTakes(info);
  if (played != playable) {
    std::fprintf(stderr, "PlaySoundFile returned %s for a file that %s (%d channels at %d Hz)\n",
                 played ? "true" : "false", playable ? "plays" : "cannot play", info.channels, info.samplerate);
    std::abort();
  }
  return 0;
}
