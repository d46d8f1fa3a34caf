#include "line/sources/server/ncid_line.h"

#include <gtest/gtest.h>

#include <string>

namespace annc {
namespace {

using K = NcidEvent::Kind;

TEST(NcidLineTest, Lines) {
  struct Case {
    std::string line;
    K kind;
    std::string lineId, number, name;
    int ring;
  } cases[] = {
      // Calls.
      {"CID: *DATE*12082026*TIME*1530*LINE*POTS*NMBR*5551234*MESG*NONE*NAME*ANN LEE*", K::kCall, "POTS", "5551234",
       "ANN LEE", 0},
      {"CID: *DATE*05042011*TIME*2149*LINE*VOIP*NMBR*4075551212*MESG*NONE*NAME*John*", K::kCall, "VOIP",
       "4075551212", "John", 0},
      {"CID: *NAME*NO NAME*NMBR*OUT-OF-AREA*LINE*-*DATE*01012026*", K::kCall, "-", "OUT-OF-AREA", "NO NAME", 0},
      {"CID: *NMBR*PRIVATE*FOO*BAR*NAME*-*", K::kCall, "", "PRIVATE", "-", 0},  // unknown key skipped
      {"CID: *NMBR*111*NMBR*222*", K::kCall, "", "111", "", 0},                  // the first counts
      {"CID: *NMBR**NAME*X*", K::kCall, "", "", "X", 0},
      {"CID: *NAME*NMBR*NMBR*5551234*", K::kCall, "", "5551234", "NMBR", 0},      // a value is never a key
      {"CID: *NMBR*5551234*NAME*ANN LE", K::kCall, "", "5551234", "", 0},          // cut-off pair left out
      {"CID:*NMBR*5551234*", K::kCall, "", "5551234", "", 0},
      {"CID: ", K::kCall, "", "", "", 0},
      // Ring progress.
      {"CIDINFO: *LINE*POTS*RING*1*TIME*15:30:20*", K::kRing, "POTS", "", "", 1},
      {"CIDINFO: *RING*12*LINE*2*", K::kRing, "2", "", "", 12},
      {"CIDINFO: *LINE*POTS*RING*0*TIME*15:30:20*", K::kCallEnded, "POTS", "", "", 0},
      {"CIDINFO: *LINE*POTS*RING*-1*TIME*15:30:20*", K::kCallEnded, "POTS", "", "", -1},
      {"CIDINFO: *LINE*SIP*RING*-2*", K::kCallEnded, "SIP", "", "", -2},
      {"CIDINFO: *LINE*SIP*RING*-3*", K::kCallEnded, "SIP", "", "", -3},
      {"CIDINFO: *LINE*SIP*RING*-4*", K::kIgnored, "", "", "", 0},
      {"CIDINFO: *LINE*SIP*RING*x*", K::kIgnored, "", "", "", 0},
      {"CIDINFO: *LINE*SIP*RING*1 *", K::kIgnored, "", "", "", 0},
      {"CIDINFO: *LINE*SIP*RING*9999999999*", K::kIgnored, "", "", "", 0},
      {"CIDINFO: *LINE*SIP*", K::kIgnored, "", "", "", 0},
      // The end of the start-up.
      {"300 End of connection startup", K::kStartupDone, "", "", "", 0},
      {"300", K::kStartupDone, "", "", "", 0},
      {"3000 something", K::kIgnored, "", "", "", 0},
      // Greetings, history and the other line types.
      {"200 Server: ncidd (NCID) 1.17", K::kIgnored, "", "", "", 0},
      {"210 API: 1.11 Feature Set 1 2 3 4", K::kIgnored, "", "", "", 0},
      {"250 End of call log", K::kIgnored, "", "", "", 0},
      {"CIDLOG: *DATE*12082026*TIME*1530*LINE*POTS*NMBR*5551234*MESG*NONE*NAME*ANN LEE*", K::kIgnored, "", "", "",
       0},
      {"HUPLOG: *NMBR*5551234*", K::kIgnored, "", "", "", 0},
      {"OPT: hangup-1", K::kIgnored, "", "", "", 0},
      {"MSG: hello *NMBR*5551234*", K::kIgnored, "", "", "", 0},
      {"HUP: *NMBR*5551234*", K::kIgnored, "", "", "", 0},
      {"BLK: *NMBR*5551234*", K::kIgnored, "", "", "", 0},
      {"OUT: *NMBR*5551234*", K::kIgnored, "", "", "", 0},
      {"NOT: *NMBR*5551234*", K::kIgnored, "", "", "", 0},
      {"PID: *NMBR*5551234*", K::kIgnored, "", "", "", 0},
      {"WID: *NMBR*5551234*", K::kIgnored, "", "", "", 0},
      {"MWI: *NMBR*5551234*", K::kIgnored, "", "", "", 0},
      {"END: *NMBR*5551234*", K::kIgnored, "", "", "", 0},
      {"XYZ: *NMBR*5551234*", K::kIgnored, "", "", "", 0},
      {"cid: *NMBR*5551234*", K::kIgnored, "", "", "", 0},
      {"", K::kIgnored, "", "", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    NcidEvent event = ParseNcidLine(c.line);
    EXPECT_EQ(event.kind, c.kind);
    EXPECT_EQ(event.lineId, c.lineId);
    EXPECT_EQ(event.number, c.number);
    EXPECT_EQ(event.name, c.name);
    EXPECT_EQ(event.ring, c.ring);
  }
}

TEST(NcidLineTest, Hello) {
  EXPECT_EQ(NcidHello("1.2"), "HELLO: IDENT: client annc-line 1.2\r\nHELLO: CMD: no_log\r\n");
  // A version can never add a line of its own.
  EXPECT_EQ(NcidHello("1.2\r\nHELLO: CMD: x"), "HELLO: IDENT: client annc-line 1.2HELLO: CMD: x\r\nHELLO: CMD: no_log\r\n");
  EXPECT_EQ(NcidHello(""), "HELLO: IDENT: client annc-line\r\nHELLO: CMD: no_log\r\n");
}

}  // namespace
}  // namespace annc
