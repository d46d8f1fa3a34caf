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

}  // namespace
}  // namespace annc
