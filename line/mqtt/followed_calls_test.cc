#include "line/mqtt/followed_calls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace annc {
namespace {

// A payload as annc-line publishes it on PREFIX/call.
std::string Published(const char* event, int id, const char* decision, const char* number = "5551234",
                      const char* name = "Ann Lee", const char* networkName = "ANN LEE", const char* line = "",
                      const char* called = "") {
  std::string withheld = *number == '\0' ? "true" : "false";
  return std::string(R"({"event": ")") + event + R"(", "id": )" + std::to_string(id) + R"(, "number": ")" + number +
         R"(", "withheld": )" + withheld + R"(, "name": ")" + name + R"(", "network_name": ")" + networkName +
         R"(", "decision": ")" + decision + R"(", "line": ")" + line + R"(", "called": ")" + called + R"("})";
}

// An announced call of no name at all.
std::string Nameless(int id, const char* number) { return Published("call", id, "announce", number, "", ""); }

std::string Shown(const CallEvent& event) {
  const char* kinds[] = {"ring",  "number", "name",     "info",   "complete",
                         "ended", "lost",   "answered", "called", "label"};
  std::string text = std::string(kinds[event.kind]) + " " + event.line;
  if (!event.value.empty()) text += " " + event.value;
  return text;
}

struct Message {
  std::string topic;
  std::string payload;
  Millis at = 0;
};

// What the messages gave, events and status lines in one list ("say: ...").
std::vector<std::string> Feed(FollowedCalls& calls, const std::vector<Message>& messages) {
  std::vector<std::string> got;
  for (const Message& message : messages) {
    FollowedCalls::Result result = calls.OnMessage(message.topic, message.payload, message.at);
    for (const CallEvent& event : result.events) got.push_back(Shown(event));
    for (const std::string& status : result.status) got.push_back("say: " + status);
  }
  return got;
}

TEST(FollowedCallsTest, MessagesBecomeEvents) {
  const std::string announced = Published("call", 7, "announce");
  const std::string ended = Published("end", 7, "announce");
  struct Case {
    const char* what;
    std::vector<std::string> follow;
    std::vector<Message> messages;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {"an announced call and its end",
       {"annc/+"},
       {{"annc/hall/call", announced}, {"annc/hall/call", ended}},
       {"number annc/hall#7 5551234", "name annc/hall#7 Ann Lee", "complete annc/hall#7", "ended annc/hall#7"}},
      {"the network's name without the book's, the line and the number called",
       {"annc/+"},
       {{"annc/hall/call", Published("call", 3, "announce", "5551234", "", "ANN LEE", "SIP0", "5550000")}},
       {"number annc/hall#3 5551234", "name annc/hall#3 ANN LEE", "label annc/hall#3 SIP0",
        "called annc/hall#3 5550000", "complete annc/hall#3"}},
      {"a withheld number and no name",
       {"annc/+"},
       {{"annc/hall/call", Published("call", 4, "announce", "", "", "")}},
       {"number annc/hall#4", "complete annc/hall#4"}},
      {"a blocked call and a quiet one are no calls here, nor their ends",
       {"annc/+"},
       {{"annc/hall/call", Published("call", 1, "block")},
        {"annc/hall/call", Published("call", 2, "quiet")},
        {"annc/hall/call", Published("end", 1, "block")},
        {"annc/hall/call", Published("end", 2, "quiet")}},
       {}},
      {"an end of a call never seen",
       {"annc/+"},
       {{"annc/hall/call", Published("end", 9, "announce")}},
       {}},
      {"a call told twice is one call",
       {"annc/+"},
       {{"annc/hall/call", announced}, {"annc/hall/call", announced}, {"annc/hall/call", ended},
        {"annc/hall/call", ended}},
       {"number annc/hall#7 5551234", "name annc/hall#7 Ann Lee", "complete annc/hall#7", "ended annc/hall#7"}},
      {"two publishers' calls of the same id do not meet",
       {"annc/+"},
       {{"annc/hall/call", Nameless(7, "5551111")},
        {"annc/loft/call", Nameless(7, "5552222")},
        {"annc/loft/call", ended}},
       {"number annc/hall#7 5551111", "complete annc/hall#7", "number annc/loft#7 5552222", "complete annc/loft#7",
        "ended annc/loft#7"}},
      {"offline ends every call of its publisher, and only those",
       {"annc/+"},
       {{"annc/hall/call", Nameless(1, "5551111")},
        {"annc/hall/call", Nameless(2, "5552222")},
        {"annc/loft/call", Nameless(1, "5553333")},
        {"annc/hall/status", "online"},
        {"annc/hall/status", " offline\n"},
        {"annc/hall/status", "offline"}},
       {"number annc/hall#1 5551111", "complete annc/hall#1", "number annc/hall#2 5552222", "complete annc/hall#2",
        "number annc/loft#1 5553333", "complete annc/loft#1", "ended annc/hall#1", "ended annc/hall#2"}},
      {"the own prefix is left out, even where followed",
       {"annc/+"},
       {{"annc/own/call", announced}, {"annc/own/status", "offline"}},
       {}},
      {"topics outside the followed prefixes, and other topics of theirs",
       {"annc/hall"},
       {{"annc/loft/call", announced},
        {"annc/hall/state", "ringing"},
        {"annc/hall/call/x", announced},
        {"annc/hall", announced},
        {"home/annc/hall/call", announced},
        {"annc/+/call", announced},
        {"annc/hall/", announced},
        {std::string("annc/h\x01/call"), announced}},
       {}},
      {"a final # follows every level under it, a + one level",
       {"house/#", "a/+/c"},
       {{"house/call", Nameless(1, "5551111")},
        {"house/up/attic/call", Nameless(2, "5552222")},
        {"a/b/c/call", Nameless(3, "5553333")},
        {"a/b/x/call", announced},
        {"a/c/call", announced}},
       {"number house#1 5551111", "complete house#1", "number house/up/attic#2 5552222", "complete house/up/attic#2",
        "number a/b/c#3 5553333", "complete a/b/c#3"}},
      {"a payload that is no call is said once a minute per publisher",
       {"annc/+"},
       {{"annc/hall/call", "{", 0},
        {"annc/hall/call", "[]", 59999},
        {"annc/loft/call", R"({"event": "call"})", 59999},
        {"annc/hall/call", std::string(100000, 'x'), 60000}},
       {"say: a message of annc/hall on MQTT is no call (", "say: a message of annc/loft on MQTT is no call (",
        "say: a message of annc/hall on MQTT is no call ("}},
  };
  for (const Case& c : cases) {
    FollowedCalls calls(FollowSettings{c.follow, "annc/own", Charset::kUtf8});
    std::vector<std::string> got = Feed(calls, c.messages);
    ASSERT_EQ(got.size(), c.events.size()) << c.what << ": " << testing::PrintToString(got);
    for (std::size_t i = 0; i < got.size(); ++i) {
      // A status line's reason is the parser's: only its start is the source's.
      EXPECT_TRUE(got[i].starts_with(c.events[i])) << c.what << ": " << got[i];
      if (!c.events[i].starts_with("say: ")) EXPECT_EQ(got[i], c.events[i]) << c.what;
    }
  }
}

