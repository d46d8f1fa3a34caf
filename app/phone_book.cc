#include "app/phone_book.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <langinfo.h>

#include "platform/errors.h"
#include "platform/files.h"

namespace annc {

std::vector<std::string_view> PhoneBook;

namespace {
// The file's text; PhoneBook points into it until the process ends.
std::string PhoneBookText;
}  // namespace

void SplitLines(std::string_view text, std::vector<std::string_view>* lines) {
  lines->clear();
  if (const void* nul = std::memchr(text.data(), '\0', text.size())) {
    text = text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
  }
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  // The next CR and the next LF are each found with memchr and looked for
  // again only once passed.
  auto find = [end](const char* from, char c) {
    const void* hit = std::memchr(from, c, static_cast<std::size_t>(end - from));
    return hit != nullptr ? static_cast<const char*>(hit) : end;
  };
  const char* start = begin;
  const char* cr = find(start, '\r');
  const char* lf = find(start, '\n');
  while (start < end) {
    const char* stop = cr < lf ? cr : lf;
    lines->emplace_back(start, static_cast<std::size_t>(stop - start));
    if (stop == end) break;
    start = stop + 1;
    if (*stop == '\r' && start < end && *start == '\n') ++start;  // CR LF is one line end
    if (cr < start) cr = find(start, '\r');
    if (lf < start) lf = find(start, '\n');
  }
}

void LoadPhoneBook(const std::string& path) {
  if (ReadWholeFile(path, &PhoneBookText) != 0) {
    ThrowOpenError("Cannot open file " + path, ANNC_FAILING_SITE());
  }
  SplitLines(PhoneBookText, &PhoneBook);
}

namespace {

char AsciiLower(unsigned char c) {
  return static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
}

bool LocaleIsUtf8() {
  const char* codeset = ::nl_langinfo(CODESET);
  return codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
}

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

// How the current locale encodes text, asked once per lookup.
struct Encoding {
  bool singleByte = MB_CUR_MAX == 1;
  bool utf8 = LocaleIsUtf8();
};

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
      if (AsciiLower(x) != AsciiLower(y)) return false;
      ++i;
      ++j;
      continue;
    }
    if (NextChar(a, &i, &sa) != NextChar(b, &j, &sb)) return false;
  }
  return i == a.size() && j == b.size();
}

}  // namespace

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return SameIgnoringCase(a, b, Encoding{});
}

std::optional<std::string_view> LookUpName(std::string_view number) {
  const Encoding encoding;
  for (std::string_view line : PhoneBook) {
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (SameIgnoringCase(line.substr(0, eq), number, encoding)) return line.substr(eq + 1);
  }
  return std::nullopt;
}

}  // namespace annc
