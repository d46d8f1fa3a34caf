// The calls log read back as calls: annc's own lines and the B and Q lines
// of the calls annc-line blocked or quieted, for the call history.
#ifndef ANNC_LINE_HISTORY_LOG_IMPORT_H_
#define ANNC_LINE_HISTORY_LOG_IMPORT_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "line/calls/call_record.h"

namespace annc {

struct ImportedLog {
  std::vector<CallRecord> records;
  std::vector<std::string> lines;  // the line each record came from, without its line end
  std::size_t unreadable = 0;      // lines that look like none of the log's lines
  std::size_t other = 0;           // the log's lines that are no calls ("?" lines of a failing serial line)
};

// One log line: "M DD-Mon-YYYY HH:MM:SS NUMBER[ - NAME]", M a blank (annc
// announced it), B (blocked) or Q (quiet); the time separator any one
// punctuation mark, as the locale gave it. The time is the local time it
// was written in. "Unknown" is a withheld number. Nothing is guessed: a line
// of another shape is counted as unreadable.
// Text fields are kept as RecordText does in `charset`.
ImportedLog ParseCallsLog(std::string_view text, Charset charset);

}  // namespace annc

#endif  // ANNC_LINE_HISTORY_LOG_IMPORT_H_
