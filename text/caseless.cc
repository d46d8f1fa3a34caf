#include "text/caseless.h"

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <langinfo.h>

namespace annc {

bool LocaleIsUtf8() {
  const char* codeset = ::nl_langinfo(CODESET);
  return codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
}

namespace {

// One character of a multi-byte text, decoded; a byte that does not start a
// valid character stands for itself, beyond the range of real characters.
std::wint_t NextChar(std::string_view text, std::size_t* pos, std::mbstate_t* state) {
  wchar_t wc = 0;
  std::size_t n = std::mbrtowc(&wc, text.data() + *pos, text.size() - *pos, state);
  if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2) || n == 0) {
    *state = std::mbstate_t{};
    std::wint_t raw = 0x110000u + static_cast<unsigned char>(text[*pos]);
    *pos += 1;
    return raw;
  }
  *pos += n;
  return std::towlower(static_cast<std::wint_t>(wc));
}

}  // namespace

Encoding::Encoding() : singleByte(MB_CUR_MAX == 1), utf8(LocaleIsUtf8()) {}

bool SameIgnoringCase(std::string_view a, std::string_view b, const Encoding& encoding) {
  if (encoding.singleByte) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      unsigned char x = static_cast<unsigned char>(a[i]);
      unsigned char y = static_cast<unsigned char>(b[i]);
      if (x != y && std::tolower(x) != std::tolower(y)) return false;
    }
    return true;
  }
  std::size_t i = 0, j = 0;
  std::mbstate_t sa{}, sb{};
  while (i < a.size() && j < b.size()) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[j]);
    if (encoding.utf8 && x < 0x80 && y < 0x80) {
      // ASCII never occurs inside a UTF-8 sequence: compare the bytes.
      if (AsciiLower(a[i]) != AsciiLower(b[j])) return false;
      ++i;
      ++j;
      continue;
    }
    if (NextChar(a, &i, &sa) != NextChar(b, &j, &sb)) return false;
  }
  return i == a.size() && j == b.size();
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return SameIgnoringCase(a, b, Encoding{});
}

}  // namespace annc
