// Text that is shown on a terminal or written where people read it: bytes
// from the phone network, a file or the system must never drive a terminal.
#ifndef ANNC_TEXT_TERMINAL_TEXT_H_
#define ANNC_TEXT_TERMINAL_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace annc {

// The C0 control bytes (0-31) and DEL (127).
inline bool IsControlByte(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u < 32 || u == 127;
}

// How the locale (and so the terminal) encodes text, which decides what the
// C1 controls look like: in UTF-8 they are the characters U+0080-U+009F
// (0xC2 0x80 to 0xC2 0x9F); in any other locale the bytes 0x80-0x9F, which a
// terminal obeys (0x9B is CSI) while 0xA0-0xFF are letters.
enum class Charset { kSingleByte, kUtf8 };

// The C1 control bytes of a locale that is not UTF-8 (0x80-0x9F).
inline bool IsC1Byte(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 0x80 && u <= 0x9f;
}

// Whether `text` holds a C1 control at `at` under `charset`; returns its
// length in bytes (1 or 2), 0 when there is none. A 0x80-0x9F byte that is
// not part of a UTF-8 character is invalid text under UTF-8, not a control.
std::size_t C1ControlAt(std::string_view text, std::size_t at, Charset charset);

// Writes control bytes as caret notation (ESC as ^[, DEL as ^?), except those
// listed in `keep`, and the C1 controls as cat -v does (CSI as M-^[).
std::string CaretNotation(std::string_view text, std::string_view keep, Charset charset);

// Caret notation for text that comes a piece at a time, such as a serial
// line's bytes: under UTF-8 a 0xC2 that ends a piece is held back until the
// next piece shows whether it begins a C1 control.
class CaretNotationStream {
 public:
  std::string Take(std::string_view piece, std::string_view keep, Charset charset);
  // The byte held back, as it came; nothing when there is none.
  std::string Flush();
  void Clear() { held_.clear(); }

 private:
  std::string held_;
};

// The text with every control byte and C1 control dropped: what may stand
// inside a title sequence.
std::string WithoutControlBytes(std::string_view text, Charset charset);

// The text without the blanks and control bytes (codes 0-32) at its ends.
std::string_view TrimBlanks(std::string_view text);

// Makes a system text fit for the console. Linux gives system texts in the
// locale's encoding, which is the console's, so the text comes back
// unchanged, with the same length.
std::string ToOemText(std::string_view text);

}  // namespace annc

#endif  // ANNC_TEXT_TERMINAL_TEXT_H_
