#include "line/mqtt/mqtt_url.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "posix/fake_line_system.h"

namespace annc {
namespace {

TEST(MqttUrlTest, BrokersAndTheirErrors) {
  struct Case {
    const char* url;
    const char* host;  // null: an error holding `error`
    int port;
    bool tls;
    const char* error;
  };
  const Case cases[] = {
      {"mqtt://broker.lan", "broker.lan", 1883, false, ""},
      {"mqtts://broker.lan", "broker.lan", 8883, true, ""},
      {"mqtt://192.168.1.2:1884", "192.168.1.2", 1884, false, ""},
      {"mqtts://[::1]:8884", "::1", 8884, true, ""},
      {"mqtt://[fe80::1%eth0]", "fe80::1%eth0", 1883, false, ""},
      {"mqtt://", nullptr, 0, false, "no host"},
      {"mqtt://host:0", nullptr, 0, false, "port must be a number"},
      {"mqtt://host:99999", nullptr, 0, false, "port must be a number"},
      {"mqtt://host:", nullptr, 0, false, "no port after ':'"},
      {"mqtt://::1", nullptr, 0, false, "IPv6 address goes in brackets"},
      {"mqtt://host/topic", nullptr, 0, false, "not a host name"},
      {"http://host", nullptr, 0, false, "expected mqtt://HOST[:PORT] or mqtts://HOST[:PORT]"},
      {"mqtt:/host", nullptr, 0, false, "expected mqtt://"},
      {"MQTT://host", nullptr, 0, false, "expected mqtt://"},
      {"mqtt://ho\x1bst", nullptr, 0, false, "mqtt://ho^[st: not a host name"},
  };
  for (const Case& c : cases) {
    ParsedMqttUrl parsed = ParseMqttUrl(c.url, Charset::kUtf8);
    if (c.host == nullptr) {
      EXPECT_FALSE(parsed.broker) << c.url;
      EXPECT_NE(parsed.error.find(c.error), std::string::npos) << c.url << ": " << parsed.error;
      continue;
    }
    ASSERT_TRUE(parsed.broker) << c.url << ": " << parsed.error;
    EXPECT_EQ(parsed.broker->host, c.host) << c.url;
    EXPECT_EQ(parsed.broker->port, c.port) << c.url;
    EXPECT_EQ(parsed.broker->tls, c.tls) << c.url;
  }
}

TEST(MqttUrlTest, BrokerNameBracketsIpv6) {
  EXPECT_EQ(BrokerName(MqttBroker{"::1", 1883, false}, Charset::kUtf8), "[::1]:1883");
  EXPECT_EQ(BrokerName(MqttBroker{"broker", 8883, true}, Charset::kUtf8), "broker:8883");
}

TEST(MqttUrlTest, TopicPrefixes) {
  struct Case {
    std::string prefix;
    const char* problem;  // empty: fine
  };
  const Case cases[] = {
      {"annc/kitchen", ""},
      {"home/phone/annc", ""},
      {"t\xc3\xa9l\xc3\xa9phone", ""},
      {"", "empty"},
      {"annc/+", "wildcard"},
      {"annc/#", "wildcard"},
      {"a+b", "wildcard"},
      {"/annc", "begins or ends"},
      {"annc/", "begins or ends"},
      {"annc\x01", "control"},
      {std::string("an\0nc", 5), "control"},
      {"annc\xff", "UTF-8"},
      // As libmosquitto's own check: three and four bytes taken, C1
      // controls, cut, overlong and surrogate forms and non-characters not.
      {"annc/\xe2\x82\xac\xf0\x9f\x93\x9e", ""},
      {"annc\x7f", "UTF-8"},
      {"annc\xc2\x9b", "UTF-8"},
      {"annc\xe2\x82", "UTF-8"},
      {"annc\xe0\x80\xaf", "UTF-8"},
      {"annc\xf0\x80\x80\xaf", "UTF-8"},
      {"annc\xed\xa0\x80", "UTF-8"},
      {"annc\xef\xb7\x90", "UTF-8"},
      {"annc\xef\xbf\xbe", "UTF-8"},
      {"annc\xf0\x9f\xbf\xbf", "UTF-8"},
      {"annc\xf4\x90\x80\x80", "UTF-8"},
      {std::string(200, 'a'), ""},
      {std::string(201, 'a'), "longer than 200"},
  };
  for (const Case& c : cases) {
    std::string problem = TopicPrefixProblem(c.prefix);
    if (*c.problem == '\0') {
      EXPECT_EQ(problem, "") << c.prefix;
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.prefix << ": " << problem;
    }
  }
  EXPECT_EQ(DefaultTopicPrefix("kitchen"), "annc/kitchen");
  for (const char* odd : {"", "a+b", "a#", "a/b", "a\x01"}) EXPECT_EQ(DefaultTopicPrefix(odd), "annc") << odd;
}

TEST(MqttCredentialsTest, TheLineAndWhatIsWrongWithIt) {
  struct Case {
    std::string text;
    const char* user;  // null: refused with `problem`
    const char* password;
    const char* problem;
  };
  const Case cases[] = {
      {"annc:secret", "annc", "secret", ""},
      {"annc:secret\n", "annc", "secret", ""},
      {"annc:secret\r\n", "annc", "secret", ""},
      {"annc:se:cr:et\n", "annc", "se:cr:et", ""},
      {"annc:\n", "annc", "", ""},
      {"annc:secret\nmore:lines\n", nullptr, nullptr, "more than one line"},
      {"annc:secret\n\n", nullptr, nullptr, "more than one line"},
      {"annc\n", nullptr, nullptr, "no user:password"},
      {"", nullptr, nullptr, "no user:password"},
      {":secret", nullptr, nullptr, "no user"},
      {"an\x01nc:secret", nullptr, nullptr, "UTF-8"},
      {"an\xffnc:secret", nullptr, nullptr, "UTF-8"},
      {std::string("annc:se\0cret", 12), nullptr, nullptr, "NUL"},
  };
  for (const Case& c : cases) {
    MqttCredentials credentials;
    std::string problem = ParseCredentials(c.text, &credentials);
    if (c.user == nullptr) {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.text << ": " << problem;
      continue;
    }
    EXPECT_EQ(problem, "") << c.text;
    EXPECT_EQ(credentials.user, c.user);
    EXPECT_EQ(credentials.password, c.password);
  }
}

TEST(MqttCredentialsTest, AFileEveryUserMayReadIsRefused) {
  struct Case {
    unsigned mode;
    bool folder;
    int readError;
    const char* error;  // empty: read
  };
  const Case cases[] = {
      {0600, false, 0, ""},
      {0400, false, 0, ""},
      {0640, false, 0, ""},
      {0604, false, 0, "every user may read or change it (mode 0604)"},
      {0602, false, 0, "mode 0602"},
      {0644, false, 0, "mode 0644"},
      {0600, false, EACCES, "cannot read the MQTT credentials /etc/annc/mqtt: Permission denied"},
      {0600, true, 0, "/etc/annc/mqtt: not a regular file"},
  };
  for (const Case& c : cases) {
    FakeLineSystem system;
    const std::string path = "/etc/annc/mqtt";
    if (c.folder) {
      system.folders.insert(path);
    } else {
      system.WriteFile(path, "annc:secret\n");
      system.files[path].mode = c.mode;
      system.files[path].readError = c.readError;
    }
    ReadCredentials read = ReadCredentialsFile(path, system, Charset::kUtf8);
    if (*c.error == '\0') {
      ASSERT_TRUE(read.credentials) << std::oct << c.mode << ": " << read.error;
      EXPECT_EQ(read.credentials->password, "secret");
    } else {
      EXPECT_FALSE(read.credentials) << std::oct << c.mode;
      EXPECT_NE(read.error.find(c.error), std::string::npos) << read.error;
    }
  }
  FakeLineSystem system;
  EXPECT_NE(ReadCredentialsFile("/none", system, Charset::kUtf8).error.find("No such file"), std::string::npos);
}

}  // namespace
}  // namespace annc
