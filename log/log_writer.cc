#include "log/log_writer.h"

#include <cstdio>
#include <ctime>

#include "platform/files.h"
#include "platform/locale.h"
#include "text/paths.h"

namespace annc {

namespace {
// The old DOS end-of-file mark, which some editors pad files with.
constexpr unsigned char kEndOfFileMark = 26;
}  // namespace

const char* const EnglishMonthAbbrevs[13] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string LogTimestampOf(const LocalTime& t, char separator) {
  const char* month = (t.month >= 1 && t.month <= 12) ? EnglishMonthAbbrevs[t.month] : "???";
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%02d-%s-%04d %02d%c%02d%c%02d", t.day, month, t.year, t.hour, separator,
                t.minute, separator, t.second);
  return buffer;
}

std::string LogLineOf(std::string_view prefix, std::string_view timestamp, std::string_view message) {
  std::string line;
  if (!message.empty()) {
    line.reserve(prefix.size() + timestamp.size() + message.size() + 4);
    line.append(prefix);
    line += ' ';
    line.append(timestamp);
    line += ' ';
    line.append(message);
  }
  line += "\r\n";
  return line;
}

int AppendLogLine(const std::string& path, std::string_view line, int lockWaitMs) {
  LockedAppendFile file;
  if (int error = file.Open(path, lockWaitMs); error != 0) return error;
  file.DropTrailing(kEndOfFileMark);
  file.Append(line);
  file.Close();
  return 0;
}

LocalTime LocalTimeNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

int AppendCallLogLine(const std::string& path, char letter, std::string_view message, int lockWaitMs) {
  std::string line = LogLineOf(std::string_view(&letter, 1), LogTimestampOf(LocalTimeNow(), LocaleTimeSeparator()),
                               message);
  return AppendLogLine(path, line, lockWaitMs);
}

std::string DefaultLogFileOf(std::string_view anncPath) { return ChangeExtension(anncPath, "log"); }

}  // namespace annc
