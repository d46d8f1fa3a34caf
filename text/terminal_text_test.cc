#include "text/terminal_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace annc {
namespace {

TEST(TextTest, OemTextKeepsEveryByte) {
  std::string text(5000, 'x');
  text[10] = '\xe9';
  EXPECT_EQ(ToOemText(text), text);
}

TEST(TextTest, CaretNotationNeutralisesControlBytes) {
  for (Charset charset : {Charset::kSingleByte, Charset::kUtf8}) {
    EXPECT_EQ(CaretNotation("a\x1b]0;evil\x07z", "", charset), "a^[]0;evil^Gz");
    EXPECT_EQ(CaretNotation(std::string("\0\x7f\t", 3), "\t", charset), "^@^?\t");
    EXPECT_EQ(CaretNotation("R\rI\n\b", "\r\n\b", charset), "R\rI\n\b");
  }
  EXPECT_EQ(CaretNotation("\xd0\x90\xc3\xa9", "", Charset::kUtf8), "\xd0\x90\xc3\xa9");  // UTF-8 passes
}

struct C1Case {
  const char* what;
  Charset charset;
  std::string text;
  std::string shown;   // CaretNotation(text, "")
  std::string titled;  // WithoutControlBytes(text)
};

// The C1 controls around their boundaries in both kinds of locale; what is
// not a control passes as it is.
const C1Case kC1Cases[] = {
    {"DEL, single byte", Charset::kSingleByte, "a\x7f" "b", "a^?b", "ab"},
    {"0x80", Charset::kSingleByte, "a\x80" "b", "aM-^@b", "ab"},
    {"CSI", Charset::kSingleByte, "\x9b" "2J", "M-^[2J", "2J"},
    {"0x9f", Charset::kSingleByte, "a\x9f", "aM-^_", "a"},
    {"NBSP is a letter in Latin-1", Charset::kSingleByte, "\xa0\xe9\xff", "\xa0\xe9\xff", "\xa0\xe9\xff"},
    {"UTF-8 bytes in a Latin-1 locale", Charset::kSingleByte, "\xc2\x9b", "\xc2M-^[", "\xc2"},
    {"mixed with C0", Charset::kSingleByte, "\x1b[1m\x9b" "1m\x85\t", "^[[1mM-^[1mM-^E^I", "[1m1m"},
    {"U+007F after C2 is DEL", Charset::kUtf8, "\xc2\x7f", "\xc2^?", "\xc2"},
    {"U+0080", Charset::kUtf8, "a\xc2\x80" "b", "aM-^@b", "ab"},
    {"U+009B", Charset::kUtf8, "\xc2\x9b" "2J", "M-^[2J", "2J"},
    {"U+009F", Charset::kUtf8, "\xc2\x9f", "M-^_", ""},
    {"U+00A0 and letters pass", Charset::kUtf8, "\xc2\xa0\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",
     "\xc2\xa0\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "\xc2\xa0\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
    {"a lone 0x9b is invalid UTF-8, kept", Charset::kUtf8, "a\x9b" "b", "a\x9b" "b", "a\x9b" "b"},
    {"C2 at the end", Charset::kUtf8, "ab\xc2", "ab\xc2", "ab\xc2"},
    {"C2 before ASCII", Charset::kUtf8, "\xc2" "A", "\xc2" "A", "\xc2" "A"},
    {"C2 C2 9B", Charset::kUtf8, "\xc2\xc2\x9b", "\xc2M-^[", "\xc2"},
    {"continuation bytes of other letters", Charset::kUtf8, "\xd0\x9b\xe2\x80\x9c", "\xd0\x9b\xe2\x80\x9c",
     "\xd0\x9b\xe2\x80\x9c"},
    {"C0 dropped from between C2 and 9B", Charset::kUtf8, "\xc2\x01\x02\x9b" "A", "\xc2^A^B\x9b" "A", "A"},
    {"mixed with C0", Charset::kUtf8, "\x1b[1m\xc2\x9b" "1m\xc2\x85\t", "^[[1mM-^[1mM-^E^I", "[1m1m"},
};

TEST(TextTest, C1ControlsShownAsCatDoes) {
  for (const C1Case& c : kC1Cases) {
    EXPECT_EQ(CaretNotation(c.text, "", c.charset), c.shown) << c.what;
    EXPECT_EQ(WithoutControlBytes(c.text, c.charset), c.titled) << c.what;
  }
}

TEST(TextTest, StreamHoldsTheLeadOfAUtf8C1ControlBackUntilTheNextPiece) {
  struct Case {
    const char* what;
    Charset charset;
    std::vector<std::string> pieces;
    std::vector<std::string> shown;  // after each piece
    std::string flushed;
  };
  const Case cases[] = {
      {"C2 then 9B", Charset::kUtf8, {"a\xc2", "\x9b" "b"}, {"a", "M-^[b"}, ""},
      {"C2 then a letter", Charset::kUtf8, {"\xc2", "\xa9"}, {"", "\xc2\xa9"}, ""},
      {"C2 then C2 then 80", Charset::kUtf8, {"\xc2", "\xc2", "\x80"}, {"", "\xc2", "M-^@"}, ""},
      {"C2 left at the end", Charset::kUtf8, {"x", "\xc2"}, {"x", ""}, "\xc2"},
      {"byte by byte, C0 kept", Charset::kUtf8, {"\r", "\xc2", "\x85", "\n"}, {"\r", "", "M-^E", "\n"}, ""},
      {"single byte: nothing held", Charset::kSingleByte, {"\xc2", "\x9b"}, {"\xc2", "M-^["}, ""},
  };
  for (const Case& c : cases) {
    CaretNotationStream stream;
    for (std::size_t i = 0; i < c.pieces.size(); ++i) {
      EXPECT_EQ(stream.Take(c.pieces[i], "\r\n", c.charset), c.shown[i]) << c.what << ", piece " << i;
    }
    EXPECT_EQ(stream.Flush(), c.flushed) << c.what;
    EXPECT_EQ(stream.Flush(), "") << c.what;
  }
}

TEST(TextTest, TitleTextAndTrim) {
  EXPECT_EQ(WithoutControlBytes("a\x1b]2;x\x07" "b\x7f\tc\xc3\xa9", Charset::kUtf8), "a]2;xbc\xc3\xa9");
  EXPECT_EQ(TrimBlanks(" \t 12 34\r\n"), "12 34");
  EXPECT_EQ(TrimBlanks("  "), "");
}

}  // namespace
}  // namespace annc
