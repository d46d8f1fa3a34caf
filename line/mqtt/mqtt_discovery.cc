#include "line/mqtt/mqtt_discovery.h"

#include <cstdint>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "text/terminal_text.h"

namespace annc {
namespace {

using nlohmann::json;

// Linux allows host names of 64 bytes; ids built from longer ones are cut.
constexpr std::size_t kHostIdBytes = 64;
// The device's name shows at most this many bytes of the host name.
constexpr std::size_t kHostNameBytes = 64;

constexpr const char* kDecisions[] = {"announce", "quiet", "block"};

// FNV-1a, 32 bits: small and the same on every machine and run.
std::uint32_t Fnv1a(std::string_view text, std::uint32_t hash = 2166136261u) {
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

// The discovery prefix as a topic can hold it: the wildcards and NUL, which
// no topic to publish on may hold, become '_'; slashes at the end go, since
// the topic adds its own.
std::string DiscoveryPrefix(std::string_view prefix) {
  std::string result(prefix);
  for (char& c : result) {
    if (c == '+' || c == '#' || c == '\0') c = '_';
  }
  while (!result.empty() && result.back() == '/') result.pop_back();
  if (result.empty()) result = "homeassistant";
  return result;
}

// The host name as people read it: no control bytes, at most kHostNameBytes
// bytes. Invalid UTF-8 is left to the JSON writer, which replaces it.
std::string HostDisplayName(std::string_view hostname) {
  std::string name = WithoutControlBytes(hostname.substr(0, kHostNameBytes), Charset::kUtf8);
  return name.empty() ? "unknown host" : name;
}

// What every entity of the device carries: the device, where the config
// came from, and availability from annc-line's status topic (retained
// "online", and "offline" as its last will).
json CommonConfig(const DiscoverySettings& settings, const std::string& node_id) {
  return {
      {"availability_topic", settings.topicPrefix + "/status"},
      {"payload_available", "online"},
      {"payload_not_available", "offline"},
      {"device",
       {{"identifiers", json::array({node_id})},
        {"name", "annc on " + HostDisplayName(settings.hostname)},
        {"manufacturer", "annc"},
        {"model", "annc"},
        {"sw_version", settings.version}}},
      {"origin", {{"name", "annc-line"}, {"sw_version", settings.version}}},
  };
}

// The event entity's template. Home Assistant's MQTT event platform wants
// JSON with "event_type" (one of event_types) and takes the other keys as
// the event's attributes; our payload names the decision "decision". The
// template renders a call's message as {"event_type": decision, ...} and
// anything else (the "end" of a call, a payload that is not ours) as
// nothing: the platform drops an empty rendering with a debug line, while
// JSON without a valid event_type would log a warning on every call's end.
// It names each field and reads it with .get(), which gives null for a
// missing one, rather than copying value_json, so that it keeps to the
// template functions every Home Assistant with the event platform has.
std::string EventTemplate() {
  std::string fields;
  for (const char* key : {"id", "time", "source", "line", "called", "number", "withheld", "network_name", "name",
                          "name_source", "rule", "rings", "announced"}) {
    fields += std::string(", '") + key + "': value_json.get('" + key + "')";
  }
  return "{% if value_json is mapping and value_json.get('event') == 'call'"
         " and value_json.get('decision') in ['announce', 'quiet', 'block'] %}"
         "{{ {'event_type': value_json.decision" +
         fields + "} | to_json }}{% endif %}";
}

// The sensor's state: the caller's name, else the number, else "withheld";
// cut at 255 characters, which is all a sensor's state may hold.
std::string LastCallerTemplate() {
  return "{% if value_json is mapping %}"
         "{{ ((value_json.get('name') or value_json.get('number') or 'withheld') | string)[:255] }}"
         "{% endif %}";
}

MqttMessage ConfigMessage(const std::string& topic, const json& config) {
  // The host name and version may hold anything: invalid UTF-8 becomes
  // U+FFFD, so that the payload is always valid JSON.
  return {topic, config.dump(-1, ' ', false, json::error_handler_t::replace), true};
}

}  // namespace

std::string DiscoveryIdText(std::string_view text, std::size_t limit) {
  std::string result(text.substr(0, limit));
  for (char& c : result) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (!ok) c = '_';
  }
  if (result.empty()) result = "_";
  return result;
}

std::string DiscoveryNodeId(const DiscoverySettings& settings) {
  std::uint32_t hash = Fnv1a(settings.topicPrefix, Fnv1a(std::string_view("\0", 1), Fnv1a(settings.hostname)));
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(hash));
  return "annc_" + DiscoveryIdText(settings.hostname, kHostIdBytes) + "_" + hex;
}

std::vector<MqttMessage> DiscoveryMessages(const DiscoverySettings& settings) {
  const std::string node_id = DiscoveryNodeId(settings);
  const std::string discovery = DiscoveryPrefix(settings.discoveryPrefix);
  // The entity ids Home Assistant makes from object_id read
  // event.annc_HOST_call and sensor.annc_HOST_last_caller; where two
  // prefixes share a host, Home Assistant numbers the second.
  const std::string object_base = "annc_" + DiscoveryIdText(settings.hostname, kHostIdBytes);
  const std::string call_topic = settings.topicPrefix + "/call";

  json event = CommonConfig(settings, node_id);
  event.update({
      {"name", "Call"},
      {"unique_id", node_id + "_call"},
      {"object_id", object_base + "_call"},
      {"state_topic", call_topic},
      {"event_types", kDecisions},
      {"value_template", EventTemplate()},
      {"icon", "mdi:phone-incoming"},
  });

  // The sensor reads PREFIX/call, not PREFIX/state: the state goes back to
  // idle once a call is over, while the last caller should stay until the
  // next call. A call's end message names the same caller and adds when it
  // ended, whether it was answered and how long it took to the attributes.
  json sensor = CommonConfig(settings, node_id);
  sensor.update({
      {"name", "Last caller"},
      {"unique_id", node_id + "_last_caller"},
      {"object_id", object_base + "_last_caller"},
      {"state_topic", call_topic},
      {"value_template", LastCallerTemplate()},
      {"json_attributes_topic", call_topic},
      {"icon", "mdi:phone-log"},
  });

  return {ConfigMessage(discovery + "/event/" + node_id + "/call/config", event),
          ConfigMessage(discovery + "/sensor/" + node_id + "/last_caller/config", sensor)};
}

}  // namespace annc
