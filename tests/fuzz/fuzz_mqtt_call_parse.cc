// The reading of calls and status another annc-line publishes on MQTT, on
// arbitrary bytes in both kinds of locale:
// - the input as a payload: no crash; a call read has a known event and
//   decision, an id from 0, a number of digits alone or none (and then is
//   withheld), and text fields bounded and free of raw control characters;
//   a refusal says why;
// - a call's message built from the input (random texts for the names and
//   the number, a random id) must always be read, with its id and decision;
// - the input as a status payload.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "line/calls/call_record.h"
#include "line/mqtt/mqtt_call_parse.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Fail;

// No C0 control, DEL, nor (in the locale's form) C1 control stands raw.
bool Clean(std::string_view text, annc::Charset charset) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 32 || c == 127) return false;
    if (charset == annc::Charset::kSingleByte && c >= 0x80 && c <= 0x9f) return false;
    if (charset == annc::Charset::kUtf8 && c == 0xc2 && i + 1 < text.size()) {
      unsigned char next = static_cast<unsigned char>(text[i + 1]);
      if (next >= 0x80 && next <= 0x9f) return false;
    }
  }
  return true;
}

void CheckCall(const annc::PublishedCall& call, annc::Charset charset, std::string_view input) {
  if (call.event != annc::PublishedCall::kCall && call.event != annc::PublishedCall::kEnd) Fail("bad event", input);
  if (call.decision != "announce" && call.decision != "quiet" && call.decision != "block") {
    Fail("bad decision", input);
  }
  if (call.id < 0) Fail("negative id", input);
  if (call.number.size() > annc::kRecordTextBytes) Fail("number too long", input);
  for (char c : call.number) {
    if (c < '0' || c > '9') Fail("number not digits", input);
  }
  if (call.withheld != call.number.empty()) Fail("withheld and the number disagree", input);
  for (const std::string* field : {&call.name, &call.networkName, &call.line, &call.called, &call.source}) {
    if (field->size() > annc::kRecordTextBytes) Fail("text field over the bound", input);
    if (!Clean(*field, charset)) Fail("raw control character in a text field", input);
  }
}

void CheckPayload(std::string_view payload) {
  for (annc::Charset charset : {annc::Charset::kUtf8, annc::Charset::kSingleByte}) {
    std::string error;
    std::optional<annc::PublishedCall> call = annc::ParsePublishedCall(payload, charset, &error);
    if (call) {
      CheckCall(*call, charset, payload);
    } else if (error.empty() || !Clean(error, charset)) {
      Fail("refused without a clean reason", payload);
    }
  }
}

void CheckBuiltCall(FuzzedDataProvider& in) {
  static constexpr const char* kDecisions[] = {"announce", "quiet", "block"};
  nlohmann::json message = {{"event", in.ConsumeBool() ? "call" : "end"}};
  std::int64_t id = in.ConsumeIntegralInRange<std::int64_t>(0, INT64_MAX);
  std::string decision = kDecisions[in.ConsumeIntegralInRange<std::size_t>(0, 2)];
  message["id"] = id;
  message["decision"] = decision;
  for (const char* key : {"number", "name", "network_name", "line", "called", "source", "time"}) {
    if (in.ConsumeBool()) message[key] = in.ConsumeRandomLengthString(400);
  }
  if (in.ConsumeBool()) message["withheld"] = in.ConsumeBool();
  // Texts that are no UTF-8 are written with U+FFFD, as a publisher would.
  std::string payload = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  for (annc::Charset charset : {annc::Charset::kUtf8, annc::Charset::kSingleByte}) {
    std::string error;
    std::optional<annc::PublishedCall> call = annc::ParsePublishedCall(payload, charset, &error);
    if (!call) Fail(("a built call refused: " + error).c_str(), payload);
    if (call->id != id || call->decision != decision) Fail("a built call read back wrong", payload);
    CheckCall(*call, charset, payload);
  }
}

void CheckStatus(std::string_view payload) {
  annc::PublisherStatus status = annc::ParseStatus(payload);
  std::string_view trimmed = annc::TrimBlanks(payload);
  annc::PublisherStatus want = trimmed == "online"    ? annc::PublisherStatus::kOnline
                               : trimmed == "offline" ? annc::PublisherStatus::kOffline
                                                      : annc::PublisherStatus::kUnknown;
  if (status != want) Fail("status read wrong", payload);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckPayload(text);
  CheckStatus(text);
  FuzzedDataProvider in(data, size);
  CheckBuiltCall(in);
  return 0;
}
