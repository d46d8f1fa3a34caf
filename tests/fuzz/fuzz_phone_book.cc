// The phone book's line walk and LookUpName on arbitrary phone-book text and
// numbers, under a single-byte and UTF-8 locales.
//
// A text that starts with a byte-order mark is checked for what the mark
// does to it.
//
// Input: byte 0 picks the locale, byte 1 is the length of the number, the
// number follows (cut at a NUL, as an argument cannot hold one), and the rest
// is the file's text.
#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/phone_book.h"
#include "text/caseless.h"

namespace {

std::vector<std::string> usableLocales;
std::string currentLocale;

[[noreturn]] void Fail(const char* what, std::string_view number, std::string_view text) {
  auto show = [](std::string_view s) {
    for (unsigned char c : s) std::fprintf(stderr, c >= 32 && c < 127 ? "%c" : "\\x%02x", c);
  };
  std::fprintf(stderr, "%s (locale %s)\nnumber: \"", what, currentLocale.c_str());
  show(number);
  std::fprintf(stderr, "\"\ntext: \"");
  show(text);
  std::fprintf(stderr, "\"\n");
  std::abort();
}

void UseLocale(const std::string& name) {
  if (name == currentLocale) return;
  if (std::setlocale(LC_CTYPE, name.c_str()) == nullptr) std::abort();  // worked at start-up
  currentLocale = name;
}

// Lines as offsets and lengths into the text, found one byte at a time.
struct Piece {
  std::size_t offset;
  std::size_t length;
};

std::vector<Piece> ReferenceLines(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && text[n] != '\0') ++n;
  std::vector<Piece> pieces;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < n) {
    if (text[i] == '\r' || text[i] == '\n') {
      pieces.push_back({start, i - start});
      if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < n) pieces.push_back({start, n - start});
  return pieces;
}

// A text as the sequence of its characters in lower case under the current
// locale; a byte that does not start a valid character becomes a value no
// character has.
std::vector<std::uint32_t> Folded(std::string_view s) {
  std::vector<std::uint32_t> out;
  if (MB_CUR_MAX == 1) {
    for (unsigned char c : s) out.push_back(static_cast<std::uint32_t>(std::tolower(c)));
    return out;
  }
  std::size_t i = 0;
  while (i < s.size()) {
    std::mbstate_t state{};
    wchar_t wc = 0;
    std::size_t n = std::mbrtowc(&wc, s.data() + i, s.size() - i, &state);
    if (n == 0 || n > s.size() - i) {  // NUL, invalid or incomplete
      out.push_back(0x110000u + static_cast<unsigned char>(s[i]));
      ++i;
    } else {
      out.push_back(static_cast<std::uint32_t>(std::towlower(static_cast<std::wint_t>(wc))));
      i += n;
    }
  }
  return out;
}

std::size_t Count(std::string_view s, char c) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), c)); }

