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

TEST(NcidLineTest, Sources) {
  struct Case {
    std::string argument;
    std::string host;
    int port;
    std::string error;  // empty when the argument is good
  } cases[] = {
      {"ncid:localhost", "localhost", 3333, ""},
      {"ncid:ncid.example.net:3334", "ncid.example.net", 3334, ""},
      {"ncid:192.168.1.20", "192.168.1.20", 3333, ""},
      {"ncid:127.0.0.1:65535", "127.0.0.1", 65535, ""},
      {"ncid:[::1]", "::1", 3333, ""},
      {"ncid:[::1]:4000", "::1", 4000, ""},
      {"ncid:[fe80::1%eth0]:3333", "fe80::1%eth0", 3333, ""},
      {"ncid:[::ffff:192.0.2.1]:1", "::ffff:192.0.2.1", 1, ""},
      {"ncid:", "", 0, ": no host; expected ncid:HOST[:PORT]"},
      {"ncid::3333", "", 0, ": no host; expected ncid:HOST[:PORT]"},
      {"ncid:[]:3333", "", 0, ": no host; expected ncid:HOST[:PORT]"},
      {"ncid:host:", "", 0, ": no port after ':'"},
      {"ncid:host:0", "", 0, ": the port must be a number from 1 to 65535"},
      {"ncid:host:65536", "", 0, ": the port must be a number from 1 to 65535"},
      {"ncid:host:33a", "", 0, ": the port must be a number from 1 to 65535"},
      {"ncid:host:-1", "", 0, ": the port must be a number from 1 to 65535"},
      {"ncid:host: 3333", "", 0, ": the port must be a number from 1 to 65535"},
      {"ncid:::1", "", 0, ": an IPv6 address goes in brackets, as in ncid:[::1]:3333"},
      {"ncid:fe80::1:3333", "", 0, ": an IPv6 address goes in brackets, as in ncid:[::1]:3333"},
      {"ncid:[::1", "", 0, ": no ']' after the IPv6 address"},
      {"ncid:[::1]3333", "", 0, ": expected ':PORT' or nothing after ']'"},
      {"ncid:[host]:3333", "", 0, ": not an IPv6 address in the brackets"},
      {"ncid:[fe80::1%]", "", 0, ": not an IPv6 address in the brackets"},
      {"ncid:my host", "", 0, ": not a host name or address"},
      {"ncid:user@host", "", 0, ": not a host name or address"},
      {"ncid:" + std::string(254, 'a'), "", 0, ": host name too long"},
      {"/dev/ttyACM0", "", 0, ": not an NCID server; expected ncid:HOST[:PORT]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument);
    ParsedNcidSource parsed = ParseNcidSource(c.argument, Charset::kSingleByte);
    if (c.error.empty()) {
      ASSERT_TRUE(parsed.source.has_value()) << parsed.error;
      EXPECT_EQ(parsed.source->host, c.host);
      EXPECT_EQ(parsed.source->port, c.port);
    } else {
      EXPECT_FALSE(parsed.source.has_value());
      EXPECT_EQ(parsed.error, c.argument + c.error);
    }
  }
  EXPECT_TRUE(IsNcidSource("ncid:x"));
  EXPECT_FALSE(IsNcidSource("/dev/ncid:x"));
  // The argument is shown as text that cannot drive a terminal.
  EXPECT_EQ(ParseNcidSource("ncid:a\x1b[2Jb", Charset::kSingleByte).error, "ncid:a^[[2Jb: not a host name or address");
}

}  // namespace
}  // namespace annc
