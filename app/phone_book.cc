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

PhoneBookText PhoneBook;

namespace {
const char* FindByte(const char* from, const char* end, char c) {
  const void* hit = std::memchr(from, c, static_cast<std::size_t>(end - from));
  return hit != nullptr ? static_cast<const char*>(hit) : end;
}
}  // namespace

namespace {
// A NUL byte ends the text.
std::string_view BeforeNul(std::string_view text) {
  if (text.empty()) return text;  // may have no storage at all
  const void* nul = std::memchr(text.data(), '\0', text.size());
  return nul == nullptr ? text : text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
}
}  // namespace

Lines::Lines(std::string_view text) : text_(BeforeNul(text)) {}

Lines::iterator::iterator(const char* start, const char* end, bool atEnd)
    : start_(atEnd ? end : start), end_(end), cr_(end), lf_(end) {
  if (atEnd) return;
  // The next CR and the next LF are each found with memchr, and looked for
  // again only once passed.
  cr_ = FindByte(start_, end_, '\r');
  lf_ = FindByte(start_, end_, '\n');
  line_ = std::string_view(start_, static_cast<std::size_t>((cr_ < lf_ ? cr_ : lf_) - start_));
}

Lines::iterator& Lines::iterator::operator++() {
  const char* stop = start_ + line_.size();
  if (stop == end_) {  // that was the last line
    start_ = end_;
    line_ = std::string_view();
    return *this;
  }
  start_ = stop + 1;
  if (*stop == '\r' && start_ < end_ && *start_ == '\n') ++start_;  // CR LF is one line end
  if (start_ == end_) {  // a final line end adds no empty line
    line_ = std::string_view();
    return *this;
  }
  if (cr_ < start_) cr_ = FindByte(start_, end_, '\r');
  if (lf_ < start_) lf_ = FindByte(start_, end_, '\n');
  line_ = std::string_view(start_, static_cast<std::size_t>((cr_ < lf_ ? cr_ : lf_) - start_));
  return *this;
}

void LoadPhoneBook(const std::string& path) {
  if (PhoneBook.file.Read(path) != 0) {
    ThrowOpenError("Cannot open file " + path, ANNC_FAILING_SITE());
  }
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

namespace {

// Whether the number is made only of ASCII characters without letter case
// (digits, "+", "#", blanks...), and holds no "=" or line end. Such a number
// equals a name part only byte for byte.
bool HasNoLetterCase(std::string_view number) {
  if (number.empty()) return false;
  for (char c : number) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80 || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || c == '=' || c == '\r' ||
        c == '\n') {
      return false;
    }
  }
  return true;
}

// Finds the first line that starts with "number=": one search through the
// whole text instead of a comparison per line.
std::optional<std::string_view> FindLineStartingWith(std::string_view text, std::string_view number) {
  std::string needle(number);
  needle += '=';
  std::size_t from = 0;
  while (from < text.size()) {
    const void* hit = ::memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
    if (hit == nullptr) break;
    std::size_t pos = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    if (pos == 0 || text[pos - 1] == '\r' || text[pos - 1] == '\n') {
      std::string_view name = text.substr(pos + needle.size());
      return name.substr(0, name.find_first_of("\r\n"));
    }
    from = pos + 1;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string_view> LookUpName(std::string_view number) {
  if (HasNoLetterCase(number)) return FindLineStartingWith(BeforeNul(PhoneBook.file.view()), number);
  const Encoding encoding;
  for (std::string_view line : PhoneBook.lines()) {
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (SameIgnoringCase(line.substr(0, eq), number, encoding)) return line.substr(eq + 1);
  }
  return std::nullopt;
}

}  // namespace annc
