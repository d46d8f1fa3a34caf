// The one integer conversion for the serial handle, the clock readings and
// the digit groups of a number.
#ifndef ANNC_TEXT_PARSE_INTEGER_H_
#define ANNC_TEXT_PARSE_INTEGER_H_

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

// The value of a hexadecimal digit of either case, -1 for any other byte.
int HexDigit(char c);

}  // namespace annc

#endif  // ANNC_TEXT_PARSE_INTEGER_H_
