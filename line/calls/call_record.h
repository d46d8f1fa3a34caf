// One call as annc-line knows it once it is decided, and again once it has
// ended: the fields the call history keeps, the --on-call program is given
// and MQTT publishes, named the same everywhere.
#ifndef ANNC_LINE_CALL_RECORD_H_
#define ANNC_LINE_CALL_RECORD_H_

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/terminal_text.h"

namespace annc {

// Text fields are cut at this many bytes.
constexpr std::size_t kRecordTextBytes = 256;

struct CallRecord {
  std::int64_t id = 0;             // unique in the history
  std::string time;                // when it began: ISO 8601, local time with its UTC offset
  std::int64_t startedAt = 0;      // the same, seconds since the epoch (for ordering and days)
  std::optional<std::string> ended;  // when it ended, like `time`; none until then
  std::string source;              // modem:/dev/ttyACM0, ncid:HOST:PORT, fritz:HOST:PORT
  std::string line;                // the phone line the source names (NCID LINE, FRITZ!Box SIP0)
  std::string called;              // the own number that was called, where the source says it
  std::string number;              // as announced: digits, or empty when withheld
  bool withheld = false;
  std::string networkName;         // the name the network sent
  std::string name;                // the name shown
  std::string nameSource = "none";  // book, network or none
  std::string decision = "announce";  // announce, quiet or block
  std::string rule;                // calls.block line 4, quiet hours 22:00-07:00
  bool hungUp = false;
  int rings = 0;
  bool announced = false;
  bool stoppedByKey = false;
  std::optional<bool> answered;    // none: the source cannot tell (or not ended yet)
  std::optional<std::int64_t> duration;  // whole seconds from `time` to `ended`; none until it ended
};

// A text from outside as a record holds it: cut at kRecordTextBytes (never
// inside a UTF-8 character that fits whole before the cut), control
// characters in caret notation, as status lines and the log show them in
// the locale's `charset`.
std::string RecordText(std::string_view text, Charset charset);

// "2026-12-09T21:14:05+05:30": `when` in the local time zone.
std::string IsoLocalTime(std::time_t when);

// Seconds since the epoch of an ISO 8601 time with its offset, as
// IsoLocalTime writes it; none when `text` is not one.
std::optional<std::int64_t> ParseIsoTime(std::string_view text);

// The record as NAME=VALUE pairs in the order of the fields above, named as
// the history's columns: yes/no values "yes"/"no", unknown "unknown"; the
// fields of the end (ended, answered, duration) only once the call has ended.
std::vector<std::pair<std::string, std::string>> RecordFields(const CallRecord& record, bool ended);

}  // namespace annc

#endif  // ANNC_LINE_CALL_RECORD_H_
