// The calls other annc-lines publish, as call events of this one: the
// messages of PREFIX/call and PREFIX/status, for each followed prefix, turn
// into the events a caller-ID server's record would give. Pure: no clock,
// no I/O. Every message comes from whoever may publish on the broker: the
// calls and the publishers remembered are bounded, and a message that is no
// call is said at most once a minute per publisher.
#ifndef ANNC_LINE_MQTT_FOLLOWED_CALLS_H_
#define ANNC_LINE_MQTT_FOLLOWED_CALLS_H_

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "line/calls/call_tracker.h"
#include "posix/clock.h"
#include "text/terminal_text.h"

namespace annc {

// Without --mqtt-follow: every annc-line publishing under annc/ with its
// default prefix.
constexpr std::string_view kDefaultFollow = "annc/+";
// No rings come from a publisher: a call whose end never comes is over
// after this long unless --ring-timeout says otherwise.
constexpr Millis kMqttRingTimeoutMs = 120000;

// What the source follows: topic prefixes, each of whose levels may be +,
// and whose last may be #; and annc-line's own prefix (empty: it publishes
// none), whose messages are its own calls and are left out.
struct FollowSettings {
  std::vector<std::string> follow;
  std::string ownPrefix;
  Charset charset = Charset::kSingleByte;
};

// The topic filters that carry a followed prefix's calls and status:
// PREFIX/call and PREFIX/status, or PREFIX itself when it ends in #.
std::vector<std::string> FollowedTopics(const std::vector<std::string>& follow);

// Whether a publisher's prefix (no wildcards) is one a followed prefix
// names: + stands for one level, a last # for any number of them.
bool PrefixFollowed(std::string_view follow, std::string_view prefix);

class FollowedCalls {
 public:
  // Calls in progress remembered at once; the oldest is ended to make room.
  static constexpr std::size_t kMaxCalls = 64;
  // Publishers whose last unreadable message is remembered.
  static constexpr std::size_t kMaxSaid = 64;
  // A publisher's unreadable messages are said at most this often.
  static constexpr Millis kSayEveryMs = 60000;

  explicit FollowedCalls(FollowSettings settings) : settings_(std::move(settings)) {}

  struct Result {
    std::vector<CallEvent> events;
    std::vector<std::string> status;  // fit for a terminal
  };
  // One message as the broker handed it on.
  Result OnMessage(std::string_view topic, std::string_view payload, Millis now);
  // The broker is gone: the calls it brought are over (the source says so
  // to the tracker once, for all of them).
  void Forget() { calls_.clear(); }
  std::size_t calls() const { return calls_.size(); }

 private:
  struct Call {
    std::string key;        // PREFIX#ID: the tracker's line
    std::string publisher;  // PREFIX
  };

  void OnCall(const std::string& publisher, std::string_view payload, Millis now, Result* result);
  void OnStatus(const std::string& publisher, std::string_view payload, Result* result);
  // The call's key when it is remembered; calls_.end() when not.
  std::vector<Call>::iterator Find(const std::string& key);

  FollowSettings settings_;
  std::vector<Call> calls_;  // the oldest first
  std::map<std::string, Millis> said_;  // publisher: when its last unreadable message was said
};

}  // namespace annc

#endif  // ANNC_LINE_MQTT_FOLLOWED_CALLS_H_
