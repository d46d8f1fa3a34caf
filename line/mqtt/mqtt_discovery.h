// Home Assistant's MQTT discovery: the retained config messages that make
// Home Assistant show annc-line as a device with an event entity for the
// calls and a sensor of the last caller, both read from what annc-line
// publishes under its topic prefix.
#ifndef ANNC_LINE_MQTT_MQTT_DISCOVERY_H_
#define ANNC_LINE_MQTT_MQTT_DISCOVERY_H_

#include <string>
#include <string_view>
#include <vector>

#include "line/mqtt/mqtt_message.h"

namespace annc {

struct DiscoverySettings {
  std::string topicPrefix;  // where annc-line publishes: PREFIX/call, PREFIX/state, PREFIX/status
  std::string discoveryPrefix = "homeassistant";
  std::string hostname;
  std::string version;  // annc-line's, shown as the device's software version
};

// The text as one segment of a discovery topic or an id Home Assistant
// accepts: every byte other than [a-zA-Z0-9_-] becomes '_' (each byte of a
// UTF-8 character too), cut at `limit` bytes; "_" when it would be empty.
std::string DiscoveryIdText(std::string_view text, std::size_t limit);

// The id of the device for this host and topic prefix: "annc_HOST_XXXXXXXX"
// with HOST as DiscoveryIdText makes it and a hash of the host and prefix as
// they are, so that it stays the same from run to run and two prefixes on
// one host (or two hosts whose names clean to the same text) differ.
std::string DiscoveryNodeId(const DiscoverySettings& settings);

// The config messages, retained: the event entity of the calls first, then
// the sensor of the last caller.
std::vector<MqttMessage> DiscoveryMessages(const DiscoverySettings& settings);

}  // namespace annc

#endif  // ANNC_LINE_MQTT_MQTT_DISCOVERY_H_
