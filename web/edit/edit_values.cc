#include "web/edit/edit_values.h"

namespace annc {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 character at the front of `bytes`
// and its code point; 0 when the front is not one.
std::size_t CharacterAt(std::string_view bytes, char32_t* code) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  unsigned char lead = byte(0);
  if (lead < 0x80) {
    *code = lead;
    return 1;
  }
  std::size_t length;
  char32_t value;
  char32_t least;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code = value;
  return length;
}

bool IsControl(char32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

}  // namespace

std::string_view TrimSpaces(std::string_view value) {
  while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
  return value;
}

bool IsUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t code;
    std::size_t length = CharacterAt(bytes.substr(i), &code);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string ShownText(std::string_view bytes) {
  std::string shown;
  shown.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t code;
    std::size_t length = CharacterAt(bytes.substr(i), &code);
    if (length == 0 || (IsControl(code) && code != '\t')) {
      shown += kReplacement;
      i += length == 0 ? 1 : length;
      continue;
    }
    shown.append(bytes.substr(i, length));
    i += length;
  }
  return shown;
}

std::string NumberProblem(std::string_view number) {
  if (number.empty()) return "the number is empty";
  if (number.size() >= kMaxNumberBytes) {
    return "the number is longer than " + std::to_string(kMaxNumberBytes - 1) + " characters";
  }
  std::string_view digits = number.front() == '+' ? number.substr(1) : number;
  if (digits.empty()) return "the number has no digits";
  for (char c : digits) {
    if (c < '0' || c > '9') return "the number may hold only digits, after an optional leading +";
  }
  return "";
}

std::string TextProblem(std::string_view value, std::string_view what, bool mayBeEmpty) {
  std::string name(what);
  if (value.empty()) return mayBeEmpty ? "" : name + " is empty";
  if (value.size() > kMaxValueBytes) return name + " is longer than " + std::to_string(kMaxValueBytes) + " bytes";
  for (std::size_t i = 0; i < value.size();) {
    char32_t code;
    std::size_t length = CharacterAt(value.substr(i), &code);
    if (length == 0) return name + " is not valid UTF-8";
    if (code == '\r' || code == '\n') return name + " holds a line end";
    if (code == 0) return name + " holds a NUL byte";
    if (IsControl(code)) return name + " holds a control character";
    i += length;
  }
  return "";
}

std::string OneLine(std::string_view text) {
  std::string line = ShownText(text);
  for (char& c : line) {
    if (c == '\t') c = ' ';
  }
  return line;
}

}  // namespace annc
