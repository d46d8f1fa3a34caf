// Calls published on MQTT as a sink of calls: each call's events on
// PREFIX/call (QoS 1, in their order, kept until the broker has them), the
// line's state on PREFIX/state and annc-line's own on PREFIX/status (both
// retained). The broker never holds up a call: what it cannot take now
// waits in a bounded queue for the next connection.
#ifndef ANNC_LINE_MQTT_MQTT_PUBLISHER_H_
#define ANNC_LINE_MQTT_MQTT_PUBLISHER_H_

#include <optional>
#include <string>
#include <vector>

#include "line/calls/call_sink.h"
#include "line/mqtt/mqtt_connection.h"
#include "line/mqtt/mqtt_message.h"
#include "line/mqtt/mqtt_queue.h"

namespace annc {

struct MqttPublisherSettings {
  MqttSettings connection;  // its will is the publisher's own
  std::string topicPrefix;  // "annc/kitchen": no wildcards
  std::size_t queueCapacity = EventQueue::kDefaultCapacity;
};

class MqttPublisher : public CallSink {
 public:
  // annc-line's end waits this long at most for the broker to have the last
  // messages.
  static constexpr Millis kCloseMs = 1000;

  MqttPublisher(MqttPublisherSettings settings, StatusOutput& output);

  // The first connection attempt.
  void Begin(Millis now) { connection_.Begin(now); }
  // Published, retained, at every connection (after the status).
  void SetRetainedAtConnect(std::vector<MqttMessage> messages) { atConnect_ = std::move(messages); }
  // For whoever subscribes over the same connection.
  MqttConnection& connection() { return connection_; }
  const EventQueue& queue() const { return queue_; }

  void CallDecided(const CallRecord& record, Millis now) override;
  void CallEnded(const CallRecord& record, Millis now) override;
  std::optional<Millis> NextDeadline() const override { return connection_.NextDeadline(); }
  void OnTimer(Millis now) override;
  void AddWatches(std::vector<Watch>* watches) const override { connection_.AddWatches(watches); }
  void OnReady(const std::vector<Watch>& watches, Millis now) override;
  void Stop() override;
  bool Fatal() const override { return connection_.failed(); }

 private:
  void Queue(std::string payload);
  void Connected();
  // Hands the connection what waits: the state, then the events in order.
  void Pump();

  std::string prefix_;
  StatusOutput& output_;
  MqttConnection connection_;
  EventQueue queue_;
  std::vector<MqttMessage> atConnect_;
  std::optional<std::int64_t> ringing_;  // the id of the call ringing now
  std::string state_;
  bool statePending_ = true;
  bool fullSaid_ = false;
};

}  // namespace annc

#endif  // ANNC_LINE_MQTT_MQTT_PUBLISHER_H_
