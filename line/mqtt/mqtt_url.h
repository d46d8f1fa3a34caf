// The broker --mqtt names (mqtt://HOST[:PORT], mqtts://HOST[:PORT]), the
// topic prefix --mqtt-topic gives, and the credentials file
// --mqtt-credentials names.
#ifndef ANNC_LINE_MQTT_MQTT_URL_H_
#define ANNC_LINE_MQTT_MQTT_URL_H_

#include <optional>
#include <string>
#include <string_view>

#include "posix/line_system.h"
#include "text/terminal_text.h"

namespace annc {

constexpr int kMqttPort = 1883;
constexpr int kMqttTlsPort = 8883;

struct MqttBroker {
  std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
  int port = kMqttPort;
  bool tls = false;  // mqtts://
};

struct ParsedMqttUrl {
  std::optional<MqttBroker> broker;
  std::string error;  // when broker is empty: the URL and what is wrong with it, one line
};

// "mqtt://HOST[:PORT]" (1883) or "mqtts://HOST[:PORT]" (8883); HOST a name,
// an IPv4 address or an IPv6 address in brackets. The error shows the URL in
// caret notation under `charset`.
ParsedMqttUrl ParseMqttUrl(std::string_view url, Charset charset);

// annc-line's source "mqtt:HOST[:PORT]" (1883) or "mqtts:HOST[:PORT]" (8883):
// the broker whose published calls it announces.
bool IsMqttSource(std::string_view argument);
ParsedMqttUrl ParseMqttSource(std::string_view argument, Charset charset);

// "HOST:PORT", an IPv6 address in brackets, in caret notation: how status
// lines name the broker.
std::string BrokerName(const MqttBroker& broker, Charset charset);

// What is wrong with a topic prefix, or empty: it must be 1 to
// kMaxTopicPrefix bytes of UTF-8 without control characters, without the
// wildcards + and #, and neither begin nor end with '/'.
constexpr std::size_t kMaxTopicPrefix = 200;
std::string TopicPrefixProblem(std::string_view prefix);

// What is wrong with a followed prefix (--mqtt-follow), or empty: as for a
// topic prefix, but a level may be the wildcard +, and the last level #.
std::string FollowPrefixProblem(std::string_view prefix);

// "annc/HOSTNAME"; "annc" alone when the host's name is no topic level.
std::string DefaultTopicPrefix(std::string_view hostName);

struct MqttCredentials {
  std::string user;
  std::string password;
};

struct ReadCredentials {
  std::optional<MqttCredentials> credentials;
  std::string error;  // when credentials is empty: one status line
};

// The credentials file holds one line "user:password" (the password may hold
// ':'; a final newline is allowed). A file that every user may read or write
// is refused, as is anything but a regular file of at most 4 kB.
ReadCredentials ReadCredentialsFile(const std::string& path, Files& files, Charset charset);
// The text's part of the rules above: what is wrong with it, or empty.
std::string ParseCredentials(std::string_view text, MqttCredentials* credentials);

}  // namespace annc

#endif  // ANNC_LINE_MQTT_MQTT_URL_H_
