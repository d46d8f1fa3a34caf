// Speaks a name into a WAV file with eSpeak NG's library.
#ifndef ANNC_SPEECH_NAME_SYNTH_H_
#define ANNC_SPEECH_NAME_SYNTH_H_

#include <string>

namespace annc {

// Speaks `text` (UTF-8, taken as plain text: no markup, no phoneme input)
// in eSpeak NG's voice `voice` into a 16-bit mono WAV file at `path`. The
// file is written under a temporary name beside it and renamed into place,
// so that a reader sees either no file or the whole recording; nothing is
// left behind when it fails. Returns an empty text, or what went wrong
// in one line ("no voice de-xx", "cannot write /x/y.wav: Permission denied").
// *unknownVoice (when given) tells whether it failed because eSpeak NG
// has no voice `voice`. eSpeak NG keeps its state in the process, started
// at the first call and kept to its end: this is for a process of its own
// (annc-name), one synthesis at a time.
std::string SynthesizeName(const std::string& text, const std::string& voice, const std::string& path,
                           bool* unknownVoice = nullptr);

}  // namespace annc

#endif  // ANNC_SPEECH_NAME_SYNTH_H_
