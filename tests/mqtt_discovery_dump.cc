// Writes the discovery config messages for the host and topic prefix given
// (argv[1], argv[2]): the topic, a tab and the payload, one message a line.
// tests/test_mqtt_discovery_templates.py renders their templates.
#include <cstdio>

#include "line/mqtt/mqtt_discovery.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: mqtt_discovery_dump HOSTNAME TOPIC_PREFIX\n");
    return 2;
  }
  annc::DiscoverySettings settings;
  settings.hostname = argv[1];
  settings.topicPrefix = argv[2];
  settings.version = "test";
  for (const annc::MqttMessage& message : annc::DiscoveryMessages(settings)) {
    std::printf("%s\t%s\n", message.topic.c_str(), message.payload.c_str());
  }
  return 0;
}
