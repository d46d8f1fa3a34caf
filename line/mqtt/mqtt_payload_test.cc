#include "line/mqtt/mqtt_payload.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace annc {
namespace {

CallRecord Call() {
  CallRecord r;
  r.id = 42;
  r.time = "2026-12-09T21:14:05+01:00";
  r.source = "modem:/dev/ttyACM0";
  r.number = "5551234";
  r.networkName = "ACME CORP";
  r.name = "Acme";
  r.nameSource = "book";
  r.rings = 2;
  r.announced = true;
  return r;
}

TEST(MqttPayloadTest, RecordsAndTheirPayloads) {
  CallRecord blocked = Call();
  blocked.decision = "block";
  blocked.rule = "calls.block line 4";
  blocked.hungUp = true;
  blocked.announced = false;
  blocked.withheld = true;
  blocked.number = "";
  CallRecord ended = Call();
  ended.ended = "2026-12-09T21:14:35+01:00";
  ended.answered = true;
  ended.duration = 30;
  ended.stoppedByKey = true;
  CallRecord unknownEnd = Call();
  unknownEnd.ended = "2026-12-09T21:14:35+01:00";
  struct Case {
    const char* label;
    CallRecord record;
    bool ended;
    const char* payload;
  };
  const Case cases[] = {
      {"decided", Call(), false,
       R"({"event":"call","id":42,"time":"2026-12-09T21:14:05+01:00","source":"modem:/dev/ttyACM0","line":"",)"
       R"("called":"","number":"5551234","withheld":false,"network_name":"ACME CORP","name":"Acme",)"
       R"("name_source":"book","decision":"announce","rule":"","hung_up":false,"rings":2,"announced":true,)"
       R"("stopped_by_key":false})"},
      {"blocked", blocked, false,
       R"({"event":"call","id":42,"time":"2026-12-09T21:14:05+01:00","source":"modem:/dev/ttyACM0","line":"",)"
       R"("called":"","number":"","withheld":true,"network_name":"ACME CORP","name":"Acme",)"
       R"("name_source":"book","decision":"block","rule":"calls.block line 4","hung_up":true,"rings":2,)"
       R"("announced":false,"stopped_by_key":false})"},
      {"ended", ended, true,
       R"({"event":"end","id":42,"time":"2026-12-09T21:14:05+01:00","ended":"2026-12-09T21:14:35+01:00",)"
       R"("source":"modem:/dev/ttyACM0","line":"","called":"","number":"5551234","withheld":false,)"
       R"("network_name":"ACME CORP","name":"Acme","name_source":"book","decision":"announce","rule":"",)"
       R"("hung_up":false,"rings":2,"announced":true,"stopped_by_key":true,"answered":true,"duration":30})"},
      {"ended, answer unknown", unknownEnd, true,
       R"({"event":"end","id":42,"time":"2026-12-09T21:14:05+01:00","ended":"2026-12-09T21:14:35+01:00",)"
       R"("source":"modem:/dev/ttyACM0","line":"","called":"","number":"5551234","withheld":false,)"
       R"("network_name":"ACME CORP","name":"Acme","name_source":"book","decision":"announce","rule":"",)"
       R"("hung_up":false,"rings":2,"announced":true,"stopped_by_key":false,"answered":null,"duration":null})"},
  };
  for (const Case& c : cases) EXPECT_EQ(CallPayload(c.record, c.ended), c.payload) << c.label;
}

// The payload's keys are the record's fields as RecordFields names and
// orders them, after "event".
TEST(MqttPayloadTest, KeysAreTheRecordsFieldsInTheirOrder) {
  for (bool ended : {false, true}) {
    nlohmann::ordered_json json = nlohmann::ordered_json::parse(CallPayload(Call(), ended));
    std::vector<std::string> keys;
    for (const auto& item : json.items()) keys.push_back(item.key());
    std::vector<std::string> fields = {"event"};
    for (const auto& [name, value] : RecordFields(Call(), ended)) fields.push_back(name);
    EXPECT_EQ(keys, fields) << ended;
  }
}

TEST(MqttPayloadTest, BytesThatAreNoUtf8BecomeReplacementCharacters) {
  CallRecord r = Call();
  r.name = "Caf\xe9 \"Chez\" \\ M\xc3\xbcller";
  r.networkName = std::string("a\xff\xfe", 3) + "\xe2\x82";  // a stray byte pair and a cut character
  std::string payload = CallPayload(r, false);
  nlohmann::json json = nlohmann::json::parse(payload);  // throws on anything that is no UTF-8 JSON
  EXPECT_EQ(json["name"], "Caf\xef\xbf\xbd \"Chez\" \\ M\xc3\xbcller");
  EXPECT_EQ(json["network_name"].get<std::string>().substr(0, 1), "a");
  EXPECT_EQ(json["network_name"].get<std::string>().find('\xff'), std::string::npos);
  EXPECT_NE(json["network_name"].get<std::string>().find("\xef\xbf\xbd"), std::string::npos);
}

TEST(MqttPayloadTest, States) {
  CallRecord r = Call();
  r.decision = "quiet";
  EXPECT_EQ(StatePayload(nullptr), R"({"state":"idle"})");
  EXPECT_EQ(StatePayload(&r), R"({"state":"ringing","number":"5551234","name":"Acme","decision":"quiet"})");
}

}  // namespace
}  // namespace annc