// A text with a byte-order mark: after a UTF-8 mark the rest is the text; a
// UTF-16 text becomes valid text of the locale's encoding with the same line
// ends; a name found lies inside the text.
void CheckMarkedText(const std::string& number, const std::string& text) {
  annc::PhoneBook.Assign(text);
  const std::string_view book = annc::PhoneBook.text();
  if (text.starts_with("\xEF\xBB\xBF")) {
    if (book != std::string_view(text).substr(3)) Fail("phone book: UTF-8 mark not dropped", number, text);
  } else {
    bool bigEndian = text[0] == '\xFE';
    std::size_t lf = 0, cr = 0;
    for (std::size_t i = 2; i + 1 < text.size(); i += 2) {
      unsigned char hi = static_cast<unsigned char>(text[bigEndian ? i : i + 1]);
      unsigned char lo = static_cast<unsigned char>(text[bigEndian ? i + 1 : i]);
      if (hi == 0 && lo == '\n') ++lf;
      if (hi == 0 && lo == '\r') ++cr;
    }
    if (Count(book, '\n') != lf || Count(book, '\r') != cr) Fail("phone book: UTF-16 line ends changed", number, text);
    std::mbstate_t state{};
    for (std::size_t i = 0; i < book.size();) {
      if (MB_CUR_MAX == 1) {
        if (static_cast<unsigned char>(book[i]) >= 0x80) Fail("phone book: UTF-16 gave a non-ASCII byte", number, text);
        ++i;
        continue;
      }
      wchar_t wc;
      std::size_t n = std::mbrtowc(&wc, book.data() + i, book.size() - i, &state);
      if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
        Fail("phone book: UTF-16 gave text that is not in the locale's encoding", number, text);
      }
      i += n == 0 ? 1 : n;
    }
  }
  std::optional<std::string_view> found = annc::LookUpName(number);
  if (found && (found->data() < book.data() || found->data() + found->size() > book.data() + book.size())) {
    Fail("LookUpName: name outside the phone book's text", number, text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (const char* name : {"C", "C.UTF-8", "de_DE.UTF-8", "en_US.UTF-8"}) {
    if (std::setlocale(LC_CTYPE, name) != nullptr) usableLocales.emplace_back(name);
  }
  std::setlocale(LC_CTYPE, "C");
  currentLocale = "C";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  UseLocale(usableLocales[data[0] % usableLocales.size()]);
  std::size_t numberLength = std::min<std::size_t>(data[1], size - 2);
  std::string_view rawNumber(reinterpret_cast<const char*>(data + 2), numberLength);
  std::string number(rawNumber.substr(0, rawNumber.find('\0')));
  // The file's bytes where they are, so that a read one byte too far is caught.
  const std::string_view fileBytes(reinterpret_cast<const char*>(data + 2 + numberLength),
                                   size - 2 - numberLength);
  const std::string text(fileBytes);

  std::vector<std::string_view> walked;
  for (std::string_view line : annc::Lines(fileBytes)) {
    walked.push_back(line);
    if (walked.size() > fileBytes.size()) Fail("Lines: more lines than bytes", number, text);
  }

  std::vector<Piece> want = ReferenceLines(text);
  if (walked.size() != want.size()) Fail("Lines: wrong number of lines", number, text);
  for (std::size_t k = 0; k < walked.size(); ++k) {
    if (walked[k].data() != fileBytes.data() + want[k].offset || walked[k].size() != want[k].length) {
      Fail("Lines: line at the wrong place", number, text);
    }
    if (walked[k].find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
      Fail("Lines: line holds a line end or NUL", number, text);
    }
  }
  // The lines and the line ends between them make up the text up to its first NUL.
  std::size_t covered = 0;
  for (std::string_view line : walked) {
    covered = static_cast<std::size_t>(line.data() - fileBytes.data()) + line.size();
    if (covered < text.size() && text[covered] == '\r') ++covered;
    if (covered < text.size() && text[covered] == '\n') ++covered;
  }
  if (covered != std::min(text.size(), text.find('\0'))) Fail("Lines: text not covered", number, text);

  if (text.starts_with("\xEF\xBB\xBF") || text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
    CheckMarkedText(number, text);
    return 0;
  }

  // The phone book walks its own copy of the text the same way.
  annc::PhoneBook.Assign(text);
  const std::string_view bookText = annc::PhoneBook.text();
  if (bookText != text) Fail("phone book: text changed when stored", number, text);
  std::vector<std::string_view> lines;
  for (std::string_view line : annc::PhoneBook.lines()) {
    lines.push_back(line);
    if (lines.size() > walked.size()) break;
  }
  if (lines.size() != walked.size()) Fail("phone book: wrong number of lines", number, text);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    if (lines[k].data() - bookText.data() != walked[k].data() - fileBytes.data() || lines[k] != walked[k]) {
      Fail("phone book: lines differ from those of its text", number, text);
    }
  }

  std::optional<std::string_view> found = annc::LookUpName(number);

  // The first line whose part before its first "=" folds to the same
  // characters as the number; and the first that is equal byte for byte.
  const std::vector<std::uint32_t> foldedNumber = Folded(number);
  std::optional<std::size_t> wantLine, exactLine, foundLine;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    std::size_t eq = lines[k].find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = lines[k].substr(0, eq);
    if (!wantLine && Folded(key) == foldedNumber) wantLine = k;
    if (!exactLine && key == number) exactLine = k;
    if (found && found->data() == lines[k].data() + eq + 1 && found->size() == lines[k].size() - eq - 1) {
      foundLine = k;
    }
    if (k < 64 && annc::SameIgnoringCase(key, number) != annc::SameIgnoringCase(number, key)) {
      Fail("SameIgnoringCase is not symmetric", number, text);
    }
  }
  if (found && !foundLine) Fail("LookUpName: name is not what follows the first '=' of a line", number, text);
  if (exactLine && !found) Fail("LookUpName: a byte-equal number was not found", number, text);
  if (exactLine && *foundLine > *exactLine) Fail("LookUpName: a later line won over a byte-equal one", number, text);
  if (foundLine != wantLine) Fail("LookUpName: not the first line that matches ignoring case", number, text);
  return 0;
}
