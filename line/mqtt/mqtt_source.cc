#include "line/mqtt/mqtt_source.h"

#include <utility>

namespace annc {

MqttSource::MqttSource(MqttSourceSettings settings)
    : calls_(settings.follow),
      connection_(std::move(settings.connection), held_,
                  MqttConnection::Handlers{
                      .connected = [this] { said_.push_back(Said{Said::kConnected, {}, {}}); },
                      .published = nullptr,
                      .lost =
                          [this] {
                            calls_.Forget();
                            said_.push_back(Said{Said::kLost, {}, {}});
                          },
                      .message = [this](std::string_view topic,
                                        std::string_view payload) { OnMessage(topic, payload); }}),
      charset_(settings.follow.charset) {
  shown_ = "MQTT broker " + BrokerName(settings.connection.broker, charset_);
  for (const std::string& topic : FollowedTopics(settings.follow.follow)) connection_.Subscribe(topic, 1);
}

void MqttSource::OnMessage(std::string_view topic, std::string_view payload) {
  std::string line = std::string(topic) + " " + std::string(payload.substr(0, kShownBytes));
  said_.push_back(Said{Said::kLine, std::move(line), {}});
  FollowedCalls::Result result = calls_.OnMessage(topic, payload, now_);
  for (std::string& status : result.status) said_.push_back(Said{Said::kStatus, std::move(status), {}});
  for (CallEvent& event : result.events) said_.push_back(Said{Said::kEvent, {}, std::move(event)});
}

void MqttSource::Deliver(const SourceOutput& out) {
  std::vector<Said> said = std::exchange(said_, {});
  // A broker that turned annc-line down before its first connection: the
  // connection's last line says why, and is what annc-line ends with.
  if (connection_.failed() && startup_ == kStarting) {
    startup_ = kFailed;
    for (auto it = said.rbegin(); it != said.rend(); ++it) {
      if (it->kind == Said::kStatus) {
        failure_ = it->text;
        said.erase(std::next(it).base());
        break;
      }
    }
  }
  for (const Said& one : said) {
    switch (one.kind) {
      case Said::kStatus:
        out.status(one.text);
        break;
      case Said::kLine:
        out.line(one.text);
        break;
      case Said::kEvent:
        out.event(one.event);
        break;
      case Said::kConnected:
        startup_ = kStarted;
        out.service("connected to the " + shown_, true);
        break;
      case Said::kLost:
        out.event(CallEvent{CallEvent::kSourceLost, {}, {}});
        out.service("connecting again to the " + shown_, false);
        break;
    }
  }
}

void MqttSource::Begin(Millis now, const SourceOutput& out) {
  now_ = now;
  connection_.Begin(now);
  Deliver(out);
}

int MqttSource::handle() const {
  std::vector<Watch> watches;
  connection_.AddWatches(&watches);
  return watches.empty() ? -1 : watches.front().handle;
}

// The connection waits to write and to read at once; the loop waits on one
// of them, writing first: what comes meanwhile is read at the next step.
bool MqttSource::WantsWritable() const {
  std::vector<Watch> watches;
  connection_.AddWatches(&watches);
  return watches.size() > 1;
}

void MqttSource::OnReady(Millis now, const SourceOutput& out) {
  now_ = now;
  int fd = handle();
  if (fd >= 0) connection_.OnReady({Watch{fd, WantsWritable(), true}}, now);
  Deliver(out);
}

void MqttSource::OnTimer(Millis now, const SourceOutput& out) {
  now_ = now;
  connection_.OnTimer(now);
  Deliver(out);
}

}  // namespace annc
