// Comparing text without regard to letter case.
#ifndef ANNC_TEXT_CASELESS_H_
#define ANNC_TEXT_CASELESS_H_

#include <cstddef>
#include <string_view>

namespace annc {

// ASCII letters only; every other byte stays as it is.
inline char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether two texts are equal ignoring the case of ASCII letters alone,
// whatever the locale: for protocol words and labels.
inline bool SameAsciiIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// Whether the current locale (LC_CTYPE) encodes text in UTF-8.
bool LocaleIsUtf8();

// How the current locale encodes text; take one per run of comparisons.
struct Encoding {
  Encoding();
  bool singleByte;
  bool utf8;
};

// Whether two texts are equal ignoring letter case under the current
// locale (LC_CTYPE), over their full lengths. Bytes that do not form a
// valid character compare as themselves.
bool SameIgnoringCase(std::string_view a, std::string_view b, const Encoding& encoding);
bool SameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace annc

#endif  // ANNC_TEXT_CASELESS_H_