// The calls remembered are bounded: the oldest is ended to make room.
TEST(FollowedCallsTest, CallsAreBounded) {
  FollowedCalls calls(FollowSettings{{"annc/+"}, "", Charset::kUtf8});
  std::vector<Message> messages;
  for (int id = 0; id < static_cast<int>(FollowedCalls::kMaxCalls); ++id) {
    messages.push_back({"annc/hall/call", Published("call", id, "announce")});
  }
  (void)Feed(calls, messages);
  EXPECT_EQ(calls.calls(), FollowedCalls::kMaxCalls);
  std::vector<std::string> got = Feed(calls, {{"annc/hall/call", Nameless(1000, "5559999")}});
  EXPECT_EQ(got, (std::vector<std::string>{"ended annc/hall#0", "number annc/hall#1000 5559999",
                                           "complete annc/hall#1000"}));
  EXPECT_EQ(calls.calls(), FollowedCalls::kMaxCalls);
  // The one pushed out is forgotten: its end is no news.
  EXPECT_TRUE(Feed(calls, {{"annc/hall/call", Published("end", 0, "announce")}}).empty());
  EXPECT_EQ(Feed(calls, {{"annc/hall/call", Published("end", 1, "announce")}}),
            (std::vector<std::string>{"ended annc/hall#1"}));
  // The broker lost, nothing is remembered.
  calls.Forget();
  EXPECT_EQ(calls.calls(), 0u);
  EXPECT_TRUE(Feed(calls, {{"annc/hall/call", Published("end", 2, "announce")}}).empty());
}

// Unreadable payloads from ever new publishers: each said once, with the
// publishers remembered bounded.
TEST(FollowedCallsTest, UnreadablePublishersAreBounded) {
  FollowedCalls calls(FollowSettings{{"annc/+"}, "", Charset::kUtf8});
  std::vector<Message> messages;
  for (int i = 0; i < 1000; ++i) messages.push_back({"annc/p" + std::to_string(i) + "/call", "{", i});
  EXPECT_EQ(Feed(calls, messages).size(), 1000u);
  // The first publishers have been forgotten to make room: said again.
  EXPECT_EQ(Feed(calls, {{"annc/p0/call", "{", 1000}}).size(), 1u);
  // The last are remembered.
  EXPECT_TRUE(Feed(calls, {{"annc/p999/call", "{", 1001}}).empty());
}

TEST(FollowedCallsTest, TopicsSubscribed) {
  EXPECT_EQ(FollowedTopics({"annc/+", "house/#", "#", "a/b"}),
            (std::vector<std::string>{"annc/+/call", "annc/+/status", "house/#", "#", "a/b/call", "a/b/status"}));
  struct Case {
    const char* follow;
    const char* prefix;
    bool followed;
  };
  const Case cases[] = {
      {"annc/+", "annc/hall", true},  {"annc/+", "annc", false},     {"annc/+", "annc/a/b", false},
      {"annc/#", "annc", true},       {"annc/#", "annc/a/b", true},  {"annc/#", "ann", false},
      {"#", "x/y", true},             {"+/+", "a/b", true},          {"+/+", "a", false},
      {"a/b", "a/b", true},           {"a/b", "a/bc", false},        {"a/b", "a", false},
  };
  for (const Case& c : cases) EXPECT_EQ(PrefixFollowed(c.follow, c.prefix), c.followed) << c.follow << " " << c.prefix;
}

}  // namespace
}  // namespace annc
