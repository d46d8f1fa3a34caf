#include "speech/annc_name.h"

#include "speech/name_synth.h"
#include "text/terminal_text.h"

namespace annc {

namespace {

constexpr const char* kUsage =
    "usage: annc-name [--voice NAME] [--] TEXT FILE\n"
    "Speaks TEXT (plain text, at most 1024 bytes) in eSpeak NG's voice NAME\n"
    "(default en) into the 16-bit mono WAV file FILE, written whole or not at all.\n"
    "Exit codes: 0 written, 1 eSpeak NG or the file failed, 2 usage, 3 no such voice.\n";

// The length of the well-formed UTF-8 character at the start of `text`;
// 0 when there is none.
std::size_t Utf8CharacterAt(std::string_view text) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

int Fail(std::ostream& err, int code, std::string_view message) {
  err << "annc-name: " << CaretNotation(message, "", Charset::kUtf8) << '\n';
  return code;
}

}  // namespace

std::string PlainSpeechText(std::string_view text) {
  std::string plain;
  plain.reserve(text.size());
  while (!text.empty()) {
    std::size_t length = Utf8CharacterAt(text);
    if (length == 0) {
      text.remove_prefix(1);
      continue;
    }
    std::string_view character = text.substr(0, length);
    bool control = (length == 1 && (static_cast<unsigned char>(character[0]) < 0x20 || character[0] == 0x7F)) ||
                   (length == 2 && static_cast<unsigned char>(character[0]) == 0xC2 &&
                    static_cast<unsigned char>(character[1]) < 0xA0);
    if (control) {
      plain += ' ';
    } else {
      plain.append(character);
    }
    text.remove_prefix(length);
  }
  return plain;
}

bool IsEspeakVoiceName(std::string_view voice) {
  if (voice.empty() || voice.size() > kMaxVoiceNameBytes || voice.find("..") != std::string_view::npos) return false;
  for (char c : voice) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
              c == '+' || c == '/';
    if (!ok) return false;
  }
  return voice[0] != '/' && voice[0] != '-';
}

int RunNameProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string voice = "en";
  std::vector<std::string> operands;
  bool options = true;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && arg == "--help") {
      out << kUsage;
      return kNameWritten;
    } else if (options && arg == "--voice") {
      if (i + 1 == args.size()) return Fail(err, kNameUsage, "--voice needs a voice name (see --help)");
      voice = args[++i];
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      return Fail(err, kNameUsage, "unknown option " + arg.substr(0, 64) + " (see --help)");
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.size() != 2) return Fail(err, kNameUsage, "needs TEXT and FILE (see --help)");
  const std::string& text = operands[0];
  const std::string& path = operands[1];
  if (text.empty()) return Fail(err, kNameUsage, "no text to speak");
  if (text.size() > kMaxNameTextBytes) {
    return Fail(err, kNameUsage,
                "the text is too long (" + std::to_string(text.size()) + " bytes; at most " +
                    std::to_string(kMaxNameTextBytes) + ")");
  }
  if (path.empty()) return Fail(err, kNameUsage, "no file to write");
  if (!IsEspeakVoiceName(voice)) return Fail(err, kNameNoVoice, "eSpeak NG has no voice " + voice.substr(0, 64));
  bool unknownVoice = false;
  std::string error = SynthesizeName(PlainSpeechText(text), voice, path, &unknownVoice);
  if (!error.empty()) return Fail(err, unknownVoice ? kNameNoVoice : kNameFailed, error);
  return kNameWritten;
}

}  // namespace annc
