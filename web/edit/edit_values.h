// The values a web form sends for the lists and the phone book, checked
// before they go near a file, and the text the page is shown. A form may
// send any bytes: every value is trimmed of spaces at its ends, bounded and
// checked; a refusal names the reason in a few words.
#ifndef ANNC_WEB_EDIT_EDIT_VALUES_H_
#define ANNC_WEB_EDIT_EDIT_VALUES_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace annc {

// The longest number, label, name or list entry a form may set, in bytes.
inline constexpr std::size_t kMaxNumberBytes = 32;
inline constexpr std::size_t kMaxValueBytes = 200;

// `value` without the spaces (code 32) at its ends.
std::string_view TrimSpaces(std::string_view value);

// Whether `bytes` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing past U+10FFFF).
bool IsUtf8(std::string_view bytes);

// `bytes` as UTF-8 fit for a page: every byte that is not part of a
// well-formed character, and every control character (C0, DEL, C1), becomes
// U+FFFD; a tab stays.
std::string ShownText(std::string_view bytes);

// A phone number as the lists and the phone book hold it: 1 to
// kMaxNumberBytes - 1 ASCII digits, optionally after one leading '+'
// (caller-ID sources send international numbers that way). Empty when
// fine, else the reason.
std::string NumberProblem(std::string_view number);

// A label, a name or a list entry: at most kMaxValueBytes, well-formed
// UTF-8, no control character (line ends, NUL, tab, DEL, C1 included);
// empty only when `mayBeEmpty`. `what` names the value in the reason
// ("the label"). Empty when fine, else the reason.
std::string TextProblem(std::string_view value, std::string_view what, bool mayBeEmpty);

// `text` on one line for the page: a tab becomes a space, every other
// control character and every byte of invalid UTF-8 U+FFFD.
std::string OneLine(std::string_view text);

}  // namespace annc

#endif  // ANNC_WEB_EDIT_EDIT_VALUES_H_
