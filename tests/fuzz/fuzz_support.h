// What the fuzz targets share: reporting a broken check with the input that
// broke it.
#ifndef ANNC_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define ANNC_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace fuzz {

// Prints what failed and the input (bytes outside printable ASCII as \xNN),
// then aborts, so that libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "%s: input of %zu bytes \"", what, text.size());
  for (unsigned char c : text) std::fprintf(stderr, c >= 32 && c < 127 ? "%c" : "\\x%02x", c);
  std::fprintf(stderr, "\"\n");
  std::abort();
}

inline bool Within(std::string_view part, std::string_view whole) { return whole.find(part) != std::string_view::npos; }

// Well-formed UTF-8 by the table of well-formed byte sequences in the
// Unicode standard (its section 3.9): a reference that shares no code with
// the decoders under test.
inline bool WellFormedUtf8(std::string_view text) {
  auto in = [](unsigned char c, unsigned lo, unsigned hi) { return c >= lo && c <= hi; };
  for (std::size_t i = 0; i < text.size();) {
    auto at = [&](std::size_t k) { return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0; };
    unsigned char b0 = at(0);
    std::size_t length = 0;
    if (b0 <= 0x7F) length = 1;
    else if (in(b0, 0xC2, 0xDF)) length = in(at(1), 0x80, 0xBF) ? 2 : 0;
    else if (b0 == 0xE0) length = in(at(1), 0xA0, 0xBF) && in(at(2), 0x80, 0xBF) ? 3 : 0;
    else if (in(b0, 0xE1, 0xEC) || in(b0, 0xEE, 0xEF)) length = in(at(1), 0x80, 0xBF) && in(at(2), 0x80, 0xBF) ? 3 : 0;
    else if (b0 == 0xED) length = in(at(1), 0x80, 0x9F) && in(at(2), 0x80, 0xBF) ? 3 : 0;
    else if (b0 == 0xF0) length = in(at(1), 0x90, 0xBF) && in(at(2), 0x80, 0xBF) && in(at(3), 0x80, 0xBF) ? 4 : 0;
    else if (in(b0, 0xF1, 0xF3)) length = in(at(1), 0x80, 0xBF) && in(at(2), 0x80, 0xBF) && in(at(3), 0x80, 0xBF) ? 4 : 0;
    else if (b0 == 0xF4) length = in(at(1), 0x80, 0x8F) && in(at(2), 0x80, 0xBF) && in(at(3), 0x80, 0xBF) ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    i += length;
  }
  return true;
}

// Whether well-formed UTF-8 `text` holds a control character: C0, DEL or
// C1 (U+0080 to U+009F, C2 80 to C2 9F).
inline bool HasControl(std::string_view text, bool tabAllowed) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\t' && tabAllowed) continue;
    if (c < 0x20 || c == 0x7F) return true;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F) return true;
  }
  return false;
}

}  // namespace fuzz

#endif  // ANNC_TESTS_FUZZ_FUZZ_SUPPORT_H_
