#include "web/stats/statistics.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <vector>

#include "web/stats/test_history.h"

namespace annc {
namespace {

using testing::TestHistory;
using testing::ZoneScope;

constexpr char kToday[] = "2026-12-10";

struct Row {
  std::string time;
  std::string number;
  std::string decision;
  std::string name = "";
};

class StatisticsTest : public ::testing::Test {
 protected:
  // The rows are recorded in +05:30, the box's zone.
  ZoneScope zone_{"Asia/Kolkata"};
  TestHistory history_{"web_stats"};

  Statistics Read(const std::vector<Row>& rows) {
    for (const Row& row : rows) history_.Add(row.time, row.number, row.decision, row.name);
    std::string error = "not emptied";
    Statistics stats = ReadStatistics(history_.db(), kToday, &error);
    EXPECT_EQ(error, "");
    return stats;
  }
};

TEST(AddDaysTest, CalendarArithmetic) {
  struct Case {
    const char* date;
    int days;
    std::optional<std::string> want;
  } cases[] = {
      {"2026-12-10", -29, "2026-11-11"},
      {"2024-03-01", -1, "2024-02-29"},
      {"2026-12-31", 1, "2027-01-01"},
      {"2026-02-29", 0, std::nullopt},
      {"2026-1-10", 0, std::nullopt},
      {"2026-12-10T", 0, std::nullopt},
      {"20x6-12-10", 0, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(AddDays(c.date, c.days), c.want) << c.date << " " << c.days;
}

TEST_F(StatisticsTest, DaysAreZeroFilledOldestFirstAndStackedByDecision) {
  struct Case {
    std::vector<Row> rows;
    std::map<std::string, DecisionCounts> want;  // the days with calls; the others are zeros
  } cases[] = {
      {{}, {}},
      {{{"2026-12-10T08:00:00+05:30", "5551", "announce"},
        {"2026-12-10T09:00:00+05:30", "5551", "announce"},
        {"2026-12-10T10:00:00+05:30", "5552", "quiet"},
        {"2026-12-01T10:00:00+05:30", "5553", "block"},
        {"2026-11-11T10:00:00+05:30", "5553", "block"},
        {"2026-11-11T11:00:00+05:30", "5554", "quiet"},
        // Not counted: a decision that is none of the three, the day before
        // the first, the day after today.
        {"2026-12-01T11:00:00+05:30", "5555", "maybe"},
        {"2026-11-10T12:00:00+05:30", "5556", "announce"},
        {"2026-12-11T01:00:00+05:30", "5557", "announce"}},
       {{"2026-12-10", {2, 1, 0}}, {"2026-12-01", {0, 0, 1}}, {"2026-11-11", {0, 1, 1}}}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    TestHistory history("web_stats_days" + std::to_string(i));
    for (const Row& row : cases[i].rows) history.Add(row.time, row.number, row.decision);
    std::string error;
    Statistics stats = ReadStatistics(history.db(), kToday, &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(stats.days.size(), static_cast<std::size_t>(kStatisticsDays));
    EXPECT_EQ(stats.days.front().day, "2026-11-11");
    EXPECT_EQ(stats.days.back().day, kToday);
    for (std::size_t d = 0; d < stats.days.size(); ++d) {
      const DayCounts& day = stats.days[d];
      if (d > 0) {
        EXPECT_EQ(AddDays(stats.days[d - 1].day, 1), day.day);
      }
      auto want = cases[i].want.find(day.day);
      DecisionCounts expected = want != cases[i].want.end() ? want->second : DecisionCounts{};
      EXPECT_EQ(day.calls, expected) << "case " << i << " day " << day.day << ": " << day.calls.announce << "/"
                                     << day.calls.quiet << "/" << day.calls.block;
    }
  }
}

TEST_F(StatisticsTest, ADayIsTheLocalDateTheCallWasRecordedIn) {
  // Near midnight in +05:30 the UTC date is the day before or after.
  Statistics stats = Read({
      {"2026-12-09T23:59:59+05:30", "5551", "announce"},  // 18:29:59 UTC
      {"2026-12-10T00:00:00+05:30", "5552", "announce"},  // 2026-12-09 18:30 UTC
      {"2026-12-10T05:29:59+05:30", "5553", "quiet"},     // still 2026-12-09 in UTC
      {"2026-11-11T00:00:00+05:30", "5554", "block"},     // the first day's first second
      {"2026-11-10T23:59:59+05:30", "5555", "block"},     // the second before it
  });
  ASSERT_EQ(stats.days.size(), 30u);
  EXPECT_EQ(stats.days[29].calls, (DecisionCounts{1, 1, 0}));
  EXPECT_EQ(stats.days[28].calls, (DecisionCounts{1, 0, 0}));
  EXPECT_EQ(stats.days[0].calls, (DecisionCounts{0, 0, 1}));
  // The hours and the callers hold the same calls, by their local hours.
  std::array<std::int64_t, 24> hours{};
  hours[0] = 2;
  hours[5] = 1;
  hours[23] = 1;
  EXPECT_EQ(stats.hours, hours);
  std::vector<std::string> numbers;
  for (const TopCaller& caller : stats.topCallers) numbers.push_back(caller.number);
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(numbers, (std::vector<std::string>{"5551", "5552", "5553", "5554"}));
  ASSERT_EQ(stats.topBlocked.size(), 1u);
  EXPECT_EQ(stats.topBlocked[0].number, "5554");
}

TEST_F(StatisticsTest, CallsPerHourOfTheDay) {
  struct Case {
    std::vector<std::string> times;
    std::map<int, std::int64_t> want;
  } cases[] = {
      {{}, {}},
      {{"2026-12-10T00:00:00+05:30", "2026-12-10T00:59:59+05:30", "2026-12-01T01:00:00+05:30",
        "2026-11-20T13:30:00+05:30", "2026-11-21T13:44:59+05:30", "2026-11-22T23:59:59+05:30",
        "2026-11-10T13:00:00+05:30" /* before the first day */},
       {{0, 2}, {1, 1}, {13, 2}, {23, 1}}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    TestHistory history("web_stats_hours" + std::to_string(i));
    for (const std::string& time : cases[i].times) history.Add(time, "5551", "announce");
    std::string error;
    Statistics stats = ReadStatistics(history.db(), kToday, &error);
    ASSERT_EQ(error, "");
    for (int hour = 0; hour < 24; ++hour) {
      auto want = cases[i].want.find(hour);
      EXPECT_EQ(stats.hours[hour], want != cases[i].want.end() ? want->second : 0) << "case " << i << " hour " << hour;
    }
  }
}

TEST_F(StatisticsTest, TopCallersByCountThenMostRecentThenNumber) {
  std::vector<Row> rows;
  // Twelve numbers: 5510 called 12 times, 5511 11 times, ... 5521 once,
  // each the last time on day 12 + its count's rank at 10:00.
  for (int n = 0; n < 12; ++n) {
    for (int k = 0; k < 12 - n; ++k) {
      char time[40];
      std::snprintf(time, sizeof time, "2026-11-%02dT10:00:%02d+05:30", 12 + k, n);
      rows.push_back({time, "55" + std::to_string(10 + n), "announce"});
    }
  }
  // Ties at 3 calls besides 5519's: 5590 called last later, 5591 and 5592
  // at the same second (the number decides).
  for (const char* number : {"5590", "5591", "5592"}) {
    for (int k = 0; k < 3; ++k) rows.push_back({"2026-11-2" + std::to_string(k) + "T10:00:00+05:30", number, "quiet"});
  }
  rows.push_back({"2026-12-09T10:00:00+05:30", "5590", "quiet"});
  rows.back().number = "5590";
  // A name changes: the newest named call's name is the one; an unnamed call
  // after it keeps it.
  rows.push_back({"2026-12-01T10:00:00+05:30", "5510", "announce", "Old Name"});
  rows.push_back({"2026-12-02T10:00:00+05:30", "5510", "announce", "New Name"});
  rows.push_back({"2026-12-03T10:00:00+05:30", "5510", "announce", ""});
  // Calls without a number are no caller, however many.
  for (int k = 0; k < 20; ++k) rows.push_back({"2026-12-05T10:00:00+05:30", "", "block"});
  Statistics stats = Read(rows);
  std::vector<std::string> numbers;
  std::vector<std::int64_t> counts;
  for (const TopCaller& caller : stats.topCallers) {
    numbers.push_back(caller.number);
    counts.push_back(caller.calls);
  }
  EXPECT_EQ(numbers, (std::vector<std::string>{"5510", "5511", "5512", "5513", "5514", "5515", "5516", "5517",
                                               "5590", "5518"}));
  EXPECT_EQ(counts, (std::vector<std::int64_t>{15, 11, 10, 9, 8, 7, 6, 5, 4, 4}));
  EXPECT_EQ(stats.topCallers[0].name, "New Name");
  EXPECT_EQ(stats.topCallers[1].name, "");
  EXPECT_EQ(stats.withheldCalls, 20);
  EXPECT_TRUE(stats.topBlocked.empty());
}

TEST_F(StatisticsTest, TopBlockedCountsBlockedCallsAlone) {
  std::vector<Row> rows = {
      {"2026-12-01T10:00:00+05:30", "5551", "block", "Spam A"},
      {"2026-12-02T10:00:00+05:30", "5551", "block"},
      {"2026-12-03T10:00:00+05:30", "5551", "block"},
      {"2026-12-04T10:00:00+05:30", "5552", "block"},
      {"2026-12-05T10:00:00+05:30", "5552", "block"},
      {"2026-12-03T10:00:00+05:30", "5553", "block"},
      {"2026-12-06T10:00:00+05:30", "5553", "block"},  // ties with 5552, blocked last later
      {"2026-12-06T10:00:00+05:30", "5554", "announce"},
      {"2026-12-06T11:00:00+05:30", "5554", "announce"},
      {"2026-12-06T12:00:00+05:30", "5554", "announce"},
      {"2026-12-06T13:00:00+05:30", "5554", "announce"},
      {"2026-12-07T13:00:00+05:30", "5554", "block"},
      {"2026-12-07T14:00:00+05:30", "", "block"},
      {"2026-11-01T14:00:00+05:30", "5555", "block"},  // before the first day
  };
  Statistics stats = Read(rows);
  std::vector<std::pair<std::string, std::int64_t>> blocked;
  for (const TopCaller& caller : stats.topBlocked) blocked.emplace_back(caller.number, caller.calls);
  EXPECT_EQ(blocked, (std::vector<std::pair<std::string, std::int64_t>>{
                         {"5551", 3}, {"5553", 2}, {"5552", 2}, {"5554", 1}}));
  EXPECT_EQ(stats.topBlocked[0].name, "Spam A");
  ASSERT_FALSE(stats.topCallers.empty());
  EXPECT_EQ(stats.topCallers[0].number, "5554");
  EXPECT_EQ(stats.topCallers[0].calls, 5);
  EXPECT_EQ(stats.withheldCalls, 1);
}

TEST_F(StatisticsTest, ABadDateOrHistoryIsAnError) {
  for (const char* today : {"", "2026-13-01", "2026-12-10' OR 1=1 --"}) {
    std::string error;
    Statistics stats = ReadStatistics(history_.db(), today, &error);
    EXPECT_NE(error, "") << today;
    EXPECT_TRUE(stats.days.empty()) << today;
  }
  ASSERT_EQ(sqlite3_exec(history_.db(), "DROP TABLE calls", nullptr, nullptr, nullptr), SQLITE_OK);
  std::string error;
  Statistics stats = ReadStatistics(history_.db(), kToday, &error);
  EXPECT_NE(error.find("no such table"), std::string::npos) << error;
  EXPECT_TRUE(stats.days.empty());
}

// The plans on the launcher's own schema: every query is answered from an
// index, and none reads the whole table. The per-day count reads the day
// index alone (SQLite seeks the row only for a column the index lacks, and
// this query asks for none); the callers' count walks the whole number
// index, never the table.
TEST_F(StatisticsTest, EveryQueryUsesItsIndex) {
  struct Case {
    const char* sql;
    const char* want;
  } cases[] = {
      {kDayCountsSql, "SEARCH calls USING INDEX calls_by_day (<expr>>? AND <expr><?)"},
      {kBlockedOfDaySql, "SEARCH calls USING INDEX calls_by_day (<expr>=? AND decision=?)"},
      {kCallerCountsSql, "SCAN calls USING COVERING INDEX calls_by_number"},
      {kCallCountSql, "SEARCH calls USING COVERING INDEX calls_by_time (started_at>? AND started_at<?)"},
      {kWithheldCountSql,
       "SEARCH calls USING COVERING INDEX calls_by_number (number=? AND started_at>? AND started_at<?)"},
      {kLastNameSql, "SEARCH calls USING INDEX calls_by_number (number=? AND started_at>? AND started_at<?)"},
  };
  for (const Case& c : cases) {
    sqlite3_stmt* stmt = nullptr;
    std::string sql = std::string("EXPLAIN QUERY PLAN ") + c.sql;
    ASSERT_EQ(sqlite3_prepare_v2(history_.db(), sql.c_str(), -1, &stmt, nullptr), SQLITE_OK)
        << sqlite3_errmsg(history_.db());
    std::vector<std::string> plan;
    while (sqlite3_step(stmt) == SQLITE_ROW) plan.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3)));
    sqlite3_finalize(stmt);
    std::string shown;
    for (const std::string& line : plan) shown += line + "\n";
    EXPECT_NE(std::find(plan.begin(), plan.end(), c.want), plan.end()) << c.sql << "\n" << shown;
    // "SCAN calls" alone is the whole table read row by row.
    EXPECT_EQ(std::find(plan.begin(), plan.end(), "SCAN calls"), plan.end()) << c.sql << "\n" << shown;
  }
}

}  // namespace
}  // namespace annc
