#include "text/terminal_text.h"

#include <gtest/gtest.h>

namespace annc {
namespace {

TEST(TextTest, OemTextKeepsEveryByte) {
  std::string text(5000, 'x');
  text[10] = '\xe9';
  EXPECT_EQ(ToOemText(text), text);
}

TEST(TextTest, CaretNotationNeutralisesControlBytes) {
  EXPECT_EQ(CaretNotation("a\x1b]0;evil\x07z", ""), "a^[]0;evil^Gz");
  EXPECT_EQ(CaretNotation(std::string("\0\x7f\t", 3), "\t"), "^@^?\t");
  EXPECT_EQ(CaretNotation("R\rI\n\b", "\r\n\b"), "R\rI\n\b");
  EXPECT_EQ(CaretNotation("\xd0\x90\xc3\xa9", ""), "\xd0\x90\xc3\xa9");  // UTF-8 passes
}

TEST(TextTest, TitleTextAndTrim) {
  EXPECT_EQ(WithoutControlBytes("a\x1b]2;x\x07" "b\x7f\tc\xc3\xa9"), "a]2;xbc\xc3\xa9");
  EXPECT_EQ(TrimBlanks(" \t 12 34\r\n"), "12 34");
  EXPECT_EQ(TrimBlanks("  "), "");
}

}  // namespace
}  // namespace annc
