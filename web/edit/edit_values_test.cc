#include "web/edit/edit_values.h"

#include <gtest/gtest.h>

#include <string>

namespace annc {
namespace {

TEST(EditValuesTest, Numbers) {
  struct Case {
    std::string number;
    bool fine;
  };
  const Case cases[] = {
      {"5551234", true},          {"+4930123", true},  {"0", true},
      {std::string(31, '9'), true}, {std::string(32, '9'), false}, {"", false},
      {"+", false},               {"++1", false},      {"1+", false},
      {"555 1234", false},        {"555-1234", false}, {"1=2", false},
      {"12a", false},             {"\xD9\xA1", false},  // ARABIC-INDIC DIGIT ONE
      {std::string("1\0", 2), false},
  };
  for (const Case& c : cases) EXPECT_EQ(NumberProblem(c.number).empty(), c.fine) << c.number;
}

TEST(EditValuesTest, Texts) {
  struct Case {
    std::string text;
    bool mayBeEmpty;
    std::string reason;  // empty when fine, else a part of it
  };
  const Case cases[] = {
      {"Car warranty", false, ""},
      {"Jos\xC3\xA9 \xF0\x9F\x93\x9E", false, ""},
      {"", true, ""},
      {"", false, "is empty"},
      {std::string(200, 'x'), false, ""},
      {std::string(201, 'x'), false, "longer than 200 bytes"},
      {"a\nb", false, "line end"},
      {"a\rb", false, "line end"},
      {std::string("a\0b", 3), false, "NUL"},
      {"a\tb", false, "control"},
      {"a\x7f", false, "control"},
      {"a\xC2\x9B", false, "control"},      // C1 CSI
      {"\xC0\xAF", false, "UTF-8"},         // overlong
      {"\xED\xA0\x80", false, "UTF-8"},     // a surrogate
      {"\xF4\x90\x80\x80", false, "UTF-8"}, // past U+10FFFF
      {"\xE2\x82", false, "UTF-8"},         // cut short
  };
  for (const Case& c : cases) {
    std::string why = TextProblem(c.text, "the label", c.mayBeEmpty);
    if (c.reason.empty()) {
      EXPECT_EQ(why, "") << c.text;
    } else {
      EXPECT_NE(why.find(c.reason), std::string::npos) << c.text << ": " << why;
      EXPECT_TRUE(why.starts_with("the label")) << why;
    }
  }
}

TEST(EditValuesTest, ShownTextAndOneLine) {
  struct Case {
    std::string bytes;
    std::string shown;
    std::string line;
  };
  const Case cases[] = {
      {"plain", "plain", "plain"},
      {"Jos\xC3\xA9", "Jos\xC3\xA9", "Jos\xC3\xA9"},
      {"a\tb", "a\tb", "a b"},
      {"a\nb\r", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD"},
      {"\xFF\xC3", "\xEF\xBF\xBD\xEF\xBF\xBD", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xC2\x85!", "\xEF\xBF\xBD!", "\xEF\xBF\xBD!"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShownText(c.bytes), c.shown) << c.bytes;
    EXPECT_EQ(OneLine(c.bytes), c.line) << c.bytes;
  }
  EXPECT_EQ(TrimSpaces("  a b  "), "a b");
  EXPECT_EQ(TrimSpaces("\ta\t"), "\ta\t");
  EXPECT_TRUE(IsUtf8("Jos\xC3\xA9"));
  EXPECT_FALSE(IsUtf8("Jos\xE9"));
}

}  // namespace
}  // namespace annc
