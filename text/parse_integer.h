// The one integer conversion for the serial handle, the clock readings and
// the digit groups of a number, and the strict decimal reading for
// annc-line's switches, lock files and protocol fields.
#ifndef ANNC_TEXT_PARSE_INTEGER_H_
#define ANNC_TEXT_PARSE_INTEGER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace annc {

// Leading blanks (code 32) are skipped; then either an optional sign and
// decimal digits in the signed 32-bit range, or, without a sign, a
// hexadecimal prefix ($, x, X, 0x, 0X) and hexadecimal digits whose value
// fits in 32 bits, taken as a 32-bit pattern ($FFFFFFFF is -1). Anything
// else, trailing blanks included, is not an integer.
std::optional<std::int32_t> ParseInteger(std::string_view text);

// 1 to `maxDigits` ASCII decimal digits (leading zeros count) and nothing
// else: no blank, no '+'; a leading '-' only when `allowMinus`. `maxDigits`
// above 18 is taken as 18, so the value always fits.
std::optional<long long> ParseDecimal(std::string_view text, std::size_t maxDigits, bool allowMinus = false);

// The value of a hexadecimal digit of either case, -1 for any other byte.
int HexDigit(char c);

}  // namespace annc

#endif  // ANNC_TEXT_PARSE_INTEGER_H_
