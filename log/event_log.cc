#include "log/event_log.h"

#include <cerrno>
#include <cstdio>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/platform.h"

namespace annc {

std::string LogFileName = "default.log";

const char* const EnglishMonthAbbrevs[13] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {
// The old DOS end-of-file mark, which some editors pad files with.
constexpr unsigned char kEndOfFileMark = 26;

// How long a line waits for another process that holds the log. Every
// other writer holds it only for one line; one that keeps it longer must
// not hang the call.
constexpr int kLockWaitMs = 5000;
// The error a log held by another process gives, as a sharing violation
// has always been reported.
constexpr int kSharingViolation = 32;
}  // namespace

std::string LogTimestamp() {
  LocalTime t = Sys().Now();
  const char* month = (t.month >= 1 && t.month <= 12) ? EnglishMonthAbbrevs[t.month] : "???";
  char sep = LocaleTimeSeparator();
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%02d-%s-%04d %02d%c%02d%c%02d", t.day, month, t.year, t.hour, sep,
                t.minute, sep, t.second);
  return buffer;
}

std::string LogOpenErrorText(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return "Invalid filename";
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return "File access denied";
    case EMFILE:
    case ENFILE:
      return "Too many open files";
    case EWOULDBLOCK:
      return IoErrorText(kSharingViolation);
    default:
      return IoErrorText(error);
  }
}

void LogEvent(std::string_view prefix, std::string_view message) {
  if (LogFileName.empty()) return;
  std::string line;
  if (!message.empty()) {
    line.append(prefix);
    line += ' ';
    line += LogTimestamp();
    line += ' ';
    line.append(message);
  }
  line += "\r\n";
  LockedAppendFile file;
  if (int error = file.Open(LogFileName, kLockWaitMs); error != 0) {
    ThrowIoError(LogOpenErrorText(error), ANNC_FAILING_SITE());
  }
  file.DropTrailing(kEndOfFileMark);
  file.Append(line);
  file.Close();
}

}  // namespace annc
