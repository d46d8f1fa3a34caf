#include "line/names/caller_name.h"

#include <array>

#include "text/caseless.h"

namespace annc {

namespace {

// Spelled as NormalName gives them: upper-case ASCII, one blank between words.
constexpr std::array<std::string_view, 32> kPlaceholders = {
    "O", "P", "A", "WITHHELD", "NAME WITHHELD", "PRIVATE", "PRIVATE NAME", "PRIVATE CALLER", "PRIVATE NUMBER",
    "ANONYMOUS", "ANONYMOUS CALLER", "OUT OF AREA", "OUTOFAREA", "UNAVAILABLE", "NAME UNAVAILABLE",
    "NOT AVAILABLE", "N/A", "UNKNOWN", "UNKNOWN NAME", "UNKNOWN CALLER", "NO NAME", "NONAME", "NO NUMBER",
    "NO CALLER ID", "RESTRICTED", "BLOCKED", "CALLER ID BLOCKED", "PRIVDIROFF", "NONE", "NULL", "WIRELESS CALLER",
    "CELL PHONE"};

// Upper-case ASCII, blanks, "-", "_" and "." as single blanks between words.
std::string NormalName(std::string_view name) {
  std::string normal;
  bool gap = false;
  for (char c : name) {
    if (c == ' ' || c == '\t' || c == '-' || c == '_' || c == '.') {
      gap = true;
      continue;
    }
    if (gap && !normal.empty()) normal += ' ';
    gap = false;
    normal += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return normal;
}

bool HasLetter(std::string_view name) {
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    // Any character beyond ASCII counts: names in other scripts.
    if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u >= 0x80) return true;
  }
  return false;
}

// One character decoded from UTF-8: its code point, or -1 for a byte that
// does not start a well-formed character (overlong forms, surrogates and
// values past U+10FFFF included); `size` the bytes taken.
struct Decoded {
  long code;
  std::size_t size;
};

Decoded DecodeUtf8(std::string_view text, std::size_t at) {
  unsigned char b0 = static_cast<unsigned char>(text[at]);
  if (b0 < 0x80) return {b0, 1};
  std::size_t size;
  long code;
  long least;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    size = 2, code = b0 & 0x1F, least = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    size = 3, code = b0 & 0x0F, least = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    size = 4, code = b0 & 0x07, least = 0x10000;
  } else {
    return {-1, 1};
  }
  if (text.size() - at < size) return {-1, 1};
  for (std::size_t k = 1; k < size; ++k) {
    unsigned char b = static_cast<unsigned char>(text[at + k]);
    if ((b & 0xC0) != 0x80) return {-1, 1};
    code = (code << 6) | (b & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {-1, 1};
  return {code, size};
}

// Where the escape sequence that starts at `at` (ESC, or an 8-bit CSI, OSC,
// DCS, SOS, PM or APC) ends: the position after it.
std::size_t SkipEscapeSequence(std::string_view text, std::size_t at, long introducer) {
  std::size_t i = at;
  long kind = introducer;  // the C1 meaning: 0x9B CSI, 0x9D OSC, 0x90 DCS ...
  if (introducer == 0x1B) {
    ++i;
    if (i >= text.size()) return i;
    unsigned char next = static_cast<unsigned char>(text[i]);
    if (next >= 0x40 && next <= 0x5F) {
      kind = next + 0x40;  // ESC [ is CSI, ESC ] is OSC, ...
      ++i;
    } else {
      // ESC, intermediates (0x20-0x2F), one final byte.
      while (i < text.size() && static_cast<unsigned char>(text[i]) >= 0x20 &&
             static_cast<unsigned char>(text[i]) <= 0x2F) {
        ++i;
      }
      return i < text.size() ? i + 1 : i;
    }
  } else {
    i += 2;  // the C1 character's two UTF-8 bytes
  }
  if (kind == 0x9B) {
    // Parameters and intermediates (0x20-0x3F), then one final byte 0x40-0x7E.
    while (i < text.size()) {
      unsigned char c = static_cast<unsigned char>(text[i++]);
      if (c < 0x20 || c > 0x3F) break;
    }
    return i;
  }
  if (kind == 0x9D || kind == 0x90 || kind == 0x98 || kind == 0x9E || kind == 0x9F) {
    // A string, ended by BEL, ESC \ or the 8-bit ST (U+009C).
    while (i < text.size()) {
      if (text[i] == '\a') return i + 1;
      if (text[i] == '\x1b') return i + 1 < text.size() && text[i + 1] == '\\' ? i + 2 : i + 1;
      if (text.substr(i, 2) == "\xC2\x9C") return i + 2;
      ++i;
    }
    return i;
  }
  return i;  // ESC and one byte of 0x40-0x5F: a two-byte sequence
}

}  // namespace

bool IsPlaceholderName(std::string_view name) {
  if (!HasLetter(name)) return true;
  std::string normal = NormalName(name);
  for (std::string_view placeholder : kPlaceholders) {
    if (normal == placeholder) return true;
  }
  return false;
}

std::optional<std::string> ChooseCallerName(std::optional<std::string_view> bookName, std::string_view networkName) {
  if (bookName) {
    std::string name = SpeakableName(*bookName);
    if (!name.empty()) return name;
  }
  if (IsPlaceholderName(networkName)) return std::nullopt;
  std::string name = SpeakableName(networkName);
  // The cleaning may leave a placeholder or nothing ("\x1b[1mP").
  if (name.empty() || IsPlaceholderName(name)) return std::nullopt;
  return name;
}

std::string SpeakableName(std::string_view raw) {
  std::string out;
  std::size_t characters = 0;
  bool gap = false;
  std::size_t i = 0;
  while (i < raw.size() && characters < kMaxSpokenNameCharacters) {
    Decoded d = DecodeUtf8(raw, i);
    if (d.code < 0) {
      ++i;
      continue;
    }
    if (d.code == 0x1B || d.code == 0x9B || d.code == 0x9D || d.code == 0x90 || d.code == 0x98 ||
        d.code == 0x9E || d.code == 0x9F) {
      i = SkipEscapeSequence(raw, i, d.code);
      continue;
    }
    std::size_t at = i;
    i += d.size;
    bool blank = d.code == ' ' || d.code == '\t' || d.code == '\n' || d.code == '\r' || d.code == '\v' ||
                 d.code == '\f' || d.code == '[' || d.code == ']' || d.code == '<' || d.code == '>' ||
                 d.code == 0xA0;
    if (blank) {
      gap = true;
      continue;
    }
    if (d.code < 0x20 || (d.code >= 0x7F && d.code <= 0x9F)) continue;  // other control characters
    if (gap && !out.empty()) {
      if (characters + 1 >= kMaxSpokenNameCharacters) break;
      out += ' ';
      ++characters;
    }
    gap = false;
    out.append(raw.substr(at, d.size));
    ++characters;
  }
  return out;
}

}  // namespace annc
