#include "line/sources/modem/cid_packet.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace annc {
namespace {

using Warnings = std::vector<std::string>;

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0x0f];
  }
  return hex;
}

// The bytes given, then the checksum that makes them all add up to 0.
std::string Checked(std::string bytes) {
  unsigned sum = 0;
  for (unsigned char b : bytes) sum += b;
  bytes.push_back(static_cast<char>((256 - sum % 256) % 256));
  return Hex(bytes);
}

// A well-formed packet: type, the payload's length, payload, checksum.
std::string Packet(char type, const std::string& payload) {
  return Checked(std::string(1, type) + static_cast<char>(payload.size()) + payload);
}

std::string Param(char tag, const std::string& data) { return std::string(1, tag) + static_cast<char>(data.size()) + data; }

const std::string kSdmfVector = "041230353131313835323430373535353030303059";
const std::string kMdmfVector = "802001083035313131383532020A3430373535353030303007084A4F484E20444F4584";

TEST(CidPacketTest, Decodes) {
  struct Case {
    std::string what;
    std::string line;
    std::string dateTime, number, name, nameAbsentReason;
    Warnings warnings;
  } cases[] = {
      {"SDMF vector", kSdmfVector, "05111852", "4075550000", "", "", {}},
      {"MDMF vector", kMdmfVector, "05111852", "4075550000", "JOHN DOE", "", {}},
      {"lower case, blanks around", " \t041230353131313835323430373535353030303059\r", "05111852", "4075550000", "", "", {}},
      {"SDMF private", Packet('\x04', "01020304P"), "01020304", "P", "", "", {}},
      {"SDMF without number", Packet('\x04', "01020304"), "01020304", "", "", "", {}},
      {"MDMF 03 without 02", Packet('\x80', Param(3, "5551234") + Param(7, "ANN LEE")), "", "5551234", "ANN LEE", "", {}},
      {"MDMF 02 wins over 03", Packet('\x80', Param(3, "15551234") + Param(2, "5551234")), "", "5551234", "", "", {}},
      {"MDMF first 02 wins", Packet('\x80', Param(2, "111") + Param(2, "222")), "", "111", "", "", {}},
      {"MDMF reasons", Packet('\x80', Param(1, "12241806") + Param(4, "O") + Param(8, "P")), "12241806", "O", "", "P", {}},
      {"MDMF 04 ignored beside a number", Packet('\x80', Param(4, "P") + Param(2, "5551234")), "", "5551234", "", "", {}},
      {"MDMF unknown tags skipped",
       Packet('\x80', Param(0x11, "xyz") + Param(2, "5551234") + Param(0x07 + 0x10, "") + Param(7, "ANN")),
       "", "5551234", "ANN", "", {}},
      {"MDMF empty payload", Packet('\x80', ""), "", "", "", "", {}},
      // Damaged packets: what decodes cleanly is kept.
      {"bad checksum", "041230353131313835323430373535353030303058", "05111852", "4075550000", "", "", {"bad checksum"}},
      {"length one short", Checked("\x04\x11" "051118524075550000"), "05111852", "4075550000", "", "", {"length says 17, packet has 18"}},
      {"length and checksum wrong", "0420303531313138353234303735353530303030FF", "05111852", "4075550000", "", "",
       {"length says 32, packet has 18", "bad checksum"}},
      {"no checksum", "0412303531313138353234303735353530303030", "05111852", "4075550000", "", "", {"no checksum"}},
      {"MDMF name cut short", Checked("\x80\x0f" + Param(2, "5551234") + "\x07\x08" "JOHN"), "", "5551234", "", "",
       {"parameter 07 cut short"}},
      {"MDMF lone tag at the end", Checked("\x80\x0a" + Param(2, "5551234") + "\x07"), "", "5551234", "", "",
       {"parameter 07 cut short"}},
      {"MDMF date of 4 bytes", Packet('\x80', Param(1, "1224") + Param(2, "5551234")), "", "5551234", "", "",
       {"date and time has 4 bytes"}},
      {"MDMF bad date, then a good one", Packet('\x80', Param(1, "12") + Param(1, "123") + Param(1, "12241806")),
       "12241806", "", "", "", {"date and time has 2 bytes"}},
      {"SDMF date cut short", Packet('\x04', "0511"), "", "", "", "", {"date and time cut short"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what + ": " + c.line);
    std::optional<CallerIdPacket> packet = DecodeHexPacket(c.line);
    ASSERT_TRUE(packet.has_value());
    EXPECT_EQ(packet->dateTime, c.dateTime);
    EXPECT_EQ(packet->number, c.number);
    EXPECT_EQ(packet->name, c.name);
    EXPECT_EQ(packet->nameAbsentReason, c.nameAbsentReason);
    EXPECT_EQ(packet->warnings, c.warnings);
  }
}

TEST(CidPacketTest, NotAPacket) {
  const std::string longest = Packet('\x80', std::string(255, 'x'));
  EXPECT_TRUE(DecodeHexPacket(longest).has_value());
  const std::string lines[] = {
      "",
      "   ",
      "0",
      "04123",                                         // odd number of digits
      "0412",                                          // two bytes
      "04 12 30 35 31 31 31 38 35 32 34 30 37 35 59",  // blanks inside
      "0G1230353131313835323430373535353030303059",    // not hexadecimal
      "051230353131313835323430373535353030303059",    // unknown type
      "RING",
      "NMBR = 041230353131313835323430373535353030303059",
      longest + "00",                                  // longer than any packet
      std::string(4000, '0'),
  };
  for (const std::string& line : lines) {
    EXPECT_FALSE(DecodeHexPacket(line).has_value()) << line.substr(0, 80);
  }
}

}  // namespace
}  // namespace annc
