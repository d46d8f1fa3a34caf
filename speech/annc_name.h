// annc-name: speaks one caller's name into a WAV file with eSpeak NG, in a
// process of its own, for annc-line's --say-names (annc-line runs it from
// its own folder; it never links eSpeak NG itself).
//
//   annc-name [--voice NAME] [--] TEXT FILE
//
// TEXT is taken as plain text (never markup or phoneme input); FILE is
// written under FILE.tmpPID and renamed into place, nothing being left
// behind when it fails.
#ifndef ANNC_SPEECH_ANNC_NAME_H_
#define ANNC_SPEECH_ANNC_NAME_H_

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace annc {

// The exit codes.
enum NameProgramExit {
  kNameWritten = 0,
  kNameFailed = 1,      // eSpeak NG cannot start or speak, or FILE cannot be written
  kNameUsage = 2,       // wrong arguments, an empty or too long TEXT
  kNameNoVoice = 3,     // eSpeak NG has no such voice
};

// The longest TEXT taken, in bytes: far more than any name.
constexpr std::size_t kMaxNameTextBytes = 1024;
// The longest voice name taken.
constexpr std::size_t kMaxVoiceNameBytes = 40;

// The text as eSpeak NG is given it: bytes that are not part of a
// well-formed UTF-8 character dropped, control characters (C0, DEL and C1)
// made blanks.
std::string PlainSpeechText(std::string_view text);

// Whether `voice` is a name eSpeak NG's voices can have, as annc-line's
// --voice takes it: letters, digits, "-", "_", "+" and "/" (a voice in a
// folder of eSpeak NG's voices), neither ".." nor "/" or "-" first, at most
// kMaxVoiceNameBytes.
bool IsEspeakVoiceName(std::string_view voice);

// The program: `args` without the program's own name; returns its exit
// code. Success prints nothing; a failure is one line on `err`
// ("annc-name: " before it, control bytes in caret notation).
int RunNameProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace annc

#endif  // ANNC_SPEECH_ANNC_NAME_H_
