#include "line/mqtt/followed_calls.h"

#include <algorithm>
#include <utility>

#include "line/mqtt/mqtt_call_parse.h"
#include "line/mqtt/mqtt_url.h"

namespace annc {
namespace {

constexpr std::string_view kCallTopic = "/call";
constexpr std::string_view kStatusTopic = "/status";

// The first level of `topic` and what follows its '/', if any.
std::pair<std::string_view, std::string_view> FirstLevel(std::string_view topic, bool* more) {
  std::size_t slash = topic.find('/');
  *more = slash != std::string_view::npos;
  if (!*more) return {topic, {}};
  return {topic.substr(0, slash), topic.substr(slash + 1)};
}

}  // namespace

std::vector<std::string> FollowedTopics(const std::vector<std::string>& follow) {
  std::vector<std::string> topics;
  for (const std::string& prefix : follow) {
    if (prefix == "#" || prefix.ends_with("/#")) {
      topics.push_back(prefix);
    } else {
      topics.push_back(prefix + std::string(kCallTopic));
      topics.push_back(prefix + std::string(kStatusTopic));
    }
  }
  return topics;
}

bool PrefixFollowed(std::string_view follow, std::string_view prefix) {
  for (;;) {
    bool followMore = false;
    bool prefixMore = false;
    auto [want, followRest] = FirstLevel(follow, &followMore);
    if (want == "#" && !followMore) return true;
    auto [level, prefixRest] = FirstLevel(prefix, &prefixMore);
    if (want != "+" && want != level) return false;
    // "annc/#" names "annc" as well.
    if (!prefixMore) return !followMore || followRest == "#";
    if (!followMore) return false;
    follow = followRest;
    prefix = prefixRest;
  }
}

std::vector<FollowedCalls::Call>::iterator FollowedCalls::Find(const std::string& key) {
  return std::find_if(calls_.begin(), calls_.end(), [&key](const Call& call) { return call.key == key; });
}

FollowedCalls::Result FollowedCalls::OnMessage(std::string_view topic, std::string_view payload, Millis now) {
  Result result;
  bool isCall = topic.ends_with(kCallTopic);
  if (!isCall && !topic.ends_with(kStatusTopic)) return result;  // PREFIX/state, discovery, anything else
  std::string_view prefix = topic.substr(0, topic.size() - (isCall ? kCallTopic : kStatusTopic).size());
  // No annc-line publishes under a prefix it could not be given: such a
  // topic is nobody's calls, and is left unread.
  if (!TopicPrefixProblem(prefix).empty()) return result;
  if (prefix == settings_.ownPrefix) return result;
  bool followed = std::any_of(settings_.follow.begin(), settings_.follow.end(),
                              [prefix](const std::string& follow) { return PrefixFollowed(follow, prefix); });
  if (!followed) return result;
  std::string publisher(prefix);
  if (isCall) {
    OnCall(publisher, payload, now, &result);
  } else {
    OnStatus(publisher, payload, &result);
  }
  return result;
}

void FollowedCalls::OnCall(const std::string& publisher, std::string_view payload, Millis now, Result* result) {
  std::string error;
  std::optional<PublishedCall> call = ParsePublishedCall(payload, settings_.charset, &error);
  if (!call) {
    auto said = said_.find(publisher);
    if (said != said_.end() && now - said->second < kSayEveryMs) return;
    if (said == said_.end() && said_.size() >= kMaxSaid) {
      said_.erase(std::min_element(said_.begin(), said_.end(),
                                   [](const auto& a, const auto& b) { return a.second < b.second; }));
    }
    said_[publisher] = now;
    result->status.push_back("a message of " + CaretNotation(publisher, "", settings_.charset) +
                             " on MQTT is no call (" + CaretNotation(error, "", settings_.charset) +
                             "); left out, and its like for a minute");
    return;
  }
  std::string key = publisher + "#" + std::to_string(call->id);
  auto known = Find(key);
  if (call->event == PublishedCall::kEnd) {
    if (known == calls_.end()) return;  // one not announced, or forgotten
    calls_.erase(known);
    result->events.push_back(CallEvent{CallEvent::kCallEnded, {}, key});
    return;
  }
  // The publisher's screening had its say: what it kept quiet or blocked
  // is no call for this box. A call told again is the same call.
  if (call->decision != "announce" || known != calls_.end()) return;
  if (calls_.size() >= kMaxCalls) {
    result->events.push_back(CallEvent{CallEvent::kCallEnded, {}, calls_.front().key});
    calls_.erase(calls_.begin());
  }
  calls_.push_back(Call{key, publisher});
  std::vector<CallEvent>& events = result->events;
  events.push_back(CallEvent{CallEvent::kNumber, call->withheld ? std::string() : call->number, key});
  const std::string& name = !call->name.empty() ? call->name : call->networkName;
  if (!name.empty()) events.push_back(CallEvent{CallEvent::kName, name, key});
  if (!call->line.empty()) events.push_back(CallEvent{CallEvent::kLineLabel, call->line, key});
  if (!call->called.empty()) events.push_back(CallEvent{CallEvent::kCalledNumber, call->called, key});
  events.push_back(CallEvent{CallEvent::kCallerIdComplete, {}, key});
}

void FollowedCalls::OnStatus(const std::string& publisher, std::string_view payload, Result* result) {
  // "online" says nothing of calls; a publisher back after a crash
  // published "offline" (its will) first.
  if (ParseStatus(payload) != PublisherStatus::kOffline) return;
  std::vector<Call> kept;
  for (Call& call : calls_) {
    if (call.publisher == publisher) {
      result->events.push_back(CallEvent{CallEvent::kCallEnded, {}, call.key});
    } else {
      kept.push_back(std::move(call));
    }
  }
  calls_ = std::move(kept);
}

}  // namespace annc
