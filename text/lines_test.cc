#include "text/lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace annc {
namespace {

std::vector<std::string> LinesOf(std::string_view text) {
  std::vector<std::string> lines;
  for (std::string_view line : Lines(text)) lines.emplace_back(line);
  return lines;
}

using V = std::vector<std::string>;

TEST(LinesTest, LineEnds) {
  EXPECT_EQ(LinesOf("a\r\nb\r\n"), (V{"a", "b"}));
  EXPECT_EQ(LinesOf("a\nb\n"), (V{"a", "b"}));
  EXPECT_EQ(LinesOf("a\rb\r"), (V{"a", "b"}));
  EXPECT_EQ(LinesOf("a\n\rb"), (V{"a", "", "b"}));  // LF CR: a line end, then an empty line
  EXPECT_EQ(LinesOf("a\r\r\nb"), (V{"a", "", "b"}));
  EXPECT_EQ(LinesOf("a\n\nb"), (V{"a", "", "b"}));
  EXPECT_EQ(LinesOf("last"), (V{"last"}));
  EXPECT_EQ(LinesOf(""), (V{}));
  EXPECT_EQ(LinesOf("\r\n"), (V{""}));
  EXPECT_EQ(LinesOf("\n\n"), (V{"", ""}));
}

TEST(LinesTest, NulEndsTheText) {
  EXPECT_EQ(LinesOf(std::string_view("a=1\nb=2\0c=3\n", 13)), (V{"a=1", "b=2"}));
  EXPECT_EQ(LinesOf(std::string_view("\0a=1", 4)), (V{}));
}

}  // namespace
}  // namespace annc
