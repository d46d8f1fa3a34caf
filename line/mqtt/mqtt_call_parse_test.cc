#include "line/mqtt/mqtt_call_parse.h"

#include <gtest/gtest.h>

#include <string>

#include "line/calls/call_record.h"

namespace annc {
namespace {

const std::string kCall =
    R"({"event": "call", "id": 42, "time": "2026-12-09T21:14:05+05:30", "source": "modem:/dev/ttyACM0",)"
    R"( "line": "", "called": "", "number": "5551234", "withheld": false, "network_name": "ANN LEE",)"
    R"( "name": "Ann Lee", "name_source": "book", "decision": "announce", "rule": "", "hung_up": false,)"
    R"( "rings": 2, "announced": true, "stopped_by_key": false})";

const std::string kEnd =
    R"({"event": "end", "id": 42, "time": "2026-12-09T21:14:05+05:30", "ended": "2026-12-09T21:14:35+05:30",)"
    R"( "source": "ncid:box:3333", "line": "POTS", "called": "5550000", "number": "", "withheld": true,)"
    R"( "network_name": "", "name": "", "name_source": "none", "decision": "block",)"
    R"( "rule": "calls.block line 4", "hung_up": true, "rings": 0, "announced": false, "stopped_by_key": false,)"
    R"( "answered": null, "duration": 30})";

TEST(MqttCallParseTest, PublishedCallsAreRead) {
  std::string error;
  std::optional<PublishedCall> call = ParsePublishedCall(kCall, Charset::kUtf8, &error);
  ASSERT_TRUE(call) << error;
  EXPECT_EQ(call->event, PublishedCall::kCall);
  EXPECT_EQ(call->id, 42);
  EXPECT_EQ(call->number, "5551234");
  EXPECT_FALSE(call->withheld);
  EXPECT_EQ(call->name, "Ann Lee");
  EXPECT_EQ(call->networkName, "ANN LEE");
  EXPECT_EQ(call->decision, "announce");
  EXPECT_EQ(call->line, "");
  EXPECT_EQ(call->called, "");
  EXPECT_EQ(call->source, "modem:/dev/ttyACM0");

  call = ParsePublishedCall(kEnd, Charset::kUtf8, &error);
  ASSERT_TRUE(call) << error;
  EXPECT_EQ(call->event, PublishedCall::kEnd);
  EXPECT_EQ(call->id, 42);
  EXPECT_EQ(call->number, "");
  EXPECT_TRUE(call->withheld);
  EXPECT_EQ(call->decision, "block");
  EXPECT_EQ(call->line, "POTS");
  EXPECT_EQ(call->called, "5550000");
  EXPECT_EQ(call->source, "ncid:box:3333");
}

// Payloads from the network, each read or refused.
TEST(MqttCallParseTest, PayloadsAreReadOrRefused) {
  struct Case {
    const char* what;
    std::string payload;
    const char* error;  // nullptr: read
    std::int64_t id = 0;
    const char* number = "";
    bool withheld = true;
    const char* name = "";
    const char* decision = "";
  } cases[] = {
      {"minimal call", R"({"event":"call","id":7,"decision":"quiet"})", nullptr, 7, "", true, "", "quiet"},
      {"extra fields", R"({"event":"call","id":7,"decision":"block","x":[1,{"y":null}],"number":"12"})", nullptr, 7,
       "12", false, "", "block"},
      {"largest id", R"({"event":"end","id":9223372036854775807,"decision":"quiet"})", nullptr,
       9223372036854775807, "", true, "", "quiet"},
      {"id zero", R"({"event":"end","id":0,"decision":"quiet"})", nullptr, 0, "", true, "", "quiet"},
      {"number not digits", R"({"event":"call","id":1,"decision":"announce","number":"555-1234"})", nullptr, 1, "",
       true, "", "announce"},
      {"number as a number", R"({"event":"call","id":1,"decision":"announce","number":5551234})", nullptr, 1, "", true,
       "", "announce"},
      {"number but withheld", R"({"event":"call","id":1,"decision":"announce","number":"555","withheld":true})",
       nullptr, 1, "", true, "", "announce"},
      {"withheld as a string", R"({"event":"call","id":1,"decision":"announce","number":"555","withheld":"no"})",
       nullptr, 1, "555", false, "", "announce"},
      {"number too long",
       R"({"event":"call","id":1,"decision":"announce","number":")" + std::string(257, '1') + R"("})", nullptr, 1, "",
       true, "", "announce"},
      {"name as a number", R"({"event":"call","id":1,"decision":"announce","name":12})", nullptr, 1, "", true, "",
       "announce"},
      {"name with escapes", R"({"event":"call","id":1,"decision":"announce","name":"A\u001b[2J\u0000B\u007f"})",
       nullptr, 1, "", true, "A^[[2J^@B^?", "announce"},
      {"name with C1 control", R"({"event":"call","id":1,"decision":"announce","name":"A\u009bB"})", nullptr, 1, "",
       true, "AM-^[B", "announce"},
      {"name in UTF-8", R"({"event":"call","id":1,"decision":"announce","name":"Zo\u00eb \u00c5"})", nullptr, 1, "",
       true, "Zo\xc3\xab \xc3\x85", "announce"},
      {"repeated key: the last", R"({"event":"call","id":1,"id":2,"decision":"quiet"})", nullptr, 2, "", true, "",
       "quiet"},

      {"empty", "", "not JSON"},
      {"not JSON", "RING", "not JSON"},
      {"cut short", R"({"event":"call","id":1,"decision":"quiet")", "not JSON"},
      {"invalid UTF-8", "{\"event\":\"call\",\"id\":1,\"decision\":\"quiet\",\"name\":\"\xff\"}", "not JSON"},
      {"raw control byte", "{\"event\":\"call\",\"id\":1,\"decision\":\"quiet\",\"name\":\"\x1b\"}", "not JSON"},
      {"array", R"([{"event":"call","id":1,"decision":"quiet"}])", "not a JSON object"},
      {"string", R"("call")", "not a JSON object"},
      {"null", "null", "not a JSON object"},
      {"no event", R"({"id":1,"decision":"quiet"})", "no event"},
      {"event as a number", R"({"event":1,"id":1,"decision":"quiet"})", "no event"},
      {"other event", R"({"event":"ring","id":1,"decision":"quiet"})", "event neither call nor end"},
      {"event in capitals", R"({"event":"CALL","id":1,"decision":"quiet"})", "event neither call nor end"},
      {"no id", R"({"event":"call","decision":"quiet"})", "no whole-number id"},
      {"id as a string", R"({"event":"call","id":"1","decision":"quiet"})", "no whole-number id"},
      {"id with a fraction", R"({"event":"call","id":1.5,"decision":"quiet"})", "no whole-number id"},
      {"id as a float", R"({"event":"call","id":1e3,"decision":"quiet"})", "no whole-number id"},
      {"id as null", R"({"event":"call","id":null,"decision":"quiet"})", "no whole-number id"},
      {"id negative", R"({"event":"call","id":-1,"decision":"quiet"})", "id out of range"},
      {"id too large", R"({"event":"call","id":9223372036854775808,"decision":"quiet"})", "id out of range"},
      {"no decision", R"({"event":"call","id":1})", "no decision"},
      {"decision as a bool", R"({"event":"call","id":1,"decision":true})", "no decision"},
      {"other decision", R"({"event":"call","id":1,"decision":"ring"})", "decision not announce, quiet or block"},
      {"decision with a blank", R"({"event":"call","id":1,"decision":"quiet "})",
       "decision not announce, quiet or block"},
      {"huge", R"({"event":"call","id":1,"decision":"quiet","name":")" + std::string(70000, 'a') + R"("})",
       "payload over 64 KiB"},
      {"deep", std::string(30000, '[') + std::string(30000, ']'), "not a JSON object"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    std::optional<PublishedCall> call = ParsePublishedCall(c.payload, Charset::kUtf8, &error);
    if (c.error != nullptr) {
      EXPECT_FALSE(call);
      EXPECT_EQ(error, c.error);
      EXPECT_FALSE(ParsePublishedCall(c.payload, Charset::kUtf8, nullptr));
      continue;
    }
    ASSERT_TRUE(call) << error;
    EXPECT_EQ(call->id, c.id);
    EXPECT_EQ(call->number, c.number);
    EXPECT_EQ(call->withheld, c.withheld);
    EXPECT_EQ(call->name, c.name);
    EXPECT_EQ(call->decision, c.decision);
  }
}

TEST(MqttCallParseTest, PayloadAtTheBoundIsRead) {
  std::string head = R"({"event":"call","id":1,"decision":"quiet","pad":")";
  std::string tail = R"("})";
  std::string payload = head + std::string(kPublishedCallBytes - head.size() - tail.size(), 'a') + tail;
  ASSERT_EQ(payload.size(), kPublishedCallBytes);
  std::string error;
  EXPECT_TRUE(ParsePublishedCall(payload, Charset::kUtf8, &error)) << error;
  payload.insert(payload.size() - 2, "a");
  EXPECT_FALSE(ParsePublishedCall(payload, Charset::kUtf8, &error));
  EXPECT_EQ(error, "payload over 64 KiB");
}

// Every text field is cleaned and cut the same way, in the charset given.
TEST(MqttCallParseTest, TextFieldsAreBoundedAndClean) {
  struct Case {
    const char* what;
    std::string value;  // JSON string contents
    Charset charset;
    std::string want;
  } cases[] = {
      {"plain", "Ann", Charset::kUtf8, "Ann"},
      {"cut at the bound", std::string(300, 'x'), Charset::kUtf8, std::string(kRecordTextBytes, 'x')},
      {"cut before a split character", std::string(255, 'x') + "\\u00e9", Charset::kUtf8, std::string(255, 'x')},
      {"controls written out, still bounded", std::string(200, 'x') + "\\u001b\\u001b\\u001b\\u001b\\u001b\\u001b"
                                                                     "\\u001b\\u001b\\u001b\\u001b\\u001b\\u001b"
                                                                     "\\u001b\\u001b\\u001b\\u001b\\u001b\\u001b"
                                                                     "\\u001b\\u001b\\u001b\\u001b\\u001b\\u001b"
                                                                     "\\u001b\\u001b\\u001b\\u001b\\u001b\\u001b"
                                                                     "\\u001b\\u001b\\u001b\\u001b\\u001b\\u001b",
       Charset::kUtf8, std::string(200, 'x') + "^[^[^[^[^[^[^[^[^[^[^[^[^[^[^[^[^[^[^[^[^[^[^[^[^[^[^[^["},
      {"all controls", std::string(), Charset::kUtf8, std::string()},
      {"C1 in a single-byte locale", "A\\u0080B", Charset::kSingleByte, "A\xc2M-^@B"},
      {"newline", "A\\nB\\r", Charset::kUtf8, "A^JB^M"},
  };
  std::string all_controls;
  for (int i = 0; i < 300; ++i) all_controls += "\\u0001";
  cases[4].value = all_controls;
  cases[4].want = std::string();
  for (int i = 0; i < 128; ++i) cases[4].want += "^A";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* key : {"name", "network_name", "line", "called", "source"}) {
      SCOPED_TRACE(key);
      std::string payload = std::string(R"({"event":"call","id":1,"decision":"quiet",")") + key + R"(":")" + c.value +
                            R"("})";
      std::string error;
      std::optional<PublishedCall> call = ParsePublishedCall(payload, c.charset, &error);
      ASSERT_TRUE(call) << error;
      const std::string& got = std::string(key) == "name"           ? call->name
                               : std::string(key) == "network_name" ? call->networkName
                               : std::string(key) == "line"         ? call->line
                               : std::string(key) == "called"       ? call->called
                                                                    : call->source;
      EXPECT_EQ(got, c.want);
      EXPECT_LE(got.size(), kRecordTextBytes);
      for (char ch : got) EXPECT_FALSE(IsControlByte(ch));
    }
  }
}

TEST(MqttCallParseTest, StatusIsOnlineOfflineOrUnknown) {
  struct Case {
    std::string payload;
    PublisherStatus want;
  } cases[] = {
      {"online", PublisherStatus::kOnline},
      {"offline", PublisherStatus::kOffline},
      {"online\n", PublisherStatus::kOnline},
      {" offline ", PublisherStatus::kOffline},
      {"Online", PublisherStatus::kUnknown},
      {"", PublisherStatus::kUnknown},
      {"onlinex", PublisherStatus::kUnknown},
      {R"({"state":"online"})", PublisherStatus::kUnknown},
      {std::string("online\0", 7), PublisherStatus::kOnline},
      {std::string(100000, 'o'), PublisherStatus::kUnknown},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseStatus(c.payload), c.want) << c.payload.substr(0, 20);
}

}  // namespace
}  // namespace annc
