// The calls log's line and how a line is appended to it, shared by annc
// (LogEvent) and annc-line (the lines of the calls it blocks or quiets).
// Nothing here goes through annc's platform seam, so annc-line links it
// without the sound libraries.
#ifndef ANNC_LOG_LOG_WRITER_H_
#define ANNC_LOG_LOG_WRITER_H_

#include <string>
#include <string_view>

#include "platform/platform.h"  // LocalTime

namespace annc {

// How long a line waits for another process that holds the log. Every
// writer holds it only for one line; one that keeps it longer must not hang
// the call.
constexpr int kLogLockWaitMs = 5000;

extern const char* const EnglishMonthAbbrevs[13];  // [1] is "Jan"

// "08-Dec-2026 05:08:56", with `separator` between hours, minutes and
// seconds; the month is always English.
std::string LogTimestampOf(const LocalTime& t, char separator);

// One line of the log with its CR LF: "prefix timestamp message", or a bare
// CR LF for an empty message.
std::string LogLineOf(std::string_view prefix, std::string_view timestamp, std::string_view message);

// Appends `line` to the log at `path` under the log's exclusive advisory
// lock (waited for at most `lockWaitMs`), the run of DOS end-of-file marks
// (Ctrl-Z) that ends the file removed first. Returns 0 or the errno value
// of the failed open (EWOULDBLOCK: another process kept the lock); write
// errors lose the line and are ignored.
int AppendLogLine(const std::string& path, std::string_view line, int lockWaitMs);

// The local time from the system clock.
LocalTime LocalTimeNow();

// Appends "letter timestamp message" at the local time, with the locale's
// time separator (LC_TIME), as annc writes its own lines. Returns as
// AppendLogLine does.
int AppendCallLogLine(const std::string& path, char letter, std::string_view message,
                      int lockWaitMs = kLogLockWaitMs);

// The log annc writes when it is given no /L: switch: the path it was
// started as, its extension replaced by "log".
std::string DefaultLogFileOf(std::string_view anncPath);

}  // namespace annc

#endif  // ANNC_LOG_LOG_WRITER_H_
