#include "line/line_classifier.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace annc {
namespace {

TEST(LineClassifierTest, Lines) {
  struct Case {
    std::string line;
    ModemLine::Kind kind;
    std::string value;
  };
  const Case cases[] = {
      // Rings: a whole word at the start.
      {"RING", ModemLine::kRing, ""},
      {"RING A", ModemLine::kRing, ""},
      {"RING 1", ModemLine::kRing, ""},
      {"RING\tB", ModemLine::kRing, ""},
      {" RING ", ModemLine::kRing, ""},
      {"RINGING", ModemLine::kIgnored, ""},
      {"RING1", ModemLine::kIgnored, ""},
      {"ring", ModemLine::kIgnored, ""},
      {"CID RING", ModemLine::kIgnored, ""},
      {"NAME = SPRINGFIELD", ModemLine::kName, "SPRINGFIELD"},
      {"NAME = RING", ModemLine::kName, "RING"},
      // Number labels, every separator form.
      {"NMBR = 5551234", ModemLine::kNumber, "5551234"},
      {"NMBR=0555", ModemLine::kNumber, "0555"},
      {"NMBR: 5551234", ModemLine::kNumber, "5551234"},
      {"NMBR  =  5551234  ", ModemLine::kNumber, "5551234"},
      {"DDN_NMBR= 9196278340", ModemLine::kNumber, "9196278340"},
      {"DDN = 4075550000", ModemLine::kNumber, "4075550000"},
      {"NBR=0123456789", ModemLine::kNumber, "0123456789"},
      {"CALLER NUMBER: 5551234", ModemLine::kNumber, "5551234"},
      {"nmbr = 1", ModemLine::kNumber, "1"},
      {"NMBR = ", ModemLine::kNumber, ""},
      {"NMBR = P", ModemLine::kNumber, "P"},
      // Name labels; a name may hold the separators itself.
      {"NAME = ANN LEE", ModemLine::kName, "ANN LEE"},
      {"CALLER NAME: Lee, Ann", ModemLine::kName, "Lee, Ann"},
      {"NAME=A=B:C", ModemLine::kName, "A=B:C"},
      {"NAME = O", ModemLine::kName, "O"},
      // Other parts of a caller-ID block.
      {"DATE = 1124", ModemLine::kCallerIdInfo, "1124"},
      {"TIME = 1806", ModemLine::kCallerIdInfo, "1806"},
      {"TIME: 18:06", ModemLine::kCallerIdInfo, "18:06"},
      {"MESG = CALID_202", ModemLine::kCallerIdInfo, "CALID_202"},
      // Unknown labels and other modem lines are ignored.
      {"DRON=5", ModemLine::kIgnored, ""},
      {"+GCI: B5", ModemLine::kIgnored, ""},
      {"NUMBER = 5551234", ModemLine::kIgnored, ""},
      {"= 5551234", ModemLine::kIgnored, ""},
      {"CONNECT 9600", ModemLine::kIgnored, ""},
      {"END MSG", ModemLine::kIgnored, ""},
      {"", ModemLine::kIgnored, ""},
      // Result codes, as modems write them.
      {"NO CARRIER", ModemLine::kNoCarrier, ""},
      {"no carrier", ModemLine::kIgnored, ""},
      {"OK", ModemLine::kOk, ""},
      {"ERROR", ModemLine::kError, ""},
      {"OKAY", ModemLine::kIgnored, ""},
  };
  for (const Case& c : cases) {
    ModemLine got = ClassifyLine(c.line);
    EXPECT_EQ(got.kind, c.kind) << c.line;
    EXPECT_EQ(got.value, c.value) << c.line;
  }
}

TEST(LineClassifierTest, OverlongAndControlBytes) {
  // A cut line of 256 bytes is still read by its label; control bytes in a
  // value are kept for the caller to show in caret notation.
  std::string cut = "NAME = " + std::string(249, 'X');
  EXPECT_EQ(ClassifyLine(cut).value, std::string(249, 'X'));
  EXPECT_EQ(ClassifyLine("NAME = A\x1b[2JB").value, "A\x1b[2JB");
  EXPECT_EQ(ClassifyLine(std::string(256, 'R')).kind, ModemLine::kIgnored);
}

TEST(LineClassifierTest, HexPackets) {
  using Warnings = std::vector<std::string>;
  struct Case {
    std::string line;
    ModemLine::Kind kind;
    std::string number, name;
    Warnings warnings;
  };
  const Case cases[] = {
      {"041230353131313835323430373535353030303059", ModemLine::kPacket, "4075550000", "", {}},
      {"802001083035313131383532020A3430373535353030303007084A4F484E20444F4584", ModemLine::kPacket,
       "4075550000", "JOHN DOE", {}},
      {" 802001083035313131383532020a3430373535353030303007084a4f484e20444f4584\r", ModemLine::kPacket,
       "4075550000", "JOHN DOE", {}},
      // Withheld: the reasons stand in for the number and the name.
      {"8010010830313032303330340401500801502F", ModemLine::kPacket, "P", "P", {}},
      // Printed with a wrong checksum: what decodes is used, with a warning.
      {"04123035313131383532343037353535303030305A", ModemLine::kPacket, "4075550000", "", {"bad checksum"}},
      // Hexadecimal that is no packet, and a label whose value is hex.
      {"0412", ModemLine::kIgnored, "", "", {}},
      {"123456", ModemLine::kIgnored, "", "", {}},
      {"0412303531313138353234303735353530303030", ModemLine::kPacket, "4075550000", "", {"no checksum"}},
      {"NMBR = 041230353131313835323430373535353030303059", ModemLine::kNumber,
       "041230353131313835323430373535353030303059", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ModemLine got = ClassifyLine(c.line);
    EXPECT_EQ(got.kind, c.kind);
    EXPECT_EQ(got.value, c.number);
    EXPECT_EQ(got.name, c.name);
    EXPECT_EQ(got.warnings, c.warnings);
  }
}

TEST(LineClassifierTest, CallEvents) {
  auto events = [](std::string_view line) {
    std::vector<std::string> trace;
    for (const CallEvent& e : ModemCallEvents(ClassifyLine(line))) {
      static const char* const kKinds[] = {"ring", "number", "name", "info", "complete", "ended", "lost"};
      trace.push_back(std::string(kKinds[e.kind]) + (e.value.empty() ? "" : " " + e.value) + e.line);
    }
    return trace;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(events("RING A"), V{"ring"});
  EXPECT_EQ(events("DDN_NMBR= 9196278340"), V{"number 9196278340"});
  EXPECT_EQ(events("NAME = O"), V{"name O"});
  EXPECT_EQ(events("NMBR = "), V{"number"});
  EXPECT_EQ(events("DATE = 1124"), V{"info"});
  EXPECT_EQ(events("NO CARRIER"), V{"ended"});
  EXPECT_EQ(events("OK"), V{});
  EXPECT_EQ(events("CONNECT"), V{});
  // A packet is the whole block: nothing more of it is waited for.
  EXPECT_EQ(events("802001083035313131383532020A3430373535353030303007084A4F484E20444F4584"),
            (V{"number 4075550000", "name JOHN DOE", "complete"}));
  EXPECT_EQ(events("041230353131313835323430373535353030303059"), (V{"number 4075550000", "complete"}));
}

}  // namespace
}  // namespace annc
