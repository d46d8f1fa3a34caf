// Text helpers: file-name extensions, console code-page conversion and the
// safe display of untrusted bytes on a terminal.
#ifndef ANNC_LOG_TEXT_H_
#define ANNC_LOG_TEXT_H_

#include <string>
#include <string_view>

namespace annc {

struct ExtensionInfo {
  std::size_t dotPos;  // position of the last dot, counted from 1; 0 when none
  bool hasExtension;
};

// Whether the path's last dot starts an extension: no folder separator among
// the (up to 64) characters after it.
ExtensionInfo HasExtension(std::string_view path);

// The path with its extension replaced by `extension`, or "." and the
// extension appended when it has none.
std::string ChangeExtension(std::string_view path, std::string_view extension);

// Converts text to the console's encoding. Linux has one encoding here, so
// the text comes back unchanged, with the same length.
std::string ToOemText(std::string_view text);

// Writes control bytes (0-31 and 127) as caret notation (ESC as ^[, DEL as
// ^?), except those listed in `keep`, so that bytes from the phone network or
// a file cannot drive the terminal.
std::string CaretNotation(std::string_view text, std::string_view keep);

}  // namespace annc

#endif  // ANNC_LOG_TEXT_H_
