#include "book/phone_book_text.h"

#include <cstring>

#include "platform/locale.h"
#include "text/caseless.h"
#include "text/lines.h"

namespace annc {

int PhoneBookText::Read(const std::string& path) {
  start_ = 0;
  int error = file_.Read(path);
  if (error == 0) TakeByteOrderMark();
  return error;
}

void PhoneBookText::Assign(std::string_view bytes) {
  start_ = 0;
  file_.Assign(bytes);
  TakeByteOrderMark();
}

void PhoneBookText::TakeByteOrderMark() {
  std::string_view bytes = file_.view();
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    start_ = 3;
  } else if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    bool bigEndian = bytes[0] == '\xFE';
    file_.Assign(Utf16ToLocaleText(bytes.substr(2), bigEndian));
  }
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

std::optional<std::string_view> FindNameInBook(const PhoneBookText& book, std::string_view number) {
  if (HasNoLetterCase(number)) return FindLineStartingWith(BeforeNul(book.text()), number);
  const Encoding encoding;
  for (std::string_view line : book.lines()) {
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (SameIgnoringCase(line.substr(0, eq), number, encoding)) return line.substr(eq + 1);
  }
  return std::nullopt;
}

}  // namespace annc
