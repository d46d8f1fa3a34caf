// The calls other annc-lines publish on an MQTT broker, as a call source:
// annc-line subscribes to the followed prefixes' calls and status over its
// own connection and announces what the publishers announced. The broker is
// connected to again as the publisher's connection is; its loss ends the
// calls in progress. Started once connected the first time; a broker that
// cannot be reached at start is tried again, one that turns the credentials
// or its certificate down ends annc-line.
#ifndef ANNC_LINE_MQTT_MQTT_SOURCE_H_
#define ANNC_LINE_MQTT_MQTT_SOURCE_H_

#include <string>
#include <string_view>
#include <vector>

#include "line/mqtt/followed_calls.h"
#include "line/mqtt/mqtt_connection.h"
#include "line/sources/call_source.h"

namespace annc {

struct MqttSourceSettings {
  MqttSettings connection;  // no will: the source publishes nothing
  FollowSettings follow;
};

class MqttSource : public CallSource {
 public:
  // Each message seen is shown (--check) cut to this many bytes.
  static constexpr std::size_t kShownBytes = 300;

  explicit MqttSource(MqttSourceSettings settings);

  void Begin(Millis now, const SourceOutput& out) override;
  Startup startup() const override { return startup_; }
  std::string FailureText() const override { return failure_; }

  int handle() const override;
  bool WantsWritable() const override;
  std::optional<Millis> NextDeadline() const override { return connection_.NextDeadline(); }
  void OnReady(Millis now, const SourceOutput& out) override;
  void OnTimer(Millis now, const SourceOutput& out) override;

 private:
  // What happened while the connection ran, in its order, for `out`.
  struct Said {
    enum Kind { kStatus, kLine, kEvent, kConnected, kLost };
    Kind kind;
    std::string text;
    CallEvent event;
  };

  // The connection's status lines, held with the rest.
  class HeldStatus : public StatusOutput {
   public:
    explicit HeldStatus(std::vector<Said>& said) : said_(said) {}
    void Status(std::string_view text) override { said_.push_back(Said{Said::kStatus, std::string(text), {}}); }
    void Print(std::string_view) override {}
    void AnnouncerLeftLine() override {}
    void Service(std::string_view, bool) override {}
    void Stopping() override {}

   private:
    std::vector<Said>& said_;
  };

  void OnMessage(std::string_view topic, std::string_view payload);
  // Hands `out` what the connection's last step brought.
  void Deliver(const SourceOutput& out);

  std::vector<Said> said_;
  HeldStatus held_{said_};
  FollowedCalls calls_;
  MqttConnection connection_;
  std::string shown_;  // "MQTT broker HOST:PORT"
  Charset charset_;
  Startup startup_ = kStarting;
  std::string failure_;
  Millis now_ = 0;
};

}  // namespace annc

#endif  // ANNC_LINE_MQTT_MQTT_SOURCE_H_
