#include "line/sources/modem/line_classifier.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace annc {
namespace {

TEST(LineClassifierTest, Lines) {
  struct Case {
    std::string line;
    ClassifiedLine::Kind kind;
    std::string value;
  };
  const Case cases[] = {
      // Rings: a whole word at the start.
      {"RING", ClassifiedLine::kRing, ""},
      {"RING A", ClassifiedLine::kRing, ""},
      {"RING 1", ClassifiedLine::kRing, ""},
      {"RING\tB", ClassifiedLine::kRing, ""},
      {" RING ", ClassifiedLine::kRing, ""},
      {"RINGING", ClassifiedLine::kIgnored, ""},
      {"RING1", ClassifiedLine::kIgnored, ""},
      {"ring", ClassifiedLine::kIgnored, ""},
      {"CID RING", ClassifiedLine::kIgnored, ""},
      {"NAME = SPRINGFIELD", ClassifiedLine::kName, "SPRINGFIELD"},
      {"NAME = RING", ClassifiedLine::kName, "RING"},
      // Number labels, every separator form.
      {"NMBR = 5551234", ClassifiedLine::kNumber, "5551234"},
      {"NMBR=0555", ClassifiedLine::kNumber, "0555"},
      {"NMBR: 5551234", ClassifiedLine::kNumber, "5551234"},
      {"NMBR  =  5551234  ", ClassifiedLine::kNumber, "5551234"},
      {"DDN_NMBR= 9196278340", ClassifiedLine::kNumber, "9196278340"},
      {"DDN = 4075550000", ClassifiedLine::kNumber, "4075550000"},
      {"NBR=0123456789", ClassifiedLine::kNumber, "0123456789"},
      {"CALLER NUMBER: 5551234", ClassifiedLine::kNumber, "5551234"},
      {"nmbr = 1", ClassifiedLine::kNumber, "1"},
      {"NMBR = ", ClassifiedLine::kNumber, ""},
      {"NMBR = P", ClassifiedLine::kNumber, "P"},
      // Name labels; a name may hold the separators itself.
      {"NAME = ANN LEE", ClassifiedLine::kName, "ANN LEE"},
      {"CALLER NAME: Lee, Ann", ClassifiedLine::kName, "Lee, Ann"},
      {"NAME=A=B:C", ClassifiedLine::kName, "A=B:C"},
      {"NAME = O", ClassifiedLine::kName, "O"},
      // An escape sequence opening the value stays whole, for the cleaning.
      {"NAME = \x1b[1mZOE", ClassifiedLine::kName, "\x1b[1mZOE"},
      // Other parts of a caller-ID block.
      {"DATE = 1124", ClassifiedLine::kCallerIdInfo, "1124"},
      {"TIME = 1806", ClassifiedLine::kCallerIdInfo, "1806"},
      {"TIME: 18:06", ClassifiedLine::kCallerIdInfo, "18:06"},
      {"MESG = CALID_202", ClassifiedLine::kCallerIdInfo, "CALID_202"},
      // Unknown labels and other modem lines are ignored.
      {"DRON=5", ClassifiedLine::kIgnored, ""},
      {"+GCI: B5", ClassifiedLine::kIgnored, ""},
      {"NUMBER = 5551234", ClassifiedLine::kIgnored, ""},
      {"= 5551234", ClassifiedLine::kIgnored, ""},
      {"CONNECT 9600", ClassifiedLine::kIgnored, ""},
      {"END MSG", ClassifiedLine::kIgnored, ""},
      {"", ClassifiedLine::kIgnored, ""},
      // Result codes, as modems write them.
      {"NO CARRIER", ClassifiedLine::kNoCarrier, ""},
      {"no carrier", ClassifiedLine::kIgnored, ""},
      {"OK", ClassifiedLine::kOk, ""},
      {"ERROR", ClassifiedLine::kError, ""},
      {"OKAY", ClassifiedLine::kIgnored, ""},
  };
  for (const Case& c : cases) {
    ClassifiedLine got = ClassifyLine(c.line);
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
  EXPECT_EQ(ClassifyLine(std::string(256, 'R')).kind, ClassifiedLine::kIgnored);
}

TEST(LineClassifierTest, HexPackets) {
  using Warnings = std::vector<std::string>;
  struct Case {
    std::string line;
    ClassifiedLine::Kind kind;
    std::string number, name;
    Warnings warnings;
  };
  const Case cases[] = {
      {"041230353131313835323430373535353030303059", ClassifiedLine::kPacket, "4075550000", "", {}},
      {"802001083035313131383532020A3430373535353030303007084A4F484E20444F4584", ClassifiedLine::kPacket,
       "4075550000", "JOHN DOE", {}},
      {" 802001083035313131383532020a3430373535353030303007084a4f484e20444f4584\r", ClassifiedLine::kPacket,
       "4075550000", "JOHN DOE", {}},
      // Withheld: the reasons stand in for the number and the name.
      {"8010010830313032303330340401500801502F", ClassifiedLine::kPacket, "P", "P", {}},
      // Printed with a wrong checksum: what decodes is used, with a warning.
      {"04123035313131383532343037353535303030305A", ClassifiedLine::kPacket, "4075550000", "", {"bad checksum"}},
      // Hexadecimal that is no packet, and a label whose value is hex.
      {"0412", ClassifiedLine::kIgnored, "", "", {}},
      {"123456", ClassifiedLine::kIgnored, "", "", {}},
      {"0412303531313138353234303735353530303030", ClassifiedLine::kPacket, "4075550000", "", {"no checksum"}},
      {"NMBR = 041230353131313835323430373535353030303059", ClassifiedLine::kNumber,
       "041230353131313835323430373535353030303059", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ClassifiedLine got = ClassifyLine(c.line);
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
