#include "line/caller_number.h"

#include <array>

#include "text/caseless.h"
#include "text/terminal_text.h"

namespace annc {

namespace {

// ASCII letters only: these markers come from the network as plain ASCII,
// and the result must not depend on the locale annc-line runs in.
bool SameAsciiIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

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

}  // namespace annc
