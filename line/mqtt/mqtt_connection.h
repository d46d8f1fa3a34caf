// The one connection to the MQTT broker, through libmosquitto and driven by
// annc-line's event loop: its socket is waited on with the other handles,
// and libmosquitto runs no thread of its own. A broken connection is made
// again after 1 s, then after waits that double up to 60 s; a broker that
// turns the credentials or its certificate down before the first connection
// is fatal.
//
// Connecting resolves the broker's name inside libmosquitto, with a
// getaddrinfo that blocks the loop while it waits for the DNS; a broker
// named by its address waits for nothing.
#ifndef ANNC_LINE_MQTT_MQTT_CONNECTION_H_
#define ANNC_LINE_MQTT_MQTT_CONNECTION_H_

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "line/mqtt/mqtt_message.h"
#include "line/mqtt/mqtt_url.h"
#include "line/sources/server/backoff.h"
#include "posix/line_system.h"

struct mosquitto;
struct mosquitto_message;

namespace annc {

struct MosquittoLibrary;

struct MqttSettings {
  MqttBroker broker;
  std::string caFile;  // mqtts://: the CAs the broker's certificate is checked against; empty: the system's
  std::optional<MqttCredentials> credentials;
  std::string clientId;  // empty: one libmosquitto makes up
  std::optional<MqttMessage> will;  // what the broker publishes when the connection breaks
  int keepaliveSeconds = 30;
  Charset charset = Charset::kSingleByte;
};

class MqttConnection {
 public:
  // No CONNACK this long after the attempt began: the attempt has failed.
  static constexpr Millis kConnectMs = 10000;
  // While connected, libmosquitto's keepalive is looked after this often.
  static constexpr Millis kMiscMs = 1000;
  // Every this many failed attempts in a row, a status line says so.
  static constexpr int kSayAttemptsEvery = 10;

  struct Handlers {
    // Connected (again): what must be published at each connection.
    std::function<void()> connected;
    // The broker has acknowledged the QoS-1 message `mid`.
    std::function<void(int mid)> published;
    // The connection broke: what was not acknowledged must go again.
    std::function<void()> lost;
    // A message on a subscribed topic.
    std::function<void(std::string_view topic, std::string_view payload)> message;
  };

  MqttConnection(MqttSettings settings, StatusOutput& output, Handlers handlers);
  ~MqttConnection();
  MqttConnection(const MqttConnection&) = delete;
  MqttConnection& operator=(const MqttConnection&) = delete;

  // The first attempt.
  void Begin(Millis now);
  // Subscribed at every connection from now on (at once when connected).
  void Subscribe(const std::string& topic, int qos);

  bool connected() const { return state_ == kConnected; }
  // Set once the broker turned annc-line down for good; the status line
  // has been said.
  bool failed() const { return state_ == kFailed; }

  // Hands a message to the connection: its id, or none when not connected
  // or the connection broke (the next step says so).
  std::optional<int> Publish(const MqttMessage& message, int qos);

  // The loop's side.
  std::optional<Millis> NextDeadline() const;
  void OnTimer(Millis now);
  void AddWatches(std::vector<Watch>* watches) const;
  void OnReady(const std::vector<Watch>& watches, Millis now);

  // annc-line's end: `last` is published (QoS 1), then at most `waitMs` go
  // by until the broker has acknowledged what was sent; then a clean
  // disconnect. Nothing when not connected.
  void Close(const std::optional<MqttMessage>& last, Millis waitMs);

 private:
  enum State { kWaiting, kConnecting, kConnected, kFailed, kClosed };

  static void OnConnectThunk(mosquitto* m, void* self, int rc);
  static void OnPublishThunk(mosquitto* m, void* self, int mid);
  static void OnMessageThunk(mosquitto* m, void* self, const ::mosquitto_message* message);
  static void OnLogThunk(mosquitto* m, void* self, int level, const char* text);

  void Attempt(Millis now);
  // What libmosquitto's call returned, and what its callbacks noted.
  void Settle(int rc, int error, Millis now);
  // libmosquitto's call failed: fatal for a certificate refused before the
  // first connection, else the connection is tried again.
  void Failure(int rc, int error, Millis now);
  void Broken(const std::string& why, Millis now);
  void Fatal(const std::string& why);
  void Destroy();
  std::string ErrorText(int rc, int error) const;
  int Socket() const;

  MqttSettings settings_;
  StatusOutput& output_;
  Handlers handlers_;
  std::string shown_;  // "MQTT broker HOST:PORT"
  mosquitto* mosq_ = nullptr;
  // libmosquitto, loaded at the first connection's making; nothing when it
  // cannot be, with why.
  const MosquittoLibrary* library_ = nullptr;
  std::string libraryError_;
  State state_ = kWaiting;
  Millis deadline_ = 0;  // kWaiting: the next attempt; kConnecting: its end
  Millis miscAt_ = 0;
  Backoff backoff_;
  int attempts_ = 0;
  bool outageSaid_ = false;
  bool everConnected_ = false;
  std::vector<std::pair<std::string, int>> subscriptions_;
  std::set<int> unacked_;
  // Noted by the callbacks while libmosquitto runs, acted on after it.
  std::optional<int> connack_;
  std::string tlsError_;
};

}  // namespace annc

#endif  // ANNC_LINE_MQTT_MQTT_CONNECTION_H_
