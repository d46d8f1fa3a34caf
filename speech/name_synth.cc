#include "speech/name_synth.h"

#include <espeak-ng/speak_lib.h>
#include <sndfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace annc {

namespace {

std::vector<short>* Collected = nullptr;

int CollectSamples(short* samples, int count, espeak_EVENT*) {
  if (samples != nullptr && count > 0 && Collected != nullptr) {
    Collected->insert(Collected->end(), samples, samples + count);
  }
  return 0;  // go on
}

std::string WriteWav(const std::vector<short>& samples, int rate, const std::string& path) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) return "cannot write " + path + ": " + sf_strerror(nullptr);
  sf_count_t written = sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  std::string error;
  if (written != static_cast<sf_count_t>(samples.size())) error = "cannot write " + path + ": " + sf_strerror(file);
  if (sf_close(file) != 0 && error.empty()) error = "cannot write " + path;
  return error;
}

}  // namespace

std::string SynthesizeName(const std::string& text, const std::string& voice, const std::string& path,
                           bool* unknownVoice) {
  if (unknownVoice != nullptr) *unknownVoice = false;
  // Started once per process and never ended: eSpeak NG 1.51 hangs when it
  // is started again after espeak_Terminate. Without DONT_EXIT the library
  // ends the whole process when its data is missing.
  static const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
  if (rate <= 0) return "eSpeak NG cannot start (is espeak-ng-data installed?)";
  std::vector<short> samples;
  Collected = &samples;
  espeak_SetSynthCallback(CollectSamples);
  std::string error;
  if (espeak_SetVoiceByName(voice.c_str()) != EE_OK) {
    error = "eSpeak NG has no voice " + voice;
    if (unknownVoice != nullptr) *unknownVoice = true;
  } else {
    // UTF-8 plain text: neither espeakSSML nor espeakPHONEMES, so that "<"
    // and "[[" in a name are read as characters, not as markup or phonemes.
    unsigned int flags = espeakCHARS_UTF8;
    if (espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, flags, nullptr, nullptr) != EE_OK ||
        espeak_Synchronize() != EE_OK) {
      error = "eSpeak NG could not speak the name";
    } else if (samples.empty()) {
      error = "eSpeak NG gave no sound for the name";
    }
  }
  Collected = nullptr;
  if (!error.empty()) return error;

  std::string temp = path + ".tmp" + std::to_string(::getpid());
  error = WriteWav(samples, rate, temp);
  if (error.empty() && std::rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot rename " + temp + " to " + path + ": " + std::strerror(errno);
  }
  if (!error.empty()) (void)std::remove(temp.c_str());
  return error;
}

}  // namespace annc
