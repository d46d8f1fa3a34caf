#include "line/mqtt/mqtt_call_parse.h"

#include <limits>

#include <nlohmann/json.hpp>

#include "line/calls/call_record.h"

namespace annc {
namespace {

using nlohmann::json;

void SetError(std::string* error, const char* text) {
  if (error != nullptr) *error = text;
}

// A text field as a record holds it. RecordText cuts before it writes the
// control characters out, which can make the text up to four times longer;
// the second pass finds nothing left to write out and only cuts again.
std::string TextField(const json& object, const char* key, Charset charset) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return {};
  return RecordText(RecordText(it->get_ref<const std::string&>(), charset), charset);
}

bool IsDigits(std::string_view text) {
  if (text.empty() || text.size() > kRecordTextBytes) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

std::optional<PublishedCall> ParsePublishedCall(std::string_view payload, Charset charset, std::string* error) {
  if (payload.size() > kPublishedCallBytes) {
    SetError(error, "payload over 64 KiB");
    return std::nullopt;
  }
  // No exceptions: a payload that is not JSON (or not UTF-8) comes back
  // discarded.
  json document = json::parse(payload.begin(), payload.end(), nullptr, false);
  if (document.is_discarded()) {
    SetError(error, "not JSON");
    return std::nullopt;
  }
  if (!document.is_object()) {
    SetError(error, "not a JSON object");
    return std::nullopt;
  }

  PublishedCall call;
  auto event = document.find("event");
  if (event == document.end() || !event->is_string()) {
    SetError(error, "no event");
    return std::nullopt;
  }
  if (*event == "call") {
    call.event = PublishedCall::kCall;
  } else if (*event == "end") {
    call.event = PublishedCall::kEnd;
  } else {
    SetError(error, "event neither call nor end");
    return std::nullopt;
  }

  auto id = document.find("id");
  if (id == document.end() || !id->is_number_integer()) {
    SetError(error, "no whole-number id");
    return std::nullopt;
  }
  if (id->is_number_unsigned()) {
    if (id->get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      SetError(error, "id out of range");
      return std::nullopt;
    }
    call.id = static_cast<std::int64_t>(id->get<std::uint64_t>());
  } else {
    call.id = id->get<std::int64_t>();
    if (call.id < 0) {
      SetError(error, "id out of range");
      return std::nullopt;
    }
  }

  auto decision = document.find("decision");
  if (decision == document.end() || !decision->is_string()) {
    SetError(error, "no decision");
    return std::nullopt;
  }
  for (const char* known : {"announce", "quiet", "block"}) {
    if (*decision == known) call.decision = known;
  }
  if (call.decision.empty()) {
    SetError(error, "decision not announce, quiet or block");
    return std::nullopt;
  }

  auto withheld = document.find("withheld");
  call.withheld = withheld != document.end() && withheld->is_boolean() && withheld->get<bool>();
  auto number = document.find("number");
  if (!call.withheld && number != document.end() && number->is_string() &&
      IsDigits(number->get_ref<const std::string&>())) {
    call.number = number->get<std::string>();
  } else {
    call.withheld = true;
  }
  call.name = TextField(document, "name", charset);
  call.networkName = TextField(document, "network_name", charset);
  call.line = TextField(document, "line", charset);
  call.called = TextField(document, "called", charset);
  call.source = TextField(document, "source", charset);
  return call;
}

PublisherStatus ParseStatus(std::string_view payload) {
  std::string_view status = TrimBlanks(payload);
  if (status == "online") return PublisherStatus::kOnline;
  if (status == "offline") return PublisherStatus::kOffline;
  return PublisherStatus::kUnknown;
}

}  // namespace annc
