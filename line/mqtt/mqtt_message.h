// One message for an MQTT broker: where it goes, what it says, and whether
// the broker keeps it for those who subscribe later.
#ifndef ANNC_LINE_MQTT_MQTT_MESSAGE_H_
#define ANNC_LINE_MQTT_MQTT_MESSAGE_H_

#include <string>

namespace annc {

struct MqttMessage {
  std::string topic;
  std::string payload;
  bool retain = true;
};

}  // namespace annc

#endif  // ANNC_LINE_MQTT_MQTT_MESSAGE_H_
