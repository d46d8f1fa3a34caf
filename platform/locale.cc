#include "platform/locale.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <clocale>
#include <cstring>

#include "text/caseless.h"

namespace annc {

void UseEnvironmentLocale() {
  std::setlocale(LC_CTYPE, "");
  std::setlocale(LC_TIME, "");
  std::setlocale(LC_COLLATE, "");
  // System error texts in the log speak the user's language.
  std::setlocale(LC_MESSAGES, "");
}

Charset LocaleCharset() { return LocaleIsUtf8() ? Charset::kUtf8 : Charset::kSingleByte; }

Charset EnvironmentCharset() {
  locale_t locale = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return Charset::kSingleByte;
  const char* codeset = ::nl_langinfo_l(CODESET, locale);
  bool utf8 = codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
  ::freelocale(locale);
  return utf8 ? Charset::kUtf8 : Charset::kSingleByte;
}

namespace {

// Skips one conversion at `p` (just after its '%'): flags, width and the E
// or O modifier. Returns the conversion character, or '\0' at the end.
char ConversionAt(std::string_view format, std::size_t* p) {
  while (*p < format.size()) {
    char c = format[*p];
    if (c == '-' || c == '_' || c == '0' || c == '^' || c == '#' || c == 'E' || c == 'O' ||
        (c >= '1' && c <= '9')) {
      ++*p;
      continue;
    }
    ++*p;
    return c;
  }
  return '\0';
}

bool IsSeparatorChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  bool printable = u >= 0x20 && u < 0x7f;
  bool alphanumeric = (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
  return printable && !alphanumeric;
}

}  // namespace

char TimeSeparatorOf(std::string_view timeFormat) {
  std::size_t p = 0;
  // Up to the hour: a conversion that writes hours and minutes itself
  // joins them with a colon.
  for (;;) {
    while (p < timeFormat.size() && timeFormat[p] != '%') ++p;
    if (p >= timeFormat.size()) return ':';
    ++p;
    char c = ConversionAt(timeFormat, &p);
    if (c == 'H' || c == 'I' || c == 'k' || c == 'l') break;
    if (c == '\0' || c == 'T' || c == 'R' || c == 'r' || c == 'X') return ':';
  }
  // The text between the hour and the next conversion, which must be the
  // minute.
  std::string between;
  for (;;) {
    if (p >= timeFormat.size()) return ':';
    if (timeFormat[p] != '%') {
      between += timeFormat[p++];
      continue;
    }
    ++p;
    char c = ConversionAt(timeFormat, &p);
    if (c == '%') {
      between += '%';
      continue;
    }
    if (c != 'M') return ':';
    break;
  }
  return between.size() == 1 && IsSeparatorChar(between[0]) ? between[0] : ':';
}

char LocaleTimeSeparator() {
  const char* format = ::nl_langinfo(T_FMT);
  return format != nullptr ? TimeSeparatorOf(format) : ':';
}

namespace {

unsigned Utf16Unit(const char* p, bool bigEndian) {
  unsigned char a = static_cast<unsigned char>(p[0]);
  unsigned char b = static_cast<unsigned char>(p[1]);
  return bigEndian ? (a << 8 | b) : (b << 8 | a);
}

// The bytes of the character at `p` that the converter refused: a valid
// surrogate pair is one character, anything else one code unit.
std::size_t RefusedCharSize(const char* p, std::size_t left, bool bigEndian) {
  if (left >= 4) {
    unsigned high = Utf16Unit(p, bigEndian);
    unsigned low = Utf16Unit(p + 2, bigEndian);
    if (high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) return 4;
  }
  return left >= 2 ? 2 : left;
}

constexpr char kReplacement = '?';

}  // namespace

std::string Utf16ToLocaleText(std::string_view utf16, bool bigEndian) {
  std::string out;
  const char* codeset = ::nl_langinfo(CODESET);
  iconv_t cd = ::iconv_open(codeset != nullptr && *codeset != '\0' ? codeset : "ASCII",
                            bigEndian ? "UTF-16BE" : "UTF-16LE");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // No converter for this locale: ASCII passes, everything else is
    // replaced.
    for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) {
      unsigned unit = Utf16Unit(utf16.data() + i, bigEndian);
      out += unit < 0x80 ? static_cast<char>(unit) : kReplacement;
    }
    if (utf16.size() % 2 != 0) out += kReplacement;
    return out;
  }
  char* in = const_cast<char*>(utf16.data());
  std::size_t inLeft = utf16.size();
  // Room for the usual case: at most three bytes per code unit.
  out.resize(utf16.size() / 2 * 3 + 16);
  std::size_t used = 0;
  while (inLeft > 0) {
    char* outPtr = out.data() + used;
    std::size_t outLeft = out.size() - used;
    std::size_t done = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    int error = errno;
    used = static_cast<std::size_t>(outPtr - out.data());
    if (done != static_cast<std::size_t>(-1)) break;
    if (error == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // A character that cannot be converted, a broken surrogate or an odd
    // last byte: one '?' and on with the rest.
    if (used == out.size()) out.resize(out.size() * 2);
    out[used++] = kReplacement;
    std::size_t skip = RefusedCharSize(in, inLeft, bigEndian);
    in += skip;
    inLeft -= skip;
  }
  // The end of the text: an encoding with shift states returns to its
  // initial one.
  for (;;) {
    char* outPtr = out.data() + used;
    std::size_t outLeft = out.size() - used;
    std::size_t done = ::iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    int error = errno;
    used = static_cast<std::size_t>(outPtr - out.data());
    if (done != static_cast<std::size_t>(-1) || error != E2BIG) break;
    out.resize(out.size() * 2);
  }
  ::iconv_close(cd);
  out.resize(used);
  return out;
}

}  // namespace annc
