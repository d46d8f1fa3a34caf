#include "line/sources/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace annc {
namespace {

using V = std::vector<std::string>;

V Read(LineReader& reader, std::string_view bytes) {
  V lines;
  reader.Feed(bytes, [&lines](std::string_view line) { lines.emplace_back(line); });
  return lines;
}

V ReadAll(std::string_view bytes, std::size_t max = 256) {
  LineReader reader(max);
  return Read(reader, bytes);
}

TEST(LineReaderTest, LineEndsAndBlankFraming) {
  EXPECT_EQ(ReadAll("\r\nRING\r\n\r\nDATE = 1124\r\n"), (V{"RING", "DATE = 1124"}));
  EXPECT_EQ(ReadAll("a\rb\nc\r\nd\n\re"), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(ReadAll("ATZ\r\r\nOK\r\n"), (V{"ATZ", "OK"}));  // echo, then the framed answer
  EXPECT_EQ(ReadAll("\r\n\r\n\n\r"), (V{}));
}

TEST(LineReaderTest, LinesAcrossReads) {
  LineReader reader(256);
  EXPECT_EQ(Read(reader, "RI"), V{});
  EXPECT_EQ(Read(reader, "NG\r"), V{"RING"});
  // The LF of a CR LF split across two reads ends nothing more.
  EXPECT_EQ(Read(reader, "\nNMBR = 1\r"), V{"NMBR = 1"});
  EXPECT_EQ(Read(reader, "\n"), V{});
  EXPECT_EQ(Read(reader, "x"), V{});
  reader.Reset();
  EXPECT_EQ(Read(reader, "y\n"), V{"y"});
}

TEST(LineReaderTest, OverlongLinesAreCutAndTheRestDropped) {
  std::string huge(100000, 'A');
  EXPECT_EQ(ReadAll(huge + "\r\nRING\r\n"), (V{std::string(256, 'A'), "RING"}));
  EXPECT_EQ(ReadAll(std::string(257, 'B') + "\n", 256), (V{std::string(256, 'B')}));
  EXPECT_EQ(ReadAll(std::string(256, 'C') + "\n", 256), (V{std::string(256, 'C')}));
  LineReader reader(8);
  Read(reader, huge);
  EXPECT_EQ(reader.pending(), 8u);  // memory stays bounded without a line end
}

TEST(LineReaderTest, EachCutIsToldOnceWhenItHappens) {
  // The chunks fed one after the other to a reader of 8-byte lines; the
  // trace has each line and "cut" where the reader told of one.
  struct Case {
    const char* name;
    V chunks;
    V trace;
  };
  const Case cases[] = {
      {"a line of exactly the bound is no cut", {"12345678\n"}, {"12345678"}},
      {"one byte more is, told before the line ends", {"123456789", "\n"}, {"cut", "12345678"}},
      {"a line that never ends is told of all the same", {std::string(100000, 'x')}, {"cut"}},
      {"one cut per line, however long", {std::string(20, 'a'), std::string(20, 'a'), "\r\n", "b\r\n"},
       {"cut", "aaaaaaaa", "b"}},
      {"two long lines, two cuts", {std::string(9, 'a') + "\r" + std::string(9, 'b') + "\n"},
       {"cut", "aaaaaaaa", "cut", "bbbbbbbb"}},
  };
  for (const Case& c : cases) {
    LineReader reader(8);
    V trace;
    for (const std::string& chunk : c.chunks) {
      reader.Feed(
          chunk, [&trace](std::string_view line) { trace.emplace_back(line); }, [&trace] { trace.push_back("cut"); });
      ASSERT_LE(reader.pending(), 8u) << c.name;
    }
    EXPECT_EQ(trace, c.trace) << c.name;
  }
  // A partial line forgotten takes its cut with it.
  LineReader reader(4);
  int cuts = 0;
  auto ignore = [](std::string_view) {};
  reader.Feed("123456", ignore, [&cuts] { ++cuts; });
  reader.Reset();
  reader.Feed("abcdefgh\n", ignore, [&cuts] { ++cuts; });
  EXPECT_EQ(cuts, 2);
}

}  // namespace
}  // namespace annc
