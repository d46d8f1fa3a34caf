#include "text/parse_integer.h"

#include <gtest/gtest.h>

namespace annc {
namespace {

std::optional<std::int32_t> P(const char* s) { return ParseInteger(s); }

TEST(ParseIntegerTest, Decimal) {
  EXPECT_EQ(P("0"), 0);
  EXPECT_EQ(P("7"), 7);
  EXPECT_EQ(P("007"), 7);
  EXPECT_EQ(P("050"), 50);
  EXPECT_EQ(P("+12"), 12);
  EXPECT_EQ(P("-5"), -5);
  EXPECT_EQ(P("-0"), 0);
  EXPECT_EQ(P("   42"), 42);  // leading blanks are skipped
  EXPECT_EQ(P("2147483647"), 2147483647);
  EXPECT_EQ(P("-2147483648"), INT32_MIN);
  EXPECT_EQ(P("000000000000000000002147483647"), 2147483647);  // leading zeros are free
}

TEST(ParseIntegerTest, DecimalOutOfRangeIsNotAnInteger) {
  EXPECT_EQ(P("2147483648"), std::nullopt);
  EXPECT_EQ(P("-2147483649"), std::nullopt);
  EXPECT_EQ(P("99999999999999999999"), std::nullopt);
}

TEST(ParseIntegerTest, Hexadecimal) {
  EXPECT_EQ(P("$B4"), 180);
  EXPECT_EQ(P("xff"), 255);
  EXPECT_EQ(P("XfF"), 255);
  EXPECT_EQ(P("0x10"), 16);
  EXPECT_EQ(P("0X1a"), 26);
  EXPECT_EQ(P("x45"), 69);
  EXPECT_EQ(P("  $7FFFFFFF"), 2147483647);
  EXPECT_EQ(P("$FFFFFFFF"), -1);         // a 32-bit pattern
  EXPECT_EQ(P("$80000000"), INT32_MIN);
  EXPECT_EQ(P("$0000000000FFFFFFFF"), -1);  // leading zeros do not count
  EXPECT_EQ(P("$100000000"), std::nullopt);  // more than 32 bits
}

TEST(ParseIntegerTest, AnythingElseIsNotAnInteger) {
  for (const char* text : {"", " ", "-", "+", "$", "x", "0x", "12 ", " 12 ", "1 2", "12x", "abc", "Unknown",
                           "-$5", "+0x5", "-x1", "\t5", "5\n", "0x-1", "$G", "1e3", "++1", "--1", "٣"}) {
    EXPECT_EQ(P(text), std::nullopt) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace annc
