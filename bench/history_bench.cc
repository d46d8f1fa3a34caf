// Call history benchmark: a call's row written and completed, and the
// queries people run, on a history of N calls (default 1000000) made in a
// temporary file.
//   build/history_bench [CALLS]
// Prints "row_us MEDIAN MAX" (a row written at the decision and completed at
// the end, both), "last50_ms MEDIAN" (the last 50 calls of one number),
// "per_day_ms MEDIAN" (calls per local day and decision over 30 days) and "calls N".
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

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Since(Clock::time_point t0, double scale) {
  return std::chrono::duration<double>(Clock::now() - t0).count() * scale;
}

// Times `sql` (run to its end) `times` times; the median in milliseconds.
double QueryMs(sqlite3* db, const char* sql, int times) {
  std::vector<double> ms;
  for (int i = 0; i < times; ++i) {
    sqlite3_stmt* stmt = nullptr;
    auto t0 = Clock::now();
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
      std::fprintf(stderr, "history_bench: %s\n", sqlite3_errmsg(db));
      std::exit(1);
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
    }
    sqlite3_finalize(stmt);
    ms.push_back(Since(t0, 1e3));
  }
  return Median(ms);
}

}  // namespace

int main(int argc, char** argv) {
  long calls = argc > 1 ? std::atol(argv[1]) : 1000000;
  std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/history_bench.db";
  for (const char* end : {"", "-wal", "-shm"}) std::remove((path + end).c_str());
  std::string error;
  auto history = annc::CallHistory::Open(path, &error);
  if (!history) {
    std::fprintf(stderr, "history_bench: %s\n", error.c_str());
    return 1;
  }
  // The past: 1,000 callers over a year, imported in one go.
  const std::int64_t now = 1797000000;
  std::mt19937 rng(42);
  std::vector<annc::CallRecord> past;
  std::vector<std::string> lines;
  past.reserve(calls);
  lines.reserve(calls);
  for (long i = 0; i < calls; ++i) {
    annc::CallRecord r;
    r.startedAt = now - 365LL * 86400 + i * (365LL * 86400 / std::max(calls, 1L));
    r.time = annc::IsoLocalTime(static_cast<std::time_t>(r.startedAt));
    r.number = "555" + std::to_string(1000000 + rng() % 1000);
    r.decision = i % 7 == 0 ? "block" : "announce";
    past.push_back(std::move(r));
    lines.push_back("  line " + std::to_string(i));
  }
  if (history->Import(past, lines, &error) < 0) {
    std::fprintf(stderr, "history_bench: %s\n", error.c_str());
    return 1;
  }
  std::vector<double> rows;
  std::vector<std::string> status;
  for (int i = 0; i < 200; ++i) {
    annc::CallRecord r;
    r.id = now * 1000000 + i;
    r.startedAt = now + i;
    r.time = "2026-12-09T21:14:05+00:00";
    r.number = "5551234";
    r.name = "Ann Lee";
    r.decision = "announce";
    auto t0 = Clock::now();
    history->Add(r, &status);
    r.ended = "2026-12-09T21:14:35+00:00";
    r.duration = 30;
    history->Complete(r, &status);
    rows.push_back(Since(t0, 1e6));
  }
  if (!status.empty() || history->waiting() != 0) {
    std::fprintf(stderr, "history_bench: %s\n", status.empty() ? "rows left waiting" : status[0].c_str());
    return 1;
  }
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::string last50 = "SELECT * FROM calls WHERE number = '5551000500' ORDER BY started_at DESC LIMIT 50";
  std::string since = annc::IsoLocalTime(static_cast<std::time_t>(now - 29 * 86400)).substr(0, 10);
  std::string perDay = "SELECT substr(time, 1, 10) AS day, decision, COUNT(*) FROM calls WHERE substr(time, 1, 10) >= '" +
                       since + "' GROUP BY day, decision";
  std::printf("row_us %.1f %.1f\n", Median(rows), *std::max_element(rows.begin(), rows.end()));
  std::printf("last50_ms %.2f\n", QueryMs(db, last50.c_str(), 11));
  std::printf("per_day_ms %.2f\n", QueryMs(db, perDay.c_str(), 11));
  std::printf("calls %ld\n", calls + 200);
  sqlite3_close(db);
  history.reset();
  for (const char* end : {"", "-wal", "-shm"}) std::remove((path + end).c_str());
  return 0;
}
