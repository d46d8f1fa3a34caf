#include "line/history/log_import.h"

#include <ctime>
#include <optional>

#include "log/log_writer.h"

namespace annc {
namespace {

bool Digits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int Number(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// "08-Dec-2026 05:08:56" in local time, as seconds since the epoch.
std::optional<std::time_t> ParseLogTime(std::string_view text) {
  if (text.size() != 20 || text[2] != '-' || text[6] != '-' || text[11] != ' ') return std::nullopt;
  char separator = text[14];
  if (separator != text[17] || !(separator > ' ' && separator < 127) || Digits(text.substr(14, 1))) {
    return std::nullopt;
  }
  std::string_view day = text.substr(0, 2), month = text.substr(3, 3), year = text.substr(7, 4);
  std::string_view hour = text.substr(12, 2), minute = text.substr(15, 2), second = text.substr(18, 2);
  if (!Digits(day) || !Digits(year) || !Digits(hour) || !Digits(minute) || !Digits(second)) return std::nullopt;
  int monthIndex = 0;
  for (int m = 1; m <= 12; ++m) {
    if (month == EnglishMonthAbbrevs[m]) monthIndex = m;
  }
  // annc never wrote a year before the epoch's; such a time has no ISO form here.
  if (monthIndex == 0 || Number(year) < 1970 || Number(day) < 1 || Number(day) > 31 || Number(hour) > 23 || Number(minute) > 59 ||
      Number(second) > 60) {
    return std::nullopt;
  }
  std::tm local{};
  local.tm_year = Number(year) - 1900;
  local.tm_mon = monthIndex - 1;
  local.tm_mday = Number(day);
  local.tm_hour = Number(hour);
  local.tm_min = Number(minute);
  local.tm_sec = Number(second);
  local.tm_isdst = -1;
  std::time_t when = std::mktime(&local);
  if (when == static_cast<std::time_t>(-1) || local.tm_mday != Number(day)) return std::nullopt;  // 31-Feb
  return when;
}

}  // namespace

ImportedLog ParseCallsLog(std::string_view text, Charset charset) {
  ImportedLog log;
  // DOS padding at the end of an old log.
  while (!text.empty() && text.back() == '\x1a') text.remove_suffix(1);
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    char mark = line[0];
    std::optional<std::time_t> when;
    if (line.size() >= 23 && line[1] == ' ') when = ParseLogTime(line.substr(2, 20));
    if (!when || (mark != ' ' && mark != 'B' && mark != 'Q' && mark != '?') ||
        (line.size() > 22 && line[22] != ' ')) {
      ++log.unreadable;
      continue;
    }
    if (mark == '?') {
      ++log.other;
      continue;
    }
    std::string_view message = line.size() > 23 ? line.substr(23) : std::string_view();
    std::size_t dash = message.find(" - ");
    std::string_view number = message.substr(0, dash);
    std::string_view name = dash == std::string_view::npos ? std::string_view() : message.substr(dash + 3);
    if (number.empty()) {
      ++log.unreadable;
      continue;
    }
    CallRecord record;
    record.startedAt = static_cast<std::int64_t>(*when);
    record.time = IsoLocalTime(*when);
    record.source = "log";
    record.withheld = number == "Unknown";
    record.number = record.withheld ? "" : RecordText(number, charset);
    record.name = RecordText(name, charset);
    // annc logs the phone book's name; a B or Q line may hold a label or the
    // network's name, which the line does not tell apart.
    record.nameSource = !name.empty() && mark == ' ' ? "book" : "none";
    record.decision = mark == 'B' ? "block" : mark == 'Q' ? "quiet" : "announce";
    record.announced = mark == ' ';
    log.records.push_back(std::move(record));
    log.lines.emplace_back(line);
  }
  return log;
}

}  // namespace annc
