#include "line/calls/caller_number.h"

#include <array>

#include "text/caseless.h"
#include "text/terminal_text.h"

namespace annc {

namespace {

// They come from the network as plain ASCII, compared without regard to the
// locale annc-line runs in.
constexpr std::array<std::string_view, 9> kUnknownMarkers = {
    "P", "O", "A", "PRIVATE", "ANONYMOUS", "OUT-OF-AREA", "UNAVAILABLE", "WITHHELD", "NO-NUMBER"};

}  // namespace

std::string AnnouncedNumber(std::string_view raw) {
  std::string_view number = TrimBlanks(raw);
  if (number.empty()) return "Unknown";
  for (std::string_view marker : kUnknownMarkers) {
    if (SameAsciiIgnoringCase(number, marker)) return "Unknown";
  }
  return std::string(number);
}

std::string AnnouncerArgument(std::string_view raw) {
  std::string number = AnnouncedNumber(raw);
  std::string digits;
  for (char c : number) {
    if (c >= '0' && c <= '9') digits += c;
  }
  return digits.empty() ? "Unknown" : digits;
}

}  // namespace annc
