// Reading the calls another annc-line publishes on MQTT (PREFIX/call and
// PREFIX/status), for a box that announces them too. The payloads come from
// the network: anything may arrive, and what is taken from them is bounded
// and fit for a terminal.
#ifndef ANNC_LINE_MQTT_MQTT_CALL_PARSE_H_
#define ANNC_LINE_MQTT_MQTT_CALL_PARSE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/terminal_text.h"

namespace annc {

// Payloads longer than this are refused unread.
constexpr std::size_t kPublishedCallBytes = 64 * 1024;

struct PublishedCall {
  enum Event { kCall, kEnd } event = kCall;
  std::int64_t id = 0;
  std::string number;    // digits, or empty when withheld
  bool withheld = false;
  std::string name;
  std::string networkName;
  std::string decision;  // announce, quiet or block
  std::string line;
  std::string called;
  std::string source;
};

// One message of PREFIX/call. The event ("call" or "end"), the id (a whole
// number from 0) and the decision (announce, quiet or block) must be there;
// other fields that are missing or not strings (withheld: not true or false)
// count as empty, and unknown fields are ignored. Text fields are cut and
// cleaned as RecordText does for `charset`, and are at most
// kRecordTextBytes long. A number that is not all digits counts as
// withheld. On refusal, returns nothing and, when `error` is given, puts a
// short reason there.
std::optional<PublishedCall> ParsePublishedCall(std::string_view payload, Charset charset, std::string* error);

enum class PublisherStatus { kUnknown, kOnline, kOffline };

// PREFIX/status: "online" or "offline" (blanks at the ends aside); anything
// else is unknown.
PublisherStatus ParseStatus(std::string_view payload);

}  // namespace annc

#endif  // ANNC_LINE_MQTT_MQTT_CALL_PARSE_H_
