// Text that is shown on a terminal or written where people read it: bytes
// from the phone network, a file or the system must never drive a terminal.
#ifndef ANNC_TEXT_TERMINAL_TEXT_H_
#define ANNC_TEXT_TERMINAL_TEXT_H_

#include <string>
#include <string_view>

namespace annc {

// The C0 control bytes (0-31) and DEL (127).
inline bool IsControlByte(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u < 32 || u == 127;
}

// Writes control bytes as caret notation (ESC as ^[, DEL as ^?), except those
// listed in `keep`.
std::string CaretNotation(std::string_view text, std::string_view keep);

// The text with every control byte dropped: what may stand inside a title
// sequence.
std::string WithoutControlBytes(std::string_view text);

// The text without the blanks and control bytes (codes 0-32) at its ends.
std::string_view TrimBlanks(std::string_view text);

// Makes a system text fit for the console. Linux gives system texts in the
// locale's encoding, which is the console's, so the text comes back
// unchanged, with the same length.
std::string ToOemText(std::string_view text);

}  // namespace annc

#endif  // ANNC_TEXT_TERMINAL_TEXT_H_
