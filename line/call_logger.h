// The calls annc-line writes to the calls log itself, where annc does not:
// the calls screening kept quiet, and the calls no announcer spoke for.
#ifndef ANNC_LINE_CALL_LOGGER_H_
#define ANNC_LINE_CALL_LOGGER_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "posix/line_system.h"
#include "text/terminal_text.h"

namespace annc {

// The phone book's name for a number as annc is given it, if the book has
// one. Asked once per call logged, so that an edited book counts at once.
using PhoneBookLookup = std::function<std::optional<std::string>(std::string_view number)>;

// The phone book annc reads (aon.db in its sound folder), read through
// `files` at each lookup; no name when it cannot be read.
PhoneBookLookup BookBesideAnnouncer(const std::string& annc, Files& files);

class CallLogger {
 public:
  // `logFile` is the calls log annc writes; `charset` the locale's, for the
  // numbers, names and the log's name in caret notation; `book` names the
  // callers.
  CallLogger(std::string logFile, Charset charset, CallLog& log, StatusOutput& output, PhoneBookLookup book)
      : logFile_(std::move(logFile)), charset_(charset), log_(log), output_(output), book_(std::move(book)) {}

  // A call that was not announced, as annc would have logged it: the
  // number, and the phone book's name after " - " when the book has it.
  void LogUnannounced(const std::string& number);
  // A call screening decided on: its `mark` and `message` as they are.
  void Log(char mark, const std::string& message);

 private:
  std::string logFile_;
  Charset charset_;
  CallLog& log_;
  StatusOutput& output_;
  PhoneBookLookup book_;
};

}  // namespace annc

#endif  // ANNC_LINE_CALL_LOGGER_H_
