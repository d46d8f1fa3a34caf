// What annc-line publishes about calls, as JSON: one object per call event
// on PREFIX/call, and the line's state on PREFIX/state.
#ifndef ANNC_LINE_MQTT_MQTT_PAYLOAD_H_
#define ANNC_LINE_MQTT_MQTT_PAYLOAD_H_

#include <string>

#include "line/calls/call_record.h"

namespace annc {

// {"event": "call" or "end", then the record's fields in RecordFields'
// order and under its names}: yes/no as true/false, id, rings and duration
// as numbers, what is unknown as null; ended, answered and duration only
// with `ended`. Bytes that are no UTF-8 become U+FFFD.
std::string CallPayload(const CallRecord& record, bool ended);

// {"state": "idle"}, or with a call ringing {"state": "ringing", "number",
// "name", "decision"}.
std::string StatePayload(const CallRecord* ringing);

}  // namespace annc

#endif  // ANNC_LINE_MQTT_MQTT_PAYLOAD_H_
