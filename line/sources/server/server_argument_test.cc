#include "line/sources/server/server_argument.h"

#include <gtest/gtest.h>

#include <string>

namespace annc {
namespace {

TEST(ServerArgumentTest, NcidServers) {
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
    ParsedServerSource parsed = ParseServerSource(c.argument, kNcidServer, Charset::kSingleByte);
    if (c.error.empty()) {
      ASSERT_TRUE(parsed.source.has_value()) << parsed.error;
      EXPECT_EQ(parsed.source->host, c.host);
      EXPECT_EQ(parsed.source->port, c.port);
      EXPECT_EQ(parsed.source->kind, &kNcidServer);
    } else {
      EXPECT_FALSE(parsed.source.has_value());
      EXPECT_EQ(parsed.error, c.argument + c.error);
    }
  }
  EXPECT_EQ(ServerKindOf("ncid:x"), &kNcidServer);
  EXPECT_EQ(ServerKindOf("/dev/ncid:x"), nullptr);
  // The argument is shown as text that cannot drive a terminal.
  EXPECT_EQ(ParseServerSource("ncid:a\x1b[2Jb", kNcidServer, Charset::kSingleByte).error,
            "ncid:a^[[2Jb: not a host name or address");
  // C1 controls as the locale has them: a byte of its own, or U+0080-U+009F.
  EXPECT_EQ(ParseServerSource("ncid:a\x9b" "2Jb", kNcidServer, Charset::kSingleByte).error,
            "ncid:aM-^[2Jb: not a host name or address");
  EXPECT_EQ(ParseServerSource("ncid:a\xc2\x9b" "2Jb", kNcidServer, Charset::kUtf8).error,
            "ncid:aM-^[2Jb: not a host name or address");
}

TEST(ServerArgumentTest, FritzBoxes) {
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
    ParsedServerSource parsed = ParseServerSource(c.argument, kFritzBox, Charset::kSingleByte);
    if (c.error.empty()) {
      ASSERT_TRUE(parsed.source.has_value()) << parsed.error;
      EXPECT_EQ(parsed.source->host, c.host);
      EXPECT_EQ(parsed.source->port, c.port);
      EXPECT_EQ(parsed.source->kind, &kFritzBox);
    } else {
      EXPECT_FALSE(parsed.source.has_value());
      EXPECT_EQ(parsed.error, c.argument + c.error);
    }
  }
  EXPECT_EQ(ServerKindOf("fritz:x"), &kFritzBox);
  EXPECT_EQ(ServerKindOf("/dev/fritz:x"), nullptr);
  EXPECT_EQ(ServerKindOf("ncid:x"), &kNcidServer);
  EXPECT_EQ(ParseServerSource("fritz:a\x1b[2Jb", kFritzBox, Charset::kSingleByte).error,
            "fritz:a^[[2Jb: not a host name or address");
}

}  // namespace
}  // namespace annc
