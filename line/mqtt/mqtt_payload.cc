#include "line/mqtt/mqtt_payload.h"

#include <nlohmann/json.hpp>

namespace annc {
namespace {

using Json = nlohmann::ordered_json;

// Compact, and valid UTF-8 whatever bytes the network sent.
std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace

std::string CallPayload(const CallRecord& r, bool ended) {
  Json json;
  json["event"] = ended ? "end" : "call";
  json["id"] = r.id;
  json["time"] = r.time;
  if (ended) json["ended"] = r.ended ? Json(*r.ended) : Json(nullptr);
  json["source"] = r.source;
  json["line"] = r.line;
  json["called"] = r.called;
  json["number"] = r.number;
  json["withheld"] = r.withheld;
  json["network_name"] = r.networkName;
  json["name"] = r.name;
  json["name_source"] = r.nameSource;
  json["decision"] = r.decision;
  json["rule"] = r.rule;
  json["hung_up"] = r.hungUp;
  json["rings"] = r.rings;
  json["announced"] = r.announced;
  json["stopped_by_key"] = r.stoppedByKey;
  if (ended) {
    json["answered"] = r.answered ? Json(*r.answered) : Json(nullptr);
    json["duration"] = r.duration ? Json(*r.duration) : Json(nullptr);
  }
  return Dump(json);
}

std::string StatePayload(const CallRecord* ringing) {
  Json json;
  if (ringing == nullptr) {
    json["state"] = "idle";
  } else {
    json["state"] = "ringing";
    json["number"] = ringing->number;
    json["name"] = ringing->name;
    json["decision"] = ringing->decision;
  }
  return Dump(json);
}

}  // namespace annc
