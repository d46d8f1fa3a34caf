#include "line/options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "text/terminal_text.h"

namespace annc {
namespace {

ParsedCommandLine Parse(std::vector<std::string_view> args) { return ParseLineCommandLine(args, Charset::kSingleByte); }

TEST(LineOptionsTest, Defaults) {
  ParsedCommandLine p = Parse({"/dev/ttyACM0"});
  ASSERT_EQ(p.kind, ParsedCommandLine::kRun);
  EXPECT_EQ(p.options.device, "/dev/ttyACM0");
  EXPECT_EQ(p.options.annc, "");
  EXPECT_EQ(p.options.log, "");
  EXPECT_EQ(p.options.ringTimeoutMs, 8000);
  EXPECT_EQ(p.options.speed, 115200);
  EXPECT_TRUE(p.options.init.empty());
  EXPECT_EQ(p.options.lockDir, "/var/lock");
  EXPECT_FALSE(p.options.once);
  EXPECT_FALSE(p.options.check);
  EXPECT_FALSE(p.options.sayNames);
  EXPECT_EQ(p.options.voice, "en");
  EXPECT_EQ(p.options.nameCache, "");
  EXPECT_TRUE(p.options.screening.blockLists.empty());
  EXPECT_TRUE(p.options.screening.allowLists.empty());
  EXPECT_TRUE(p.options.screening.quiet.empty());
  EXPECT_EQ(p.options.screening.repeatWindowMinutes, 3);
  EXPECT_EQ(p.options.blockMode, LineOptions::kHangUp);
}

TEST(LineOptionsTest, Screening) {
  ParsedCommandLine p = Parse({"--block", "calls.block", "--allow=friends", "--block=/etc/ncid/ncidd.blacklist",
                               "--quiet", "22:00-07:00", "--quiet=12:30-13:00", "--allow", "family",
                               "--repeat-window", "0", "--block-mode=ignore", "/dev/ttyS0"});
  ASSERT_EQ(p.kind, ParsedCommandLine::kRun) << p.error;
  const ScreeningSettings& s = p.options.screening;
  EXPECT_EQ(s.blockLists, (std::vector<std::string>{"calls.block", "/etc/ncid/ncidd.blacklist"}));
  EXPECT_EQ(s.allowLists, (std::vector<std::string>{"friends", "family"}));
  ASSERT_EQ(s.quiet.size(), 2u);
  EXPECT_EQ(s.quiet[0].Text(), "22:00-07:00");
  EXPECT_EQ(s.quiet[1].Text(), "12:30-13:00");
  EXPECT_EQ(s.repeatWindowMinutes, 0);
  EXPECT_EQ(p.options.blockMode, LineOptions::kIgnore);

  struct Case {
    std::vector<std::string_view> args;
    int repeat;
    LineOptions::BlockMode mode;
  };
  const Case cases[] = {
      {{"--repeat-window=1440", "/dev/a"}, 1440, LineOptions::kHangUp},
      {{"--repeat-window", "15", "--block-mode", "hangup", "/dev/a"}, 15, LineOptions::kHangUp},
      // An NCID server's blocked calls are not announced either way.
      {{"--block-mode=ignore", "--block", "b", "ncid:localhost"}, 3, LineOptions::kIgnore},
  };
  for (const Case& c : cases) {
    ParsedCommandLine q = Parse(c.args);
    ASSERT_EQ(q.kind, ParsedCommandLine::kRun) << q.error;
    EXPECT_EQ(q.options.screening.repeatWindowMinutes, c.repeat);
    EXPECT_EQ(q.options.blockMode, c.mode);
  }
}

TEST(LineOptionsTest, EveryOptionInBothSpellings) {
  ParsedCommandLine p = Parse({"--annc", "/opt/annc", "--log=calls.log", "--ring-timeout", "0.5", "--speed=9600",
                               "--init", "AT+GCI=B5", "--init=ATS0=0", "--lock-dir", "/tmp/locks", "--once",
                               "--check", "/dev/ttyS0"});
  ASSERT_EQ(p.kind, ParsedCommandLine::kRun) << p.error;
  EXPECT_EQ(p.options.device, "/dev/ttyS0");
  EXPECT_EQ(p.options.annc, "/opt/annc");
  EXPECT_EQ(p.options.log, "calls.log");
  EXPECT_EQ(p.options.ringTimeoutMs, 500);
  EXPECT_EQ(p.options.speed, 9600);
  EXPECT_EQ(p.options.init, (std::vector<std::string>{"AT+GCI=B5", "ATS0=0"}));
  EXPECT_EQ(p.options.lockDir, "/tmp/locks");
  EXPECT_TRUE(p.options.once);
  EXPECT_TRUE(p.options.check);
}

TEST(LineOptionsTest, HistoryImportAndOnCall) {
  struct Case {
    std::vector<std::string_view> args;
    const char* history;
    const char* importLog;
    const char* onCall;
    const char* error;
  };
  const Case cases[] = {
      {{"/dev/ttyS0"}, "", "", "", ""},
      {{"--history", "/var/lib/annc/calls.db", "--on-call=/opt/my hooks/notify", "/dev/ttyS0"},
       "/var/lib/annc/calls.db", "", "/opt/my hooks/notify", ""},
      {{"--history=none", "ncid:localhost"}, "none", "", "", ""},
      // Importing needs no device.
      {{"--import-log", "/var/log/annc.log"}, "", "/var/log/annc.log", "", ""},
      {{"--history", "x.db", "--import-log=annc.log"}, "x.db", "annc.log", "", ""},
      {{"--import-log", "annc.log", "/dev/ttyS0"}, "", "", "", "--import-log takes no DEVICE"},
      {{"--on-call", "", "/dev/ttyS0"}, "", "", "", "option --on-call needs a value"},
      {{"--history"}, "", "", "", "option --history needs a value"},
  };
  for (const Case& c : cases) {
    ParsedCommandLine p = Parse(c.args);
    EXPECT_EQ(p.error, c.error) << c.args[0];
    if (p.kind != ParsedCommandLine::kRun) continue;
    EXPECT_EQ(p.options.history, c.history) << c.args[0];
    EXPECT_EQ(p.options.importLog, c.importLog) << c.args[0];
    EXPECT_EQ(p.options.onCall, c.onCall) << c.args[0];
  }
}

TEST(LineOptionsTest, Mqtt) {
  struct Case {
    std::vector<std::string_view> args;
    const char* host;  // null: no broker
    bool tls;
    const char* ca;
    const char* credentials;
    const char* topic;
    const char* error;
  };
  const Case cases[] = {
      {{"/dev/ttyS0"}, nullptr, false, "", "", "", ""},
      {{"--mqtt", "mqtt://127.0.0.1", "/dev/ttyS0"}, "127.0.0.1", false, "", "", "", ""},
      {{"--mqtt=mqtts://[::1]:8884", "--mqtt-ca", "ca.pem", "--mqtt-credentials=/etc/annc/mqtt",
        "--mqtt-topic", "home/phone", "ncid:nas"},
       "::1", true, "ca.pem", "/etc/annc/mqtt", "home/phone", ""},
      {{"--mqtt", "http://broker", "/dev/ttyS0"}, nullptr, false, "", "", "", "--mqtt: http://broker: expected"},
      {{"--mqtt", "mqtt://b", "--mqtt-topic", "annc/#", "/dev/ttyS0"}, nullptr, false, "", "", "",
       "--mqtt-topic 'annc/#' holds a wildcard (+ or #)"},
      {{"--mqtt", "mqtt://b", "--mqtt-topic", "a+b", "/dev/ttyS0"}, nullptr, false, "", "", "",
       "--mqtt-topic 'a+b' holds a wildcard"},
      {{"--mqtt-topic", "x", "/dev/ttyS0"}, nullptr, false, "", "", "", "--mqtt-topic needs --mqtt"},
      {{"--mqtt-credentials", "f", "/dev/ttyS0"}, nullptr, false, "", "", "", "--mqtt-credentials needs --mqtt"},
      {{"--mqtt-ca", "f", "/dev/ttyS0"}, nullptr, false, "", "", "", "--mqtt-ca needs --mqtt"},
      {{"--mqtt", "mqtt://b", "--mqtt-ca", "f", "/dev/ttyS0"}, nullptr, false, "", "", "",
       "--mqtt-ca is for mqtts://, not for mqtt://"},
  };
  for (const Case& c : cases) {
    ParsedCommandLine p = Parse(c.args);
    if (*c.error != '\0') {
      EXPECT_EQ(p.kind, ParsedCommandLine::kUsageError) << c.args[0];
      EXPECT_TRUE(p.error.starts_with(c.error)) << p.error;
      continue;
    }
    ASSERT_EQ(p.kind, ParsedCommandLine::kRun) << p.error;
    EXPECT_EQ(p.options.mqtt.has_value(), c.host != nullptr) << c.args[0];
    if (c.host != nullptr) {
      EXPECT_EQ(p.options.mqtt->host, c.host);
      EXPECT_EQ(p.options.mqtt->tls, c.tls);
    }
    EXPECT_EQ(p.options.mqttCa, c.ca);
    EXPECT_EQ(p.options.mqttCredentials, c.credentials);
    EXPECT_EQ(p.options.mqttTopic, c.topic);
  }
  // Home Assistant's discovery goes with --mqtt.
  ParsedCommandLine discovery =
      Parse({"--mqtt", "mqtt://b", "--mqtt-discovery", "--mqtt-discovery-prefix", "ha", "/dev/ttyS0"});
  ASSERT_EQ(discovery.kind, ParsedCommandLine::kRun) << discovery.error;
  EXPECT_TRUE(discovery.options.mqttDiscovery);
  EXPECT_EQ(discovery.options.mqttDiscoveryPrefix, "ha");
  EXPECT_FALSE(Parse({"--mqtt", "mqtt://b", "/dev/ttyS0"}).options.mqttDiscovery);
  EXPECT_EQ(Parse({"--mqtt-discovery", "/dev/ttyS0"}).error, "--mqtt-discovery needs --mqtt");
  EXPECT_EQ(Parse({"--mqtt", "mqtt://b", "--mqtt-discovery-prefix", "ha", "/dev/ttyS0"}).error,
            "--mqtt-discovery-prefix needs --mqtt-discovery");
  EXPECT_TRUE(Parse({"--mqtt", "mqtt://b", "--mqtt-discovery", "--mqtt-discovery-prefix", "h/#", "/dev/ttyS0"})
                  .error.starts_with("--mqtt-discovery-prefix 'h/#' holds a wildcard"));
  for (const char* option : {"--mqtt URL", "--mqtt-ca FILE", "--mqtt-credentials FILE", "--mqtt-topic PREFIX"}) {
    EXPECT_NE(std::string_view(kLineHelp).find(option), std::string_view::npos) << option;
  }
}

// mqtt:HOST[:PORT] as the source: the broker, the prefixes followed, its
// ring timeout, and the options it takes or refuses.
TEST(LineOptionsTest, MqttSource) {
  struct Case {
    std::vector<std::string_view> args;
    const char* host;  // null: no mqtt: source
    int port;
    bool tls;
    std::vector<std::string> follow;
    int ringTimeoutMs;
    const char* error;  // the start of the usage error; empty: none
  };
  const Case cases[] = {
      {{"mqtt:broker"}, "broker", 1883, false, {"annc/+"}, 120000, ""},
      {{"mqtts:[::1]:8884", "--mqtt-ca", "ca.pem"}, "::1", 8884, true, {"annc/+"}, 120000, ""},
      {{"mqtts:b"}, "b", 8883, true, {"annc/+"}, 120000, ""},
      {{"--mqtt-follow", "home/+", "--mqtt-follow=x/#", "--ring-timeout", "30", "mqtt:10.0.0.2:1884"},
       "10.0.0.2", 1884, false, {"home/+", "x/#"}, 30000, ""},
      {{"--mqtt-follow", "#", "--mqtt-credentials", "f", "mqtt:b"}, "b", 1883, false, {"#"}, 120000, ""},
      {{"--mqtt", "mqtt://b", "--mqtt-topic", "annc/hall", "mqtt:b"}, "b", 1883, false, {"annc/+"}, 120000, ""},
      {{"/dev/ttyS0"}, nullptr, 0, false, {}, 8000, ""},
      {{"mqtt:"}, nullptr, 0, false, {}, 0, "mqtt:: no host"},
      {{"mqtt://b"}, nullptr, 0, false, {}, 0, "mqtt://b: not a host name"},
      {{"mqtt:[::1"}, nullptr, 0, false, {}, 0, "mqtt:[::1: no ']'"},
      {{"mqtt:b:0"}, nullptr, 0, false, {}, 0, "mqtt:b:0:"},
      {{"--mqtt-follow", "a/#/b", "mqtt:b"}, nullptr, 0, false, {}, 0,
       "--mqtt-follow 'a/#/b' holds a wildcard that is not a level of its own"},
      {{"--mqtt-follow", "a/b+", "mqtt:b"}, nullptr, 0, false, {}, 0, "--mqtt-follow 'a/b+' holds a wildcard"},
      {{"--mqtt-follow", "/a", "mqtt:b"}, nullptr, 0, false, {}, 0, "--mqtt-follow '/a' begins or ends with /"},
      {{"--mqtt-follow", "", "mqtt:b"}, nullptr, 0, false, {}, 0, "--mqtt-follow '' is empty"},
      {{"--mqtt-follow", "annc/+", "/dev/ttyS0"}, nullptr, 0, false, {}, 0,
       "--mqtt-follow is for an mqtt: source, not for a modem"},
      {{"--mqtt-follow", "annc/+", "ncid:nas"}, nullptr, 0, false, {}, 0,
       "--mqtt-follow is for an mqtt: source, not for an NCID server"},
      {{"--mqtt-follow", "annc/+", "fritz:box"}, nullptr, 0, false, {}, 0,
       "--mqtt-follow is for an mqtt: source, not for a FRITZ!Box"},
      {{"--speed", "9600", "mqtt:b"}, nullptr, 0, false, {}, 0, "--speed is for a modem, not for an MQTT broker"},
      {{"--only-line", "SIP0", "mqtt:b"}, nullptr, 0, false, {}, 0,
       "--only-line is for an NCID server or a FRITZ!Box, not for an MQTT broker"},
      {{"--only-to", "5550000", "mqtt:b"}, nullptr, 0, false, {}, 0,
       "--only-to is for a FRITZ!Box, not for an MQTT broker"},
      {{"--mqtt-ca", "ca.pem", "mqtt:b"}, nullptr, 0, false, {}, 0, "--mqtt-ca is for mqtts:, not for mqtt:"},
      {{"--mqtt", "mqtt://b", "--mqtt-ca", "ca.pem", "mqtt:b"}, nullptr, 0, false, {}, 0,
       "--mqtt-ca is for mqtts://, not for mqtt://"},
      {{"--mqtt-topic", "annc/hall", "mqtt:b"}, nullptr, 0, false, {}, 0, "--mqtt-topic needs --mqtt"},
  };
  for (const Case& c : cases) {
    ParsedCommandLine p = Parse(c.args);
    std::string shown = testing::PrintToString(c.args);
    if (*c.error != '\0') {
      EXPECT_EQ(p.kind, ParsedCommandLine::kUsageError) << shown;
      EXPECT_TRUE(p.error.starts_with(c.error)) << shown << ": " << p.error;
      continue;
    }
    ASSERT_EQ(p.kind, ParsedCommandLine::kRun) << shown << ": " << p.error;
    EXPECT_FALSE(p.options.server) << shown;
    EXPECT_EQ(p.options.mqttSource.has_value(), c.host != nullptr) << shown;
    if (c.host != nullptr) {
      EXPECT_EQ(p.options.mqttSource->host, c.host) << shown;
      EXPECT_EQ(p.options.mqttSource->port, c.port) << shown;
      EXPECT_EQ(p.options.mqttSource->tls, c.tls) << shown;
    }
    EXPECT_EQ(p.options.mqttFollow, c.follow) << shown;
    EXPECT_EQ(p.options.ringTimeoutMs, c.ringTimeoutMs) << shown;
  }
  for (const char* text : {"mqtt:HOST[:PORT]|mqtts:HOST[:PORT]", "--mqtt-follow PREFIX"}) {
    EXPECT_NE(std::string_view(kLineHelp).find(text), std::string_view::npos) << text;
  }
}

TEST(LineOptionsTest, SpokenNames) {
  struct Case {
    std::vector<std::string_view> args;
    bool sayNames;
    const char* voice;
    const char* nameCache;
  };
  const Case cases[] = {
      {{"--say-names", "/dev/ttyS0"}, true, "en", ""},
      {{"--say-names", "--voice", "de", "/dev/ttyS0"}, true, "de", ""},
      {{"--voice=en-us", "--name-cache=/tmp/names", "/dev/ttyS0"}, false, "en-us", "/tmp/names"},
      {{"--voice", "en+f3", "--name-cache", "/var/cache/x", "--say-names", "ncid:localhost"}, true, "en+f3",
       "/var/cache/x"},
      {{"--voice=gmw/en", "/dev/ttyS0"}, false, "gmw/en", ""},
  };
  for (const Case& c : cases) {
    ParsedCommandLine p = Parse(c.args);
    ASSERT_EQ(p.kind, ParsedCommandLine::kRun) << p.error;
    EXPECT_EQ(p.options.sayNames, c.sayNames);
    EXPECT_EQ(p.options.voice, c.voice);
    EXPECT_EQ(p.options.nameCache, c.nameCache);
  }
  const char* help = kLineHelp;
  for (const char* option : {"--say-names", "--voice NAME", "--name-cache DIR"}) {
    EXPECT_NE(std::string_view(help).find(option), std::string_view::npos) << option;
  }
}

TEST(LineOptionsTest, DeviceAfterDoubleDashMayLookLikeAnOption) {
  ParsedCommandLine p = Parse({"--once", "--", "--odd-name"});
  ASSERT_EQ(p.kind, ParsedCommandLine::kRun);
  EXPECT_EQ(p.options.device, "--odd-name");
}

TEST(LineOptionsTest, NcidServer) {
  struct Case {
    std::vector<std::string_view> args;
    const char* host;
    int port;
  };
  const Case cases[] = {
      {{"ncid:192.168.1.10"}, "192.168.1.10", 3333},
      {{"--once", "--check", "--log", "calls.log", "ncid:nas.local:3334"}, "nas.local", 3334},
      {{"--ring-timeout=4", "ncid:[::1]:3333"}, "::1", 3333},
  };
  for (const Case& c : cases) {
    ParsedCommandLine p = Parse(c.args);
    ASSERT_EQ(p.kind, ParsedCommandLine::kRun) << p.error;
    ASSERT_TRUE(p.options.server.has_value());
    EXPECT_EQ(p.options.server->kind, &kNcidServer);
    EXPECT_EQ(p.options.server->host, c.host);
    EXPECT_EQ(p.options.server->port, c.port);
    EXPECT_EQ(p.options.device, c.args.back());
  }
  EXPECT_FALSE(Parse({"/dev/ttyACM0"}).options.server.has_value());
  // A device that merely contains "ncid:" is a device.
  EXPECT_FALSE(Parse({"./ncid:1"}).options.server.has_value());
}

TEST(LineOptionsTest, FritzBox) {
  struct Case {
    std::vector<std::string_view> args;
    const char* host;
    int port;
  };
  const Case cases[] = {
      {{"fritz:fritz.box"}, "fritz.box", 1012},
      {{"--once", "--log=calls.log", "fritz:192.168.178.1:1013"}, "192.168.178.1", 1013},
      {{"fritz:[::1]"}, "::1", 1012},
  };
  for (const Case& c : cases) {
    ParsedCommandLine p = Parse(c.args);
    ASSERT_EQ(p.kind, ParsedCommandLine::kRun) << p.error;
    ASSERT_TRUE(p.options.server.has_value());
    EXPECT_EQ(p.options.server->kind, &kFritzBox);
    EXPECT_EQ(p.options.server->host, c.host);
    EXPECT_EQ(p.options.server->port, c.port);
    // The box sends no rings: a call without its end waits longer.
    EXPECT_EQ(p.options.ringTimeoutMs, 120000);
  }
  EXPECT_EQ(Parse({"--ring-timeout=30", "fritz:box"}).options.ringTimeoutMs, 30000);
  EXPECT_EQ(Parse({"fritz:box", "--ring-timeout", "8"}).options.ringTimeoutMs, 8000);
  EXPECT_EQ(Parse({"ncid:box"}).options.ringTimeoutMs, 8000);
  EXPECT_FALSE(Parse({"/dev/ttyACM0"}).options.server.has_value());
  EXPECT_EQ(Parse({"ncid:x"}).options.server->kind, &kNcidServer);
  EXPECT_FALSE(Parse({"./fritz:1"}).options.server.has_value());
}

TEST(LineOptionsTest, OnlySomeCalls) {
  // Repeated, in both spellings, in the order given.
  ParsedCommandLine p = Parse({"--only-to", "5559876", "--only-to=030 1234-56", "--only-line", "SIP0",
                               "--only-line= SIP1 ", "fritz:fritz.box"});
  ASSERT_EQ(p.kind, ParsedCommandLine::kRun) << p.error;
  EXPECT_EQ(p.options.filter.onlyTo, (std::vector<std::string>{"5559876", "030 1234-56"}));
  EXPECT_EQ(p.options.filter.onlyLines, (std::vector<std::string>{"SIP0", "SIP1"}));
  // An NCID server's LINE field.
  p = Parse({"--only-line=POTS", "ncid:nas"});
  ASSERT_EQ(p.kind, ParsedCommandLine::kRun) << p.error;
  EXPECT_EQ(p.options.filter.onlyLines, std::vector<std::string>{"POTS"});
  EXPECT_TRUE(p.options.filter.onlyTo.empty());
  // No filter: even a call that names neither number nor line is kept.
  EXPECT_TRUE(KeepCall(Parse({"fritz:box"}).options.filter, "", ""));
}

TEST(LineOptionsTest, HelpAndVersion) {
  EXPECT_EQ(Parse({"--help"}).kind, ParsedCommandLine::kHelp);
  EXPECT_EQ(Parse({"/dev/ttyS0", "--help"}).kind, ParsedCommandLine::kHelp);
  EXPECT_EQ(Parse({"--version"}).kind, ParsedCommandLine::kVersion);
  EXPECT_EQ(Parse({"--version", "a", "b"}).kind, ParsedCommandLine::kVersion);
}

TEST(LineOptionsTest, UsageErrors) {
  struct Case {
    std::vector<std::string_view> args;
    const char* says;
  };
  const Case cases[] = {
      {{}, "no DEVICE"},
      {{"--once"}, "no DEVICE"},
      {{"/dev/a", "/dev/b"}, "one DEVICE only"},
      {{""}, "DEVICE is empty"},
      {{"--frobnicate", "/dev/a"}, "unknown option --frobnicate"},
      {{"-x", "/dev/a"}, "unknown option -x"},
      {{"/dev/a", "--ring-timeout"}, "needs a value"},
      {{"/dev/a", "--ring-timeout", "abc"}, "--ring-timeout needs seconds"},
      {{"/dev/a", "--ring-timeout=0"}, "--ring-timeout needs seconds"},
      {{"/dev/a", "--ring-timeout=-1"}, "--ring-timeout needs seconds"},
      {{"/dev/a", "--speed", "fast"}, "--speed needs"},
      {{"/dev/a", "--speed", "12345"}, "--speed needs"},
      {{"/dev/a", "--annc="}, "--annc needs a value"},
      {{"/dev/a", "--once=yes"}, "takes no value"},
      {{"/dev/a", "--say-names=yes"}, "--say-names takes no value"},
      {{"/dev/a", "--voice"}, "--voice needs a value"},
      {{"/dev/a", "--voice="}, "--voice needs a value"},
      {{"/dev/a", "--voice", "de de"}, "--voice needs an eSpeak NG voice such as en or de, not 'de de'"},
      {{"/dev/a", "--voice", "../../x"}, "--voice needs an eSpeak NG voice"},
      {{"/dev/a", "--voice", "/etc/x"}, "--voice needs an eSpeak NG voice"},
      {{"/dev/a", "--voice", "-v"}, "--voice needs an eSpeak NG voice"},
      {{"/dev/a", "--name-cache="}, "--name-cache needs a value"},
      {{"/dev/a", "--unknown\x1b[2J"}, "unknown option --unknown^[[2J"},
      // A modem's options make no sense for a server.
      {{"--speed", "9600", "ncid:localhost"}, "--speed is for a modem, not for an NCID server"},
      {{"--init=ATZ", "ncid:localhost"}, "--init is for a modem"},
      {{"ncid:localhost", "--lock-dir", "/tmp"}, "--lock-dir is for a modem"},
      {{"ncid:"}, "ncid:: no host"},  // the server argument's own errors come through
      {{"--speed=9600", "fritz:fritz.box"}, "--speed is for a modem, not for a FRITZ!Box"},
      {{"fritz:fritz.box", "--init", "ATZ"}, "--init is for a modem, not for a FRITZ!Box"},
      {{"--lock-dir=/tmp", "fritz:fritz.box"}, "--lock-dir is for a modem, not for a FRITZ!Box"},
      {{"fritz:box:0"}, "fritz:box:0: the port must be a number from 1 to 65535"},
      // Only a server says which line a call came on, only a box which number.
      {{"--only-to", "5559876", "/dev/ttyACM0"}, "--only-to is for a FRITZ!Box, not for a modem"},
      {{"--only-line", "SIP0", "/dev/ttyACM0"}, "--only-line is for an NCID server or a FRITZ!Box, not for a modem"},
      {{"--only-to", "5559876", "ncid:nas"}, "--only-to is for a FRITZ!Box: an NCID server does not say"},
      {{"--only-to", "abc", "fritz:box"}, "--only-to needs an own number such as 5559876, not 'abc'"},
      {{"--only-to=", "fritz:box"}, "--only-to needs an own number"},
      {{"--only-to", "---", "fritz:box"}, "--only-to needs an own number"},
      {{"--only-to=1\x1b[2J", "fritz:box"}, "not '1^[[2J'"},
      {{"--only-line= ", "fritz:box"}, "--only-line needs a line label"},
      {{"fritz:box", "--only-line"}, "--only-line needs a value"},
      // Screening.
      {{"/dev/a", "--block"}, "--block needs a value"},
      {{"/dev/a", "--block="}, "--block needs a value"},
      {{"/dev/a", "--allow="}, "--allow needs a value"},
      {{"/dev/a", "--quiet", "22:00"}, "--quiet needs a time span such as 22:00-07:00, not '22:00'"},
      {{"/dev/a", "--quiet=22:00-22:00"}, "--quiet needs a time span"},
      {{"/dev/a", "--quiet=25:00-07:00"}, "--quiet needs a time span"},
      {{"/dev/a", "--quiet=22:00-07:00\x1b"}, "not '22:00-07:00^['"},
      {{"/dev/a", "--repeat-window", "-1"}, "--repeat-window needs minutes from 0 to 1440, not '-1'"},
      {{"/dev/a", "--repeat-window=1441"}, "--repeat-window needs minutes"},
      {{"/dev/a", "--repeat-window=3m"}, "--repeat-window needs minutes"},
      {{"/dev/a", "--repeat-window="}, "--repeat-window needs minutes"},
      {{"/dev/a", "--block-mode", "drop"}, "--block-mode needs hangup or ignore, not 'drop'"},
      {{"/dev/a", "--block-mode=HANGUP"}, "--block-mode needs hangup or ignore"},
  };
  for (const Case& c : cases) {
    ParsedCommandLine p = Parse(c.args);
    EXPECT_EQ(p.kind, ParsedCommandLine::kUsageError) << c.says;
    EXPECT_NE(p.error.find(c.says), std::string::npos) << p.error;
    EXPECT_EQ(p.error.find('\n'), std::string::npos) << p.error;
  }
}

TEST(LineOptionsTest, SeveralSources) {
  // Each source's kind ("modem", "ncid", "fritz", "mqtt") and ring time-out.
  struct Case {
    std::vector<std::string_view> args;
    std::vector<std::string> kinds;
    std::vector<int> ringTimeouts;
  };
  const Case cases[] = {
      {{"/dev/ttyACM0", "ncid:192.0.2.10"}, {"modem", "ncid"}, {8000, 8000}},
      {{"ncid:nas", "fritz:box", "/dev/ttyS0"}, {"ncid", "fritz", "modem"}, {8000, 120000, 8000}},
      {{"--ring-timeout=3", "fritz:box", "ncid:nas"}, {"fritz", "ncid"}, {3000, 3000}},
      {{"ncid:a", "ncid:b", "mqtt:broker"}, {"ncid", "ncid", "mqtt"}, {8000, 8000, 120000}},
      // Options for some of the sources, each taken by one that fits.
      {{"--init=ATZ", "--speed", "9600", "ncid:nas", "/dev/ttyACM0"}, {"ncid", "modem"}, {8000, 8000}},
      {{"--only-to", "5559876", "--only-line=SIP0", "ncid:nas", "fritz:box"}, {"ncid", "fritz"}, {8000, 120000}},
      {{"--only-line", "1", "/dev/ttyACM0", "ncid:nas"}, {"modem", "ncid"}, {8000, 8000}},
      {{"--mqtt-follow=x/#", "/dev/ttyACM0", "mqtts:broker"}, {"modem", "mqtt"}, {8000, 120000}},
  };
  for (const Case& c : cases) {
    ParsedCommandLine p = Parse(c.args);
    ASSERT_EQ(p.kind, ParsedCommandLine::kRun) << p.error;
    std::vector<std::string> kinds;
    std::vector<int> timeouts;
    for (const LineOptions::SourceArgument& source : p.options.sources) {
      kinds.push_back(source.mqttSource ? "mqtt"
                      : !source.server  ? "modem"
                      : source.server->kind == &kFritzBox ? "fritz"
                                                          : "ncid");
      timeouts.push_back(source.ringTimeoutMs);
    }
    EXPECT_EQ(kinds, c.kinds) << c.args[0];
    EXPECT_EQ(timeouts, c.ringTimeouts) << c.args[0];
    // The first source's in the options' own fields, as with one alone.
    EXPECT_EQ(p.options.device, p.options.sources.front().device);
    EXPECT_EQ(p.options.ringTimeoutMs, c.ringTimeouts.front());
    EXPECT_EQ(p.options.mqttSource.has_value(), c.kinds.back() == "mqtt");
  }
  ParsedCommandLine p = Parse({"/dev/ttyACM0", "mqtt:broker"});
  ASSERT_EQ(p.kind, ParsedCommandLine::kRun);
  EXPECT_EQ(p.options.mqttFollow, std::vector<std::string>{"annc/+"});
}

TEST(LineOptionsTest, SeveralSourcesRefused) {
  struct Case {
    std::vector<std::string_view> args;
    const char* says;
  };
  const Case cases[] = {
      {{"ncid:nas", "ncid:nas"}, "'ncid:nas' is given twice"},
      {{"/dev/a", "ncid:nas", "/dev/a"}, "'/dev/a' is given twice"},
      {{"/dev/a", "ncid:nas", "/dev/b"}, "one DEVICE only, not '/dev/b' as well"},
      {{"mqtt:a", "ncid:nas", "mqtts:b"}, "one mqtt: source only, not 'mqtts:b' as well"},
      {{"ncid:nas", ""}, "DEVICE is empty"},
      {{"ncid:nas", "fritz:box:0"}, "fritz:box:0: the port must be a number"},
      {{"--check", "ncid:nas", "/dev/a"}, "--check takes one source at a time, not '/dev/a' as well"},
      // An option no source given takes.
      {{"--init=ATZ", "ncid:nas", "fritz:box"}, "--init is for a modem, not for an NCID server or a FRITZ!Box"},
      {{"ncid:nas", "mqtt:broker", "--lock-dir=/tmp"}, "--lock-dir is for a modem, not for an NCID server or an MQTT broker"},
      {{"--only-to=5559876", "ncid:nas", "ncid:other"}, "--only-to is for a FRITZ!Box: an NCID server does not say"},
      {{"--only-to=5559876", "/dev/a", "mqtt:broker"}, "--only-to is for a FRITZ!Box, not for a modem or an MQTT broker"},
      {{"--only-line=1", "/dev/a", "mqtt:broker"}, "--only-line is for an NCID server or a FRITZ!Box, not for a modem"},
      {{"--mqtt-follow=a/#", "/dev/a", "ncid:nas"}, "--mqtt-follow is for an mqtt: source, not for a modem or an NCID server"},
  };
  for (const Case& c : cases) {
    ParsedCommandLine p = Parse(c.args);
    EXPECT_EQ(p.kind, ParsedCommandLine::kUsageError) << c.says;
    EXPECT_NE(p.error.find(c.says), std::string::npos) << p.error;
  }
}

TEST(LineOptionsTest, ArgumentsAsTyped) {
  // Only full names count, however unambiguous the start of one is; options
  // and devices may come in any order, "-" is a device, and a value is the
  // next argument whatever it looks like.
  struct Case {
    std::vector<std::string_view> args;
    const char* says;  // the error, or "" when it runs
    const char* device;
    const char* annc;
    bool once;
  };
  const Case cases[] = {
      {{"--ann", "x", "/dev/a"}, "unknown option --ann", "", "", false},
      {{"/dev/a", "--ann"}, "unknown option --ann", "", "", false},
      {{"--ann=x", "/dev/a"}, "unknown option --ann", "", "", false},
      {{"--on", "/dev/a"}, "unknown option --on", "", "", false},
      {{"--onc", "/dev/a"}, "unknown option --onc", "", "", false},
      {{"--onc=1", "/dev/a"}, "unknown option --onc", "", "", false},
      {{"--block-m=ignore", "/dev/a"}, "unknown option --block-m", "", "", false},
      {{"--he"}, "unknown option --he", "", "", false},
      {{"--=x", "/dev/a"}, "unknown option --", "", "", false},
      {{"---once", "/dev/a"}, "unknown option ---once", "", "", false},
      {{"-ab", "/dev/a"}, "unknown option -ab", "", "", false},
      {{"-:", "/dev/a"}, "unknown option -:", "", "", false},
      {{"/dev/a", "--once"}, "", "/dev/a", "", true},
      {{"/dev/a", "--once", "/dev/b"}, "one DEVICE only, not '/dev/b' as well", "", "", false},
      {{"/dev/a", "--", "/dev/b"}, "one DEVICE only, not '/dev/b' as well", "", "", false},
      {{"-"}, "", "-", "", false},
      {{"--once", "--", "-"}, "", "-", "", true},
      {{"--", "--help"}, "", "--help", "", false},
      {{"--annc", "-x", "/dev/a"}, "", "/dev/a", "-x", false},
      {{"--annc", "--help", "/dev/a"}, "", "/dev/a", "--help", false},
      {{"--annc", "--", "--once", "/dev/a"}, "", "/dev/a", "--", true},
      {{"--annc", "--once", "/dev/a"}, "", "/dev/a", "--once", false},
      {{"--annc=--once=x", "/dev/a"}, "", "/dev/a", "--once=x", false},
      // No real command line holds a NUL byte, but an argument is taken whole.
      {{std::string_view("-\0x", 3), "/dev/a"}, "unknown option -^@x", "", "", false},
      {{std::string_view("--\0x", 4), "/dev/a"}, "unknown option --^@x", "", "", false},
      {{std::string_view("--once\0", 7), "/dev/a"}, "unknown option --once^@", "", "", false},
      {{std::string_view("--annc=a\0b", 10), "/dev/a"}, "", "/dev/a", "a^@b", false},
  };
  for (const Case& c : cases) {
    ParsedCommandLine p = Parse(c.args);
    if (*c.says != '\0') {
      EXPECT_EQ(p.kind, ParsedCommandLine::kUsageError) << c.says;
      EXPECT_EQ(p.error, c.says);
      continue;
    }
    ASSERT_EQ(p.kind, ParsedCommandLine::kRun) << p.error;
    EXPECT_EQ(p.options.device, c.device);
    EXPECT_EQ(CaretNotation(p.options.annc, "", Charset::kSingleByte), c.annc);
    EXPECT_EQ(p.options.once, c.once);
  }
}

TEST(LineOptionsTest, TheLocalesCharsetIsCarriedAndShowsErrors) {
  for (Charset charset : {Charset::kSingleByte, Charset::kUtf8}) {
    ParsedCommandLine p = ParseLineCommandLine({"--block", "calls.block", "ncid:server"}, charset);
    ASSERT_EQ(p.kind, ParsedCommandLine::kRun) << p.error;
    EXPECT_EQ(p.options.charset, charset);
    EXPECT_EQ(p.options.screening.charset, charset);
  }
  // U+009B (CSI) in a UTF-8 locale, the byte 0x9B in any other.
  EXPECT_EQ(ParseLineCommandLine({"--speed", "\xc2\x9b", "/dev/a"}, Charset::kUtf8).error,
            "--speed needs a line speed such as 115200, not 'M-^['");
  EXPECT_EQ(ParseLineCommandLine({"--speed", "\xc2\x9b", "/dev/a"}, Charset::kSingleByte).error,
            "--speed needs a line speed such as 115200, not '\xc2M-^['");
  EXPECT_EQ(ParseLineCommandLine({"--x\x9b", "/dev/a"}, Charset::kSingleByte).error, "unknown option --xM-^[");
  EXPECT_EQ(ParseLineCommandLine({"/dev/a", "/dev/\xc2\x85"}, Charset::kUtf8).error,
            "one DEVICE only, not '/dev/M-^E' as well");
  EXPECT_EQ(ParseLineCommandLine({"ncid:a\xc2\x85"}, Charset::kUtf8).error, "ncid:aM-^E: not a host name or address");
}

TEST(LineOptionsTest, EachCommandLineReadAfresh) {
  // Each ends in the middle of its arguments, the first within "-ab".
  EXPECT_EQ(Parse({"-ab", "/dev/a"}).error, "unknown option -ab");
  EXPECT_EQ(Parse({"--help", "--once", "/dev/a"}).kind, ParsedCommandLine::kHelp);
  EXPECT_EQ(Parse({"--once", "--speed", "0", "/dev/a", "/dev/b"}).error,
            "--speed needs a line speed such as 115200, not '0'");
  ParsedCommandLine p = Parse({"--once", "/dev/a"});
  ASSERT_EQ(p.kind, ParsedCommandLine::kRun) << p.error;
  EXPECT_EQ(p.options.device, "/dev/a");
  EXPECT_TRUE(p.options.once);
}

TEST(LineOptionsTest, OrderKeptWhateverTheEnvironment) {
  // POSIXLY_CORRECT would have options end at the first device.
  const char* before = std::getenv("POSIXLY_CORRECT");
  std::string saved = before != nullptr ? before : "";
  ASSERT_EQ(::setenv("POSIXLY_CORRECT", "1", 1), 0);
  ParsedCommandLine p = Parse({"/dev/a", "--once"});
  if (before != nullptr) {
    ::setenv("POSIXLY_CORRECT", saved.c_str(), 1);
  } else {
    ::unsetenv("POSIXLY_CORRECT");
  }
  ASSERT_EQ(p.kind, ParsedCommandLine::kRun) << p.error;
  EXPECT_EQ(p.options.device, "/dev/a");
  EXPECT_TRUE(p.options.once);
}

TEST(LineOptionsTest, Seconds) {
  struct Case {
    const char* text;
    int ms;
  };
  const Case cases[] = {
      {"8", 8000},   {"0.5", 500},  {".5", 500},      {"1.25", 1250}, {"0.001", 1}, {"86400", 86400000},
      {"0", -1},     {"0.0", -1},   {"0.0001", -1},   {"1.", -1},     {"", -1},     {"abc", -1},
      {"-1", -1},    {"+1", -1},    {" 1", -1},       {"1 ", -1},     {"1e3", -1},  {"86401", -1},
      {"$10", -1},   {"1.2.3", -1}, {"99999999", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseSeconds(c.text), c.ms) << c.text;
}

}  // namespace
}  // namespace annc
