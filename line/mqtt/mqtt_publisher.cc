#include "line/mqtt/mqtt_publisher.h"

#include "line/mqtt/mqtt_payload.h"

namespace annc {
namespace {

MqttSettings WithWill(MqttSettings settings, const std::string& prefix) {
  settings.will = MqttMessage{prefix + "/status", "offline", true};
  return settings;
}

}  // namespace

MqttPublisher::MqttPublisher(MqttPublisherSettings settings, StatusOutput& output)
    : prefix_(settings.topicPrefix),
      output_(output),
      connection_(WithWill(std::move(settings.connection), settings.topicPrefix), output,
                  MqttConnection::Handlers{
                      .connected = [this] { Connected(); },
                      .published = [this](int mid) { queue_.Acked(mid); },
                      .lost =
                          [this] {
                            queue_.Unsend();
                            statePending_ = true;
                          },
                      .message = nullptr}),
      queue_(settings.queueCapacity),
      state_(StatePayload(nullptr)) {}

void MqttPublisher::Queue(std::string payload) {
  if (queue_.Push(std::move(payload))) {
    fullSaid_ = false;
    return;
  }
  if (!fullSaid_) {
    output_.Status("the MQTT queue is full (" + std::to_string(queue_.size()) +
                   " call events): events are dropped until the broker takes them");
    fullSaid_ = true;
  }
}

void MqttPublisher::CallDecided(const CallRecord& record, Millis /*now*/) {
  Queue(CallPayload(record, false));
  ringing_ = record.id;
  state_ = StatePayload(&record);
  statePending_ = true;
  Pump();
}

void MqttPublisher::CallEnded(const CallRecord& record, Millis /*now*/) {
  Queue(CallPayload(record, true));
  if (ringing_ == record.id) {
    ringing_.reset();
    state_ = StatePayload(nullptr);
    statePending_ = true;
  }
  Pump();
}

void MqttPublisher::Connected() {
  (void)connection_.Publish(MqttMessage{prefix_ + "/status", "online", true}, 1);
  for (const MqttMessage& message : atConnect_) (void)connection_.Publish(message, 1);
  if (std::size_t dropped = queue_.TakeDropped(); dropped > 0) {
    output_.Status(std::to_string(dropped) + " call events were dropped while the MQTT queue was full");
  }
  statePending_ = true;
  Pump();
}

void MqttPublisher::Pump() {
  if (!connection_.connected()) return;
  if (statePending_ && connection_.Publish(MqttMessage{prefix_ + "/state", state_, true}, 1)) statePending_ = false;
  while (const std::string* payload = queue_.NextUnsent()) {
    std::optional<int> mid = connection_.Publish(MqttMessage{prefix_ + "/call", *payload, false}, 1);
    if (!mid) return;
    queue_.Sent(*mid);
  }
}

void MqttPublisher::OnTimer(Millis now) {
  connection_.OnTimer(now);
  Pump();
}

void MqttPublisher::OnReady(const std::vector<Watch>& watches, Millis now) {
  connection_.OnReady(watches, now);
  Pump();
}

void MqttPublisher::Stop() {
  Pump();
  connection_.Close(MqttMessage{prefix_ + "/status", "offline", true}, kCloseMs);
}

}  // namespace annc
