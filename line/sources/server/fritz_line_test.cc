#include "line/sources/server/fritz_line.h"

#include <gtest/gtest.h>

#include <string>

namespace annc {
namespace {

using K = FritzEvent::Kind;

TEST(FritzLineTest, Lines) {
  struct Case {
    std::string line;
    K kind;
    std::string id, caller, called, trunk;
  } cases[] = {
      // Each event as the box sends it.
      {"09.12.26 15:17:43;RING;2;5551234;5559876;SIP0;", K::kRing, "2", "5551234", "5559876", "SIP0"},
      {"09.12.26 15:17:47;CONNECT;2;4;5551234;", K::kConnect, "2", "", "", ""},
      {"09.12.26 15:17:50;DISCONNECT;2;4;", K::kDisconnect, "2", "", "", ""},
      {"09.12.26 18:20:59;CALL;0;12;5559876;5552222;SIP0;", K::kIgnored, "", "", "", ""},
      {"28.11.20 15:17:43;RING;0;0301234567;5559876;ISDN;", K::kRing, "0", "0301234567", "5559876", "ISDN"},
      // Withheld: the caller's field is empty.
      {"09.12.26 15:17:43;RING;1;;5559876;SIP1;", K::kRing, "1", "", "5559876", "SIP1"},
      // Missing fields: the event and the ID are needed, a RING's caller too.
      {"09.12.26 15:17:43;RING;2;5551234;", K::kRing, "2", "5551234", "", ""},
      {"09.12.26 15:17:43;RING;2;;", K::kRing, "2", "", "", ""},
      {"09.12.26 15:17:43;RING;2;", K::kIgnored, "", "", "", ""},
      {"09.12.26 15:17:43;RING;;5551234;5559876;SIP0;", K::kIgnored, "", "", "", ""},
      {"09.12.26 15:17:43;CONNECT;2;", K::kConnect, "2", "", "", ""},
      {"09.12.26 15:17:43;DISCONNECT;2", K::kDisconnect, "2", "", "", ""},
      {"09.12.26 15:17:43;DISCONNECT;", K::kIgnored, "", "", "", ""},
      {"09.12.26 15:17:43;RING", K::kIgnored, "", "", "", ""},
      // Extra fields are skipped; the last ';' may be missing; blanks dropped.
      {"09.12.26 15:17:43;RING;2;5551234;5559876;SIP0;x;y;z;", K::kRing, "2", "5551234", "5559876", "SIP0"},
      {"09.12.26 15:17:43;RING;2;5551234;5559876;SIP0", K::kRing, "2", "5551234", "5559876", "SIP0"},
      {"09.12.26 15:17:43;DISCONNECT;3;0;extra;", K::kDisconnect, "3", "", "", ""},
      {"09.12.26 15:17:43; RING ; 2 ; 5551234 ;5559876; SIP0 ;", K::kRing, "2", "5551234", "5559876", "SIP0"},
      // A connection ID is decimal digits, at most nine.
      {"09.12.26 15:17:43;RING;x2;5551234;5559876;SIP0;", K::kIgnored, "", "", "", ""},
      {"09.12.26 15:17:43;CONNECT;-1;4;5551234;", K::kIgnored, "", "", "", ""},
      {"09.12.26 15:17:43;DISCONNECT;123456789;4;", K::kDisconnect, "123456789", "", "", ""},
      {"09.12.26 15:17:43;DISCONNECT;1234567890;4;", K::kIgnored, "", "", "", ""},
      // Junk, unknown events, the wrong letter case, other separators.
      {"09.12.26 15:17:43;HOLD;2;", K::kIgnored, "", "", "", ""},
      {"09.12.26 15:17:43;ring;2;5551234;5559876;SIP0;", K::kIgnored, "", "", "", ""},
      {"RING;2;5551234;5559876;SIP0;", K::kIgnored, "", "", "", ""},
      {"09.12.26 15:17:43,RING,2,5551234,5559876,SIP0,", K::kIgnored, "", "", "", ""},
      {"CID: *NMBR*5551234*", K::kIgnored, "", "", "", ""},
      {";;;;;;", K::kIgnored, "", "", "", ""},
      {";", K::kIgnored, "", "", "", ""},
      {"", K::kIgnored, "", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    FritzEvent event = ParseFritzLine(c.line);
    EXPECT_EQ(event.kind, c.kind);
    EXPECT_EQ(event.connectionId, c.id);
    EXPECT_EQ(event.caller, c.caller);
    EXPECT_EQ(event.called, c.called);
    EXPECT_EQ(event.trunk, c.trunk);
  }
}

TEST(FritzLineTest, Sources) {
  struct Case {
    std::string argument;
    std::string host;
    int port;
    std::string error;  // empty when the argument is good
  } cases[] = {
      {"fritz:fritz.box", "fritz.box", 1012, ""},
      {"fritz:192.168.178.1", "192.168.178.1", 1012, ""},
      {"fritz:127.0.0.1:40000", "127.0.0.1", 40000, ""},
      {"fritz:[::1]", "::1", 1012, ""},
      {"fritz:[fd00::1]:1013", "fd00::1", 1013, ""},
      {"fritz:", "", 0, ": no host; expected fritz:HOST[:PORT]"},
      {"fritz:box:", "", 0, ": no port after ':'"},
      {"fritz:box:70000", "", 0, ": the port must be a number from 1 to 65535"},
      {"fritz:fd00::1", "", 0, ": an IPv6 address goes in brackets, as in fritz:[::1]:1012"},
      {"fritz:[box]", "", 0, ": not an IPv6 address in the brackets"},
      {"fritz:[::1", "", 0, ": no ']' after the IPv6 address"},
      {"fritz:my box", "", 0, ": not a host name or address"},
      {"ncid:box", "", 0, ": not a FRITZ!Box; expected fritz:HOST[:PORT]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument);
    ParsedFritzSource parsed = ParseFritzSource(c.argument, Charset::kSingleByte);
    if (c.error.empty()) {
      ASSERT_TRUE(parsed.source.has_value()) << parsed.error;
      EXPECT_EQ(parsed.source->host, c.host);
      EXPECT_EQ(parsed.source->port, c.port);
    } else {
      EXPECT_FALSE(parsed.source.has_value());
      EXPECT_EQ(parsed.error, c.argument + c.error);
    }
  }
  EXPECT_TRUE(IsFritzSource("fritz:x"));
  EXPECT_FALSE(IsFritzSource("/dev/fritz:x"));
  EXPECT_FALSE(IsFritzSource("ncid:x"));
  EXPECT_EQ(ParseFritzSource("fritz:a\x1b[2Jb", Charset::kSingleByte).error,
            "fritz:a^[[2Jb: not a host name or address");
}

}  // namespace
}  // namespace annc
