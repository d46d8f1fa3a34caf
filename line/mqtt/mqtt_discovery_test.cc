#include "line/mqtt/mqtt_discovery.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "text/terminal_text.h"

namespace annc {
namespace {

using nlohmann::json;

DiscoverySettings Settings(std::string hostname, std::string prefix = "") {
  DiscoverySettings settings;
  settings.topicPrefix = prefix.empty() ? "annc/" + hostname : prefix;
  settings.hostname = std::move(hostname);
  settings.version = "0.1.0";
  return settings;
}

bool IsIdText(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

std::vector<std::string> Split(const std::string& topic) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  for (std::size_t slash; (slash = topic.find('/', at)) != std::string::npos; at = slash + 1) {
    parts.push_back(topic.substr(at, slash - at));
  }
  parts.push_back(topic.substr(at));
  return parts;
}

// The payload as JSON; fails the test when it is none (nlohmann's parser
// also refuses invalid UTF-8).
json Parse(const MqttMessage& message) {
  json config = json::parse(message.payload, nullptr, false);
  EXPECT_FALSE(config.is_discarded()) << message.topic << ": " << message.payload;
  EXPECT_TRUE(config.is_object()) << message.topic;
  return config.is_object() ? config : json::object();
}

// Everything each config must carry for Home Assistant to take it, whatever
// the host is called.
void CheckConfigs(const DiscoverySettings& settings, const std::string& discovery) {
  std::vector<MqttMessage> messages = DiscoveryMessages(settings);
  ASSERT_EQ(messages.size(), 2u) << settings.hostname;
  const char* components[] = {"event", "sensor"};
  const char* objects[] = {"call", "last_caller"};
  std::set<std::string> unique_ids;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const MqttMessage& message = messages[i];
    SCOPED_TRACE(message.topic);
    EXPECT_TRUE(message.retain);
    std::vector<std::string> parts = Split(message.topic);
    std::vector<std::string> prefix = Split(discovery);
    ASSERT_EQ(parts.size(), prefix.size() + 4);
    for (std::size_t p = 0; p < prefix.size(); ++p) EXPECT_EQ(parts[p], prefix[p]);
    std::size_t at = prefix.size();
    EXPECT_EQ(parts[at], components[i]);
    EXPECT_EQ(parts[at + 1], DiscoveryNodeId(settings));
    EXPECT_TRUE(IsIdText(parts[at + 1])) << parts[at + 1];
    EXPECT_EQ(parts[at + 2], objects[i]);
    EXPECT_EQ(parts[at + 3], "config");

    json config = Parse(message);
    ASSERT_TRUE(config.contains("unique_id"));
    ASSERT_TRUE(config["unique_id"].is_string());
    EXPECT_TRUE(IsIdText(config["unique_id"])) << config["unique_id"];
    unique_ids.insert(config["unique_id"].get<std::string>());
    ASSERT_TRUE(config.contains("object_id"));
    EXPECT_TRUE(IsIdText(config["object_id"])) << config["object_id"];
    EXPECT_EQ(config.value("availability_topic", ""), settings.topicPrefix + "/status");
    EXPECT_EQ(config.value("payload_available", ""), "online");
    EXPECT_EQ(config.value("payload_not_available", ""), "offline");
    EXPECT_EQ(config.value("state_topic", ""), settings.topicPrefix + "/call");
    ASSERT_TRUE(config.contains("value_template"));
    EXPECT_TRUE(config["value_template"].is_string());
    ASSERT_TRUE(config.contains("device"));
    const json& device = config["device"];
    EXPECT_EQ(device.value("identifiers", json()), json::array({DiscoveryNodeId(settings)}));
    ASSERT_TRUE(device.contains("name"));
    std::string name = device["name"];
    EXPECT_EQ(name.rfind("annc on ", 0), 0u) << name;
    for (char c : name) EXPECT_FALSE(IsControlByte(c)) << name;
    EXPECT_EQ(device.value("manufacturer", ""), "annc");
    EXPECT_EQ(device.value("model", ""), "annc");
    EXPECT_EQ(device.value("sw_version", ""), settings.version);
  }
  EXPECT_EQ(unique_ids.size(), messages.size()) << "unique ids repeat";

