// Statistics benchmark: ReadStatistics and the two charts on a history of N
// calls (default 1000000) made in a temporary file, spread over 60 days, the
// 24 hours and about 5,000 numbers, so that the last 30 days hold half.
//   build/web_stats_bench [CALLS]   (KEEP=1 leaves the history file behind)
// Prints "stats_ms MEDIAN MAX" (ReadStatistics, 11 runs), "svg_ms MEDIAN"
// (both charts, 11 runs), "svg_bytes DAY HOUR" and "calls N".
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "line/history/call_history.h"
#include "web/stats/chart_svg.h"
#include "web/stats/statistics.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double MsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count() * 1e3; }

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "web_stats_bench: %s\n", why.c_str());
  std::exit(1);
}

// The ISO 8601 local time of `when` in a zone `offset` seconds east of UTC,
// as the history writes it.
std::string LocalTime(std::time_t when, int offset) {
  std::time_t local = when + offset;
  std::tm tm{};
  gmtime_r(&local, &tm);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
  char zone[8];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', std::abs(offset) / 3600,
                std::abs(offset) % 3600 / 60);
  return std::string(text) + zone;
}

}  // namespace

int main(int argc, char** argv) {
  long calls = argc > 1 ? std::atol(argv[1]) : 1000000;
  std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/web_stats_bench.db";
  for (const char* end : {"", "-wal", "-shm"}) std::remove((path + end).c_str());
  std::string error;
  // The launcher's own schema, then the rows in one transaction.
  if (!annc::CallHistory::Open(path, &error)) Fail(error);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) Fail(sqlite3_errmsg(db));
  const std::int64_t end = 1797000000;
  const int offset = 5 * 3600 + 1800;
  const std::int64_t span = 60LL * 86400;
  std::mt19937 rng(42);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  if (sqlite3_prepare_v2(db,
                         "INSERT INTO calls (time, started_at, number, withheld, name, decision)"
                         " VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
                         -1, &insert, nullptr) != SQLITE_OK) {
    Fail(sqlite3_errmsg(db));
  }
  for (long i = 0; i < calls; ++i) {
    std::int64_t at = end - span + i * span / std::max(calls, 1L);
    std::string time = LocalTime(static_cast<std::time_t>(at), offset);
    unsigned caller = rng() % 5000;
    bool withheld = caller < 50;
    std::string number = withheld ? "" : "555" + std::to_string(1000000 + caller);
    std::string name = caller % 3 == 0 ? "" : "Caller " + std::to_string(caller);
    const char* decision = caller % 11 == 0 ? "block" : caller % 5 == 0 ? "quiet" : "announce";
    sqlite3_reset(insert);
    sqlite3_bind_text(insert, 1, time.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 2, at);
    sqlite3_bind_text(insert, 3, number.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 4, withheld);
    sqlite3_bind_text(insert, 5, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 6, decision, -1, SQLITE_STATIC);
    if (sqlite3_step(insert) != SQLITE_DONE) Fail(sqlite3_errmsg(db));
  }
  sqlite3_finalize(insert);
  if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sqlite3_errmsg(db));
  sqlite3_close(db);

  // Read as the web page reads it: a connection of its own, read-only.
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) Fail(sqlite3_errmsg(db));
  // As annc-web's reader opens it.
  sqlite3_exec(db, "PRAGMA mmap_size=268435456", nullptr, nullptr, nullptr);
  std::string today = LocalTime(static_cast<std::time_t>(end), offset).substr(0, 10);
  std::vector<double> reads;
  annc::Statistics stats;
  for (int i = 0; i < 11; ++i) {
    auto t0 = Clock::now();
    stats = annc::ReadStatistics(db, today, &error);
    reads.push_back(MsSince(t0));
    if (!error.empty()) Fail(error);
  }
  std::vector<double> draws;
  std::string day, hour;
  for (int i = 0; i < 11; ++i) {
    auto t0 = Clock::now();
    day = annc::DayChartSvg(stats);
    hour = annc::HourChartSvg(stats);
    draws.push_back(MsSince(t0));
  }
  std::printf("stats_ms %.2f %.2f\n", Median(reads), *std::max_element(reads.begin(), reads.end()));
  std::printf("svg_ms %.3f\n", Median(draws));
  std::printf("svg_bytes %zu %zu\n", day.size(), hour.size());
  std::printf("calls %ld\n", calls);
  sqlite3_close(db);
  if (!std::getenv("KEEP")) for (const char* end : {"", "-wal", "-shm"}) std::remove((path + end).c_str());
  return 0;
}
