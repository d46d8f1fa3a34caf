// The event log: one line per call and per serial failure, appended to a
// text file that is opened, locked, written and closed for every line.
#ifndef ANNC_LOG_EVENT_LOG_H_
#define ANNC_LOG_EVENT_LOG_H_

#include <string>
#include <string_view>

namespace annc {

// The log file; empty means nothing is logged.
extern std::string LogFileName;
extern const char* const EnglishMonthAbbrevs[13];  // [1] is "Jan"

// Appends "prefix timestamp message" and CR LF, or a bare CR LF for an empty
// message. A log file that can be neither appended to nor created throws an
// EInOutError; write errors lose the line and are ignored.
void LogEvent(std::string_view prefix, std::string_view message);

// "08-Dec-2026 05:08:56" from the local clock, with the locale's time
// separator.
std::string LogTimestamp();

// The message for an errno value of a failed attempt to create the log.
std::string LogOpenErrorText(int error);

}  // namespace annc

#endif  // ANNC_LOG_EVENT_LOG_H_
