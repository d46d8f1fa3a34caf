#include "line/calls/call_record.h"

#include <cstdio>

#include "text/terminal_text.h"

namespace annc {
namespace {

// Where a cut at `limit` bytes keeps whole UTF-8 characters: a cut that
// would split one moves back to its first byte. Text that is no UTF-8 is
// cut where the bytes say.
std::size_t CutAt(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t cut = limit;
  std::size_t back = 0;
  while (cut > 0 && back < 3 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
    --cut;
    ++back;
  }
  if ((static_cast<unsigned char>(text[cut]) & 0xC0) != 0xC0) return limit;  // no lead byte: not UTF-8
  return cut;
}

std::string YesNo(bool value) { return value ? "yes" : "no"; }

}  // namespace

std::string RecordText(std::string_view text, Charset charset) {
  return CaretNotation(text.substr(0, CutAt(text, kRecordTextBytes)), "", charset);
}

std::string IsoLocalTime(std::time_t when) {
  std::tm local{};
  if (::localtime_r(&when, &local) == nullptr) return {};
  char date[32];
  if (std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local) == 0) return {};
  long offset = local.tm_gmtoff;
  char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", sign, offset / 3600, offset / 60 % 60);
  return std::string(date) + zone;
}

std::optional<std::int64_t> ParseIsoTime(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SS+HH:MM
  if (text.size() != 25) return std::nullopt;
  static constexpr char kShape[] = "dddd-dd-ddTdd:dd:dd+dd:dd";
  for (std::size_t i = 0; i < text.size(); ++i) {
    char want = kShape[i];
    char c = text[i];
    if (want == 'd' ? (c < '0' || c > '9') : want == '+' ? (c != '+' && c != '-') : c != want) return std::nullopt;
  }
  auto number = [&](std::size_t at, std::size_t n) {
    int value = 0;
    for (std::size_t i = at; i < at + n; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  std::tm utc{};
  utc.tm_year = number(0, 4) - 1900;
  utc.tm_mon = number(5, 2) - 1;
  utc.tm_mday = number(8, 2);
  utc.tm_hour = number(11, 2);
  utc.tm_min = number(14, 2);
  utc.tm_sec = number(17, 2);
  if (utc.tm_mon > 11 || utc.tm_mday < 1 || utc.tm_mday > 31 || utc.tm_hour > 23 || utc.tm_min > 59 ||
      utc.tm_sec > 60 || number(20, 2) > 23 || number(23, 2) > 59) {
    return std::nullopt;
  }
  std::int64_t offset = (number(20, 2) * 3600 + number(23, 2) * 60) * (text[19] == '-' ? -1 : 1);
  return static_cast<std::int64_t>(::timegm(&utc)) - offset;
}

std::vector<std::pair<std::string, std::string>> RecordFields(const CallRecord& r, bool ended) {
  std::vector<std::pair<std::string, std::string>> fields = {
      {"id", std::to_string(r.id)}, {"time", r.time}};
  if (ended) fields.emplace_back("ended", r.ended.value_or(""));
  fields.insert(fields.end(), {{"source", r.source},
                               {"line", r.line},
                               {"called", r.called},
                               {"number", r.number},
                               {"withheld", YesNo(r.withheld)},
                               {"network_name", r.networkName},
                               {"name", r.name},
                               {"name_source", r.nameSource},
                               {"decision", r.decision},
                               {"rule", r.rule},
                               {"hung_up", YesNo(r.hungUp)},
                               {"rings", std::to_string(r.rings)},
                               {"announced", YesNo(r.announced)},
                               {"stopped_by_key", YesNo(r.stoppedByKey)}});
  if (ended) {
    fields.emplace_back("answered", r.answered ? YesNo(*r.answered) : "unknown");
    fields.emplace_back("duration", r.duration ? std::to_string(*r.duration) : "");
  }
  return fields;
}

}  // namespace annc
