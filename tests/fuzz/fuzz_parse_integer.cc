// ParseInteger on arbitrary bytes, against a second implementation of the
// same rules written differently: significant digits are counted instead of
// checking for overflow while accumulating.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "text/parse_integer.h"

namespace {

int HexValue(char c) {
  static const std::string_view kDigits = "0123456789abcdef";
  char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  std::size_t at = kDigits.find(lower);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

bool AllDecimal(std::string_view s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string_view WithoutLeadingZeros(std::string_view s) {
  std::size_t first = s.find_first_not_of('0');
  return first == std::string_view::npos ? std::string_view() : s.substr(first);
}

// One or more hexadecimal digits whose value fits in 32 bits, as a pattern.
std::optional<std::int32_t> ReferenceHex(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  for (char c : digits) {
    if (HexValue(c) < 0) return std::nullopt;
  }
  std::string_view significant = WithoutLeadingZeros(digits);
  if (significant.size() > 8) return std::nullopt;
  std::uint32_t pattern = 0;
  for (char c : significant) pattern = (pattern << 4) | static_cast<std::uint32_t>(HexValue(c));
  return static_cast<std::int32_t>(pattern);
}

// An optional sign, then one or more decimal digits in the int32 range.
std::optional<std::int32_t> ReferenceDecimal(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || !AllDecimal(text)) return std::nullopt;
  std::string_view significant = WithoutLeadingZeros(text);
  if (significant.size() > 10) return std::nullopt;
  std::int64_t magnitude = significant.empty() ? 0 : std::stoll(std::string(significant));
  std::int64_t value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> Reference(std::string_view text) {
  std::size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) return std::nullopt;  // empty or only blanks
  text.remove_prefix(start);
  if (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X") return ReferenceHex(text.substr(2));
  if (text[0] == '$' || text[0] == 'x' || text[0] == 'X') return ReferenceHex(text.substr(1));
  return ReferenceDecimal(text);
}

std::string Show(const std::optional<std::int32_t>& v) {
  return v ? std::to_string(*v) : std::string("none");
}

void Expect(bool ok, std::string_view what, std::string_view text, const std::optional<std::int32_t>& got,
            const std::optional<std::int32_t>& want) {
  if (ok) return;
  std::fprintf(stderr, "%.*s: input of %zu bytes \"", static_cast<int>(what.size()), what.data(), text.size());
  for (unsigned char c : text) std::fprintf(stderr, c >= 32 && c < 127 ? "%c" : "\\x%02x", c);
  std::fprintf(stderr, "\": ParseInteger gave %s, expected %s\n", Show(got).c_str(), Show(want).c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<std::int32_t> got = annc::ParseInteger(text);
  std::optional<std::int32_t> want = Reference(text);
  Expect(got == want, "mismatch", text, got, want);

  // Blanks in front never change the result; one behind always refuses it.
  std::string blankFirst = "  " + std::string(text);
  std::optional<std::int32_t> shifted = annc::ParseInteger(blankFirst);
  Expect(shifted == got, "leading blanks changed the result", blankFirst, shifted, got);
  std::string blankLast = std::string(text) + " ";
  std::optional<std::int32_t> trailing = annc::ParseInteger(blankLast);
  Expect(!trailing, "trailing blank accepted", blankLast, trailing, std::nullopt);

  // Every value found reads back from its decimal and its hexadecimal form.
  if (got) {
    std::string decimal = std::to_string(*got);
    std::optional<std::int32_t> back = annc::ParseInteger(decimal);
    Expect(back == got, "decimal form", decimal, back, got);
    char hex[16];
    std::snprintf(hex, sizeof hex, "$%X", static_cast<unsigned>(static_cast<std::uint32_t>(*got)));
    back = annc::ParseInteger(hex);
    Expect(back == got, "hexadecimal form", hex, back, got);
  }
  return 0;
}
