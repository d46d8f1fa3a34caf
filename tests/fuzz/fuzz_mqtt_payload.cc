// The JSON annc-line publishes on MQTT, built from a record whose texts are
// arbitrary bytes (a source may send anything; the record's texts are what
// the network and the lists gave). Checked, for a call and for its end:
// - the payload is valid JSON, an object whose keys are "event" and then
//   RecordFields' names in their order;
// - each text reads back as it was when it is well-formed UTF-8, and as
//   well-formed UTF-8 holding U+FFFD when it was not; the numbers and
//   yes/no values read back as they were;
// - a call another annc-line reads from the payload (ParsePublishedCall)
//   has the record's id, event and decision;
// - the state payload is valid JSON with the ringing call's number.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "line/calls/call_record.h"
#include "line/mqtt/mqtt_call_parse.h"
#include "line/mqtt/mqtt_payload.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Fail;
using Json = nlohmann::ordered_json;

void CheckText(const Json& json, const char* key, const std::string& sent, std::string_view input) {
  if (!json.contains(key) || !json[key].is_string()) Fail("a text field missing or not a string", input);
  std::string read = json[key].get<std::string>();
  if (fuzz::WellFormedUtf8(sent)) {
    if (read != sent) Fail("a text field changed", input);
  } else if (!fuzz::WellFormedUtf8(read) || read.find("\xEF\xBF\xBD") == std::string::npos) {
    Fail("invalid UTF-8 not replaced", input);
  }
}

void CheckCall(const annc::CallRecord& r, bool ended, std::string_view input) {
  std::string payload = annc::CallPayload(r, ended);
  Json json = Json::parse(payload, nullptr, false);
  if (json.is_discarded() || !json.is_object()) Fail("the call's payload is no JSON object", input);
  std::vector<std::string> keys;
  for (const auto& item : json.items()) keys.push_back(item.key());
  std::vector<std::string> expected = {"event"};
  for (const auto& [name, value] : annc::RecordFields(r, ended)) expected.push_back(name);
  if (keys != expected) Fail("the payload's keys are not the record's fields in order", input);
  if (json["event"] != (ended ? "end" : "call")) Fail("wrong event", input);
  if (json["id"] != r.id || json["rings"] != r.rings) Fail("a number changed", input);
  if (json["withheld"] != r.withheld || json["hung_up"] != r.hungUp || json["announced"] != r.announced ||
      json["stopped_by_key"] != r.stoppedByKey) {
    Fail("a yes/no value changed", input);
  }
  for (auto [key, text] : {std::pair{"time", &r.time}, {"source", &r.source}, {"line", &r.line},
                           {"called", &r.called}, {"number", &r.number}, {"network_name", &r.networkName},
                           {"name", &r.name}, {"name_source", &r.nameSource}, {"decision", &r.decision},
                           {"rule", &r.rule}}) {
    CheckText(json, key, *text, input);
  }
  if (ended) {
    if (r.ended) CheckText(json, "ended", *r.ended, input);
    else if (!json["ended"].is_null()) Fail("an unknown end not null", input);
    if (json["answered"] != (r.answered ? Json(*r.answered) : Json(nullptr))) Fail("answered changed", input);
    if (json["duration"] != (r.duration ? Json(*r.duration) : Json(nullptr))) Fail("duration changed", input);
  }

  // What a following annc-line makes of it. It may refuse a record no
  // annc-line publishes (a decision it does not know, a number that is no
  // digits); one it reads keeps the id, event and decision.
  std::string error;
  std::optional<annc::PublishedCall> call = annc::ParsePublishedCall(payload, annc::Charset::kUtf8, &error);
  if (call) {
    if (call->id != r.id || (call->event == annc::PublishedCall::kEnd) != ended || call->decision != r.decision) {
      Fail("a following annc-line reads another call", input);
    }
  } else if (error.empty()) {
    Fail("a refusal without its reason", input);
  }

  std::string state = annc::StatePayload(&r);
  Json stateJson = Json::parse(state, nullptr, false);
  if (stateJson.is_discarded() || stateJson["state"] != "ringing") Fail("the state payload is wrong", input);
  CheckText(stateJson, "number", r.number, input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 16384) return 0;
  std::string_view whole(reinterpret_cast<const char*>(data), size);
  FuzzedDataProvider input(data, size);
  annc::CallRecord r;
  r.id = input.ConsumeIntegral<std::int64_t>();
  r.rings = input.ConsumeIntegral<int>();
  r.withheld = input.ConsumeBool();
  r.hungUp = input.ConsumeBool();
  r.announced = input.ConsumeBool();
  r.stoppedByKey = input.ConsumeBool();
  if (input.ConsumeBool()) r.answered = input.ConsumeBool();
  if (input.ConsumeBool()) r.duration = input.ConsumeIntegral<std::int64_t>();
  static const char* const kDecisions[] = {"announce", "quiet", "block"};
  r.decision = input.ConsumeBool() ? kDecisions[input.ConsumeIntegralInRange(0, 2)] : input.ConsumeRandomLengthString(40);
  for (std::string* text : {&r.time, &r.source, &r.line, &r.called, &r.number, &r.networkName, &r.name,
                            &r.nameSource, &r.rule}) {
    *text = input.ConsumeRandomLengthString(annc::kRecordTextBytes + 16);
  }
  if (input.ConsumeBool()) r.ended = input.ConsumeRandomLengthString(64);
  CheckCall(r, false, whole);
  CheckCall(r, true, whole);
  return 0;
}
