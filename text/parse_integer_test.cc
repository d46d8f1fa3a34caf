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

TEST(ParseDecimalTest, DigitsOnlyWithinTheirCount) {
  struct Case {
    const char* text;
    std::size_t maxDigits;
    bool allowMinus;
    std::optional<long long> want;
  };
  const Case cases[] = {
      {"0", 1, false, 0},
      {"7", 1, false, 7},
      {"86400", 6, false, 86400},
      {"000123", 6, false, 123},
      {"0000123", 6, false, std::nullopt},  // leading zeros count as digits
      {"115200", 8, false, 115200},
      {"9999999999", 10, false, 9999999999LL},
      {"999999999999999999", 18, false, 999999999999999999LL},
      {"9999999999999999999", 30, false, std::nullopt},  // more than 18 digits never fit
      {"-5", 9, true, -5},
      {"-0", 9, true, 0},
      {"-123456789", 9, true, -123456789},
      {"-1234567890", 9, true, std::nullopt},  // the '-' is not a digit, the ten digits are too many
      {"-5", 9, false, std::nullopt},
      {"-", 9, true, std::nullopt},
      {"--5", 9, true, std::nullopt},
      {"+5", 9, true, std::nullopt},
      {"", 9, false, std::nullopt},
      {" 5", 9, false, std::nullopt},
      {"5 ", 9, false, std::nullopt},
      {"1.5", 9, false, std::nullopt},
      {"0x10", 9, false, std::nullopt},
      {"$10", 9, false, std::nullopt},
      {"12a", 9, false, std::nullopt},
      {"5", 0, false, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseDecimal(c.text, c.maxDigits, c.allowMinus), c.want)
        << '"' << c.text << "\" max " << c.maxDigits << (c.allowMinus ? " minus" : "");
  }
}

}  // namespace
}  // namespace annc
