#include "log/text.h"

#include <gtest/gtest.h>

namespace annc {
namespace {

TEST(ChangeExtensionTest, ReplacesOrAppends) {
  EXPECT_EQ(ChangeExtension("/opt/calls/annc.bin", "log"), "/opt/calls/annc.log");
  EXPECT_EQ(ChangeExtension("/opt/my.dir/annc", "log"), "/opt/my.dir/annc.log");
  EXPECT_EQ(ChangeExtension("annc.", "log"), "annc.log");
  EXPECT_EQ(ChangeExtension("annc", "log"), "annc.log");
  EXPECT_EQ(ChangeExtension("build/annc", "log"), "build/annc.log");
  EXPECT_EQ(ChangeExtension("", "log"), ".log");
  // A colon is an ordinary character here.
  EXPECT_EQ(ChangeExtension("/a/c:annc", "log"), "/a/c:annc.log");
}

TEST(ChangeExtensionTest, OnlyTheNext64CharactersDecide) {
  // A separator further than 64 characters after the dot is not seen.
  std::string path = "/x.d" + std::string(70, 'a') + "/annc";
  EXPECT_EQ(ChangeExtension(path, "log"), "/x.log");
  std::string near = "/x.d" + std::string(10, 'a') + "/annc";
  EXPECT_EQ(ChangeExtension(near, "log"), near + ".log");
  EXPECT_EQ(HasExtension("a.b/c").dotPos, 2u);
  EXPECT_FALSE(HasExtension("a.b/c").hasExtension);
  EXPECT_EQ(HasExtension("abc").dotPos, 0u);
}

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

}  // namespace
}  // namespace annc
