#include "log/event_log.h"

#include <cerrno>
#include <cstdio>

#include "log/log_writer.h"
#include "platform/errors.h"
#include "platform/locale.h"
#include "platform/platform.h"

namespace annc {

std::string LogFileName = "default.log";

namespace {
// The error a log held by another process gives, as a sharing violation
// has always been reported.
constexpr int kSharingViolation = 32;
}  // namespace

std::string LogTimestamp() { return LogTimestampOf(Sys().Now(), LocaleTimeSeparator()); }

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
  std::string line = LogLineOf(prefix, message.empty() ? std::string() : LogTimestamp(), message);
  if (int error = AppendLogLine(LogFileName, line, kLogLockWaitMs); error != 0) {
    ThrowIoError(LogOpenErrorText(error), ANNC_FAILING_SITE());
  }
}

}  // namespace annc
