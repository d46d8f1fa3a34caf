#include "web/stats/statistics.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <unordered_map>
#include <utility>

namespace annc {

// The day is the first ten characters of `time`, exactly as the history's
// index calls_by_day writes it, so that SQLite answers from the index.
const char kDayCountsSql[] =
    "SELECT substr(time, 1, 10), decision, COUNT(*) FROM calls"
    " WHERE substr(time, 1, 10) BETWEEN ?1 AND ?2 GROUP BY substr(time, 1, 10), decision";
// One day at a time: the day and the decision both equal, SQLite goes
// straight to the blocked calls instead of past all the day's others.
const char kBlockedOfDaySql[] =
    "SELECT number, started_at FROM calls WHERE substr(time, 1, 10) = ?1 AND decision = 'block'";
// Without INDEXED BY SQLite takes the time index for the range and then
// reads each row for its number: ten times slower on a full history.
const char kCallerCountsSql[] =
    "SELECT number, COUNT(*), MAX(started_at) FROM calls INDEXED BY calls_by_number"
    " WHERE number <> '' AND started_at >= ?1 AND started_at < ?2 GROUP BY number";
const char kCallCountSql[] = "SELECT COUNT(*) FROM calls WHERE started_at >= ?1 AND started_at < ?2";
const char kWithheldCountSql[] =
    "SELECT COUNT(*) FROM calls WHERE number = '' AND started_at >= ?1 AND started_at < ?2";
const char kLastNameSql[] =
    "SELECT name FROM calls WHERE number = ?1 AND started_at >= ?2 AND started_at < ?3 AND name <> ''"
    " ORDER BY started_at DESC LIMIT 1";

namespace {

// A statement prepared for one use and finalized on every way out.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { code_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  int code() const { return code_; }
  sqlite3_stmt* get() { return stmt_; }
  void Text(int at, const std::string& text) {
    sqlite3_bind_text(stmt_, at, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  std::string_view Column(int at) {
    const unsigned char* text = sqlite3_column_text(stmt_, at);
    if (text == nullptr) return {};
    return {reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, at))};
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int code_;
};

// The counter a decision's text goes to; null for a text that is none of
// the three.
std::int64_t* CounterOf(DecisionCounts& counts, std::string_view decision) {
  if (decision == "announce") return &counts.announce;
  if (decision == "quiet") return &counts.quiet;
  if (decision == "block") return &counts.block;
  return nullptr;
}

std::optional<std::chrono::sys_days> ParseDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  auto number = [&](std::size_t from, std::size_t count) -> std::optional<int> {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
  if (!year || !month || !day) return std::nullopt;
  std::chrono::year_month_day date{std::chrono::year(*year), std::chrono::month(static_cast<unsigned>(*month)),
                                   std::chrono::day(static_cast<unsigned>(*day))};
  if (!date.ok()) return std::nullopt;
  return std::chrono::sys_days(date);
}

std::string FormatDate(std::chrono::sys_days day) {
  std::chrono::year_month_day date(day);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return text;
}

// Looks days up by the column's view without a string made per row.
struct ViewHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// Seconds since the epoch of `day`'s local midnight in the box's zone.
std::int64_t LocalMidnight(std::chrono::sys_days day) {
  std::chrono::year_month_day date(day);
  std::tm tm{};
  tm.tm_year = static_cast<int>(date.year()) - 1900;
  tm.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
  tm.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
}

int LocalHour(std::int64_t when) {
  std::time_t t = static_cast<std::time_t>(when);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm.tm_hour;
}

// The most called first: by count, then by the most recent call, then by
// number; at most kTopCallersShown.
std::vector<TopCaller> Top(std::vector<TopCaller> callers) {
  auto before = [](const TopCaller& a, const TopCaller& b) {
    if (a.calls != b.calls) return a.calls > b.calls;
    if (a.lastStartedAt != b.lastStartedAt) return a.lastStartedAt > b.lastStartedAt;
    return a.number < b.number;
  };
  std::size_t shown = std::min<std::size_t>(callers.size(), kTopCallersShown);
  std::partial_sort(callers.begin(), callers.begin() + static_cast<std::ptrdiff_t>(shown), callers.end(), before);
  callers.resize(shown);
  return callers;
}

// The local hour's zones are whole quarters of an hour away from UTC, so
// that the hour changes only at a quarter from local midnight.
constexpr std::int64_t kQuarter = 900;

}  // namespace

std::optional<std::string> AddDays(std::string_view date, int days) {
  auto day = ParseDate(date);
  if (!day) return std::nullopt;
  return FormatDate(*day + std::chrono::days(days));
}

Statistics ReadStatistics(sqlite3* db, std::string_view today, std::string* error) {
  error->clear();
  auto last = ParseDate(today);
  if (!last) {
    *error = "cannot read the statistics: the date \"" + std::string(today.substr(0, 32)) +
             "\" is no YYYY-MM-DD date";
    return {};
  }
  Statistics stats;
  std::unordered_map<std::string, std::size_t, ViewHash, std::equal_to<>> dayIndex;
  const std::chrono::sys_days firstDay = *last - std::chrono::days(kStatisticsDays - 1);
  for (int i = 0; i < kStatisticsDays; ++i) {
    stats.days.push_back(DayCounts{FormatDate(firstDay + std::chrono::days(i)), {}});
    dayIndex.emplace(stats.days.back().day, stats.days.size() - 1);
  }
  const std::int64_t from = LocalMidnight(firstDay);
  const std::int64_t to = LocalMidnight(*last + std::chrono::days(1));
  auto failed = [&]() {
    *error = std::string("cannot read the statistics from the call history: ") + sqlite3_errmsg(db);
    return Statistics{};
  };
  int code;

  Statement perDay(db, kDayCountsSql);
  if (perDay.code() != SQLITE_OK) return failed();
  perDay.Text(1, stats.days.front().day);
  perDay.Text(2, stats.days.back().day);
  while ((code = sqlite3_step(perDay.get())) == SQLITE_ROW) {
    auto at = dayIndex.find(perDay.Column(0));
    if (at == dayIndex.end()) continue;
    if (std::int64_t* counter = CounterOf(stats.days[at->second].calls, perDay.Column(1))) {
      *counter += sqlite3_column_int64(perDay.get(), 2);
    }
  }
  if (code != SQLITE_DONE) return failed();

  // The hours: one count per run of quarters in the same local hour.
  Statement count(db, kCallCountSql);
  if (count.code() != SQLITE_OK) return failed();
  for (std::int64_t start = from; start < to;) {
    int hour = LocalHour(start);
    std::int64_t end = start + kQuarter;
    while (end < to && LocalHour(end) == hour) end += kQuarter;
    end = std::min(end, to);
    sqlite3_reset(count.get());
    sqlite3_bind_int64(count.get(), 1, start);
    sqlite3_bind_int64(count.get(), 2, end);
    if (sqlite3_step(count.get()) != SQLITE_ROW) return failed();
    stats.hours[static_cast<std::size_t>(hour)] += sqlite3_column_int64(count.get(), 0);
    start = end;
  }

  Statement withheld(db, kWithheldCountSql);
  if (withheld.code() != SQLITE_OK) return failed();
  sqlite3_bind_int64(withheld.get(), 1, from);
  sqlite3_bind_int64(withheld.get(), 2, to);
  if (sqlite3_step(withheld.get()) != SQLITE_ROW) return failed();
  stats.withheldCalls = sqlite3_column_int64(withheld.get(), 0);

  std::vector<TopCaller> callers;
  Statement perNumber(db, kCallerCountsSql);
  if (perNumber.code() != SQLITE_OK) return failed();
  sqlite3_bind_int64(perNumber.get(), 1, from);
  sqlite3_bind_int64(perNumber.get(), 2, to);
  while ((code = sqlite3_step(perNumber.get())) == SQLITE_ROW) {
    callers.push_back(TopCaller{std::string(perNumber.Column(0)), {}, sqlite3_column_int64(perNumber.get(), 1),
                                sqlite3_column_int64(perNumber.get(), 2)});
  }
  if (code != SQLITE_DONE) return failed();
  stats.topCallers = Top(std::move(callers));

  std::unordered_map<std::string, TopCaller, ViewHash, std::equal_to<>> blocked;
  Statement blockedOfDay(db, kBlockedOfDaySql);
  if (blockedOfDay.code() != SQLITE_OK) return failed();
  for (const DayCounts& day : stats.days) {
    if (day.calls.block == 0) continue;
    sqlite3_reset(blockedOfDay.get());
    blockedOfDay.Text(1, day.day);
    while ((code = sqlite3_step(blockedOfDay.get())) == SQLITE_ROW) {
      std::string_view number = blockedOfDay.Column(0);
      if (number.empty()) continue;
      auto at = blocked.find(number);
      if (at == blocked.end()) at = blocked.emplace(std::string(number), TopCaller{std::string(number), {}, 0, 0}).first;
      std::int64_t startedAt = sqlite3_column_int64(blockedOfDay.get(), 1);
      at->second.lastStartedAt = at->second.calls == 0 ? startedAt : std::max(at->second.lastStartedAt, startedAt);
      ++at->second.calls;
    }
    if (code != SQLITE_DONE) return failed();
  }
  std::vector<TopCaller> blockedCallers;
  for (auto& [number, caller] : blocked) blockedCallers.push_back(std::move(caller));
  stats.topBlocked = Top(std::move(blockedCallers));

  // The names, for the few numbers shown.
  Statement lastName(db, kLastNameSql);
  if (lastName.code() != SQLITE_OK) return failed();
  for (auto* list : {&stats.topCallers, &stats.topBlocked}) {
    for (TopCaller& caller : *list) {
      sqlite3_reset(lastName.get());
      lastName.Text(1, caller.number);
      sqlite3_bind_int64(lastName.get(), 2, from);
      sqlite3_bind_int64(lastName.get(), 3, to);
      code = sqlite3_step(lastName.get());
      if (code == SQLITE_ROW) {
        caller.name = lastName.Column(0);
      } else if (code != SQLITE_DONE) {
        return failed();
      }
    }
  }
  return stats;
}

}  // namespace annc
