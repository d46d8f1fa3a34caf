// The statistics page's numbers, read from the call history: calls per local
// day and decision over the last 30 days, calls per hour of the day, and the
// callers that called most and that were blocked most, over the same days.
//
// The per-day counts (and the blocked list) go by the history's own local
// days: the date of a row's `time` (local time with its offset), so that a
// call at 00:10 +05:30 counts on its own local date. They are counted from
// the day index alone.
//
// The hours and the top callers must not read a million rows either, and
// `time` is in no index: they go by started_at over the same 30 days, those
// days' bounds and each call's hour taken in the box's local time zone (TZ,
// as localtime sees it). That is the same as the hour of `time` while the
// box keeps its zone; a call recorded under another zone counts by the
// current one.
#ifndef ANNC_WEB_STATS_STATISTICS_H_
#define ANNC_WEB_STATS_STATISTICS_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace annc {

// How many days the statistics cover, today included.
inline constexpr int kStatisticsDays = 30;
// How many rows each of the top lists holds at most.
inline constexpr int kTopCallersShown = 10;

// Calls counted by the screening's decision. Rows with any other decision
// text are not counted anywhere.
struct DecisionCounts {
  std::int64_t announce = 0;
  std::int64_t quiet = 0;
  std::int64_t block = 0;

  std::int64_t total() const { return announce + quiet + block; }
  bool operator==(const DecisionCounts&) const = default;
};

struct DayCounts {
  std::string day;  // "YYYY-MM-DD", the local date
  DecisionCounts calls;
};

// One number in a top list. Calls without a number (withheld or unknown: the
// history keeps no number for them) are never in a top list, being no one
// caller; Statistics::withheldCalls counts them instead.
struct TopCaller {
  std::string number;
  // The name of the most recent of its calls that had one (empty when none
  // had): names change, the newest is the one to show.
  std::string name;
  std::int64_t calls = 0;
  // started_at of its most recent call, which breaks ties in the count.
  std::int64_t lastStartedAt = 0;
};

struct Statistics {
  // kStatisticsDays entries, oldest first, the last one today; days without
  // calls are there with zero counts.
  std::vector<DayCounts> days;
  // Calls per local hour of the day, 0 to 23, over the same days (all
  // decisions: the hours are counted from the time index alone).
  std::array<std::int64_t, 24> hours{};
  // Up to kTopCallersShown numbers each, most calls first; equal counts go
  // by the most recent call first, then by number.
  std::vector<TopCaller> topCallers;  // all decisions
  std::vector<TopCaller> topBlocked;  // calls decided "block" alone
  // Calls over the same days without a number.
  std::int64_t withheldCalls = 0;
};

// Reads the statistics for the kStatisticsDays days ending with `today`
// ("YYYY-MM-DD", the box's local date). *error is emptied when it worked;
// when `today` is no date or the history cannot be read it says why in one
// line, and the statistics returned are empty (no days at all).
Statistics ReadStatistics(sqlite3* db, std::string_view today, std::string* error);

// The date `days` days after (or before, when negative) `date`
// ("YYYY-MM-DD"); none when `date` is no valid date.
std::optional<std::string> AddDays(std::string_view date, int days);

// The queries, for the tests that look at their plans.
// Calls per day and decision from the first to the last day (?1, ?2,
// "YYYY-MM-DD"): the day index alone, never the table.
extern const char kDayCountsSql[];
// One day's (?1) blocked calls: the day index finds them.
extern const char kBlockedOfDaySql[];
// Calls per number from started_at ?1 to before ?2: the number index alone.
extern const char kCallerCountsSql[];
// Calls from started_at ?1 to before ?2: the time index alone.
extern const char kCallCountSql[];
// Calls without a number from ?1 to before ?2: the number index alone.
extern const char kWithheldCountSql[];
// The newest name number ?1 called with from ?2 to before ?3.
extern const char kLastNameSql[];

}  // namespace annc

#endif  // ANNC_WEB_STATS_STATISTICS_H_