  json event = Parse(messages[0]);
  EXPECT_EQ(event.value("event_types", json()), json::array({"announce", "quiet", "block"}));
  json sensor = Parse(messages[1]);
  EXPECT_EQ(sensor.value("json_attributes_topic", ""), settings.topicPrefix + "/call");
}

TEST(MqttDiscoveryTest, ConfigsCarryWhatHomeAssistantNeeds) {
  struct Case {
    const char* hostname;
    const char* prefix;  // empty: annc/HOSTNAME
  } cases[] = {
      {"kitchen", ""},
      {"kitchen", "house/phone"},
      {"my host", ""},
      {"a/b", ""},
      {"a+b#c", "calls"},
      {"K\xc3\xbc" "che", ""},        // UTF-8
      {"bad\xff\xfe" "bytes", "x"},   // not UTF-8
      {"\x1b[2Jesc\x7f", "y"},        // control bytes
      {"", "z"},
      {"hhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhh", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hostname);
    CheckConfigs(Settings(c.hostname, c.prefix), "homeassistant");
  }
}

TEST(MqttDiscoveryTest, DiscoveryPrefixHoldsNoWildcards) {
  struct Case {
    const char* given;
    const char* used;
  } cases[] = {
      {"homeassistant", "homeassistant"},
      {"ha/discovery", "ha/discovery"},
      {"ha/", "ha"},
      {"", "homeassistant"},
      {"+/#", "_/_"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    DiscoverySettings settings = Settings("kitchen");
    settings.discoveryPrefix = c.given;
    CheckConfigs(settings, c.used);
  }
}

TEST(MqttDiscoveryTest, IdsAreStableAndTellHostsAndPrefixesApart) {
  EXPECT_EQ(DiscoveryNodeId(Settings("kitchen")), DiscoveryNodeId(Settings("kitchen")));
  EXPECT_EQ(DiscoveryMessages(Settings("kitchen"))[0].payload, DiscoveryMessages(Settings("kitchen"))[0].payload);
  EXPECT_EQ(DiscoveryNodeId(Settings("kitchen")).rfind("annc_kitchen_", 0), 0u) << DiscoveryNodeId(Settings("kitchen"));
  struct Pair {
    DiscoverySettings a;
    DiscoverySettings b;
  } pairs[] = {
      {Settings("kitchen", "annc/one"), Settings("kitchen", "annc/two")},
      {Settings("kitchen", "annc/x"), Settings("hall", "annc/x")},
      {Settings("a/b", "p"), Settings("a_b", "p")},        // the same once cleaned
      {Settings("ab", "cd"), Settings("abc", "d")},        // the same run together
  };
  for (const Pair& pair : pairs) {
    SCOPED_TRACE(pair.a.hostname + " " + pair.a.topicPrefix);
    std::string a = DiscoveryNodeId(pair.a);
    std::string b = DiscoveryNodeId(pair.b);
    EXPECT_NE(a, b);
    EXPECT_NE(DiscoveryMessages(pair.a)[0].topic, DiscoveryMessages(pair.b)[0].topic);
    EXPECT_NE(Parse(DiscoveryMessages(pair.a)[1])["unique_id"], Parse(DiscoveryMessages(pair.b)[1])["unique_id"]);
  }
}

TEST(MqttDiscoveryTest, IdTextKeepsOnlyWhatHomeAssistantAllows) {
  struct Case {
    const char* text;
    std::size_t limit;
    const char* want;
  } cases[] = {
      {"kitchen-2_b", 64, "kitchen-2_b"},
      {"my host.lan", 64, "my_host_lan"},
      {"a/b+c#d", 64, "a_b_c_d"},
      {"K\xc3\xbc", 64, "K__"},
      {"\x1b\x7f\xff", 64, "___"},
      {"abcdef", 3, "abc"},
      {"", 64, "_"},
  };
  for (const Case& c : cases) EXPECT_EQ(DiscoveryIdText(c.text, c.limit), c.want) << c.text;
}

TEST(MqttDiscoveryTest, DeviceNameShowsTheHostCleaned) {
  struct Case {
    const char* hostname;
    const char* name;
  } cases[] = {
      {"kitchen", "annc on kitchen"},
      {"K\xc3\xbc" "che", "annc on K\xc3\xbc" "che"},
      {"a\x1b[2Jb", "annc on a[2Jb"},
      {"bad\xff", "annc on bad\xef\xbf\xbd"},  // U+FFFD
      {"", "annc on unknown host"},
  };
  for (const Case& c : cases) {
    json config = Parse(DiscoveryMessages(Settings(c.hostname, "p"))[0]);
    EXPECT_EQ(config["device"]["name"], c.name) << c.hostname;
  }
}

// The templates are Home Assistant's to render; here only what they hinge
// on: the event entity drops everything but a call's message, and the
// sensor names the caller.
TEST(MqttDiscoveryTest, TemplatesReadOurPayload) {
  std::vector<MqttMessage> messages = DiscoveryMessages(Settings("kitchen"));
  std::string event = Parse(messages[0])["value_template"];
  EXPECT_NE(event.find("value_json.get('event') == 'call'"), std::string::npos) << event;
  EXPECT_NE(event.find("'event_type': value_json.decision"), std::string::npos) << event;
  EXPECT_EQ(event.find("{% else"), std::string::npos) << event;
  std::string sensor = Parse(messages[1])["value_template"];
  EXPECT_NE(sensor.find("value_json.get('name')"), std::string::npos) << sensor;
}

}  // namespace
}  // namespace annc
