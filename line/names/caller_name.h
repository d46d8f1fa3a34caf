// The caller's name as annc-line speaks it: which name a call has, and the
// text a speech synthesizer is given for it.
#ifndef ANNC_LINE_CALLER_NAME_H_
#define ANNC_LINE_CALLER_NAME_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace annc {

// Whether a name sent by the network only says that no name is known: the
// markers networks and servers send (O, P, PRIVATE, WITHHELD, ANONYMOUS,
// OUT-OF-AREA, UNAVAILABLE, NO NAME, RESTRICTED, UNKNOWN, ...), compared
// without regard to ASCII case, with blanks, "-", "_" and "." alike; and
// any text without a letter in it ("", "-", "?", "0000000000").
bool IsPlaceholderName(std::string_view name);

// The name to speak for a call: the phone book's when it has the caller's
// number (people chose those names) and it has something to say, else the
// network's unless it is a placeholder; none otherwise. The result is
// already cleaned by SpeakableName and never empty.
std::optional<std::string> ChooseCallerName(std::optional<std::string_view> bookName, std::string_view networkName);

// The most characters a name given to the synthesizer holds.
constexpr std::size_t kMaxSpokenNameCharacters = 64;

// The name as plain text a synthesizer may be given, so that nothing the
// network sends can drive it: UTF-8 only (bytes that are not part of a
// well-formed character are dropped); terminal escape sequences (ESC or
// CSI, OSC, DCS ... as a whole) and other control characters removed, tab
// and line ends becoming blanks; square brackets, which a synthesizer may
// take to open phoneme input, and angle brackets, which open markup,
// become blanks; runs of blanks are one blank, none at the ends; at most
// kMaxSpokenNameCharacters characters, never a character cut in two.
std::string SpeakableName(std::string_view raw);

}  // namespace annc

#endif  // ANNC_LINE_CALLER_NAME_H_
