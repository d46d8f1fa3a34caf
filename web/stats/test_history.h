// What the statistics tests share: a real call history file with the
// launcher's schema, filled with plain inserts, and a time zone for a test.
#ifndef ANNC_WEB_STATS_TEST_HISTORY_H_
#define ANNC_WEB_STATS_TEST_HISTORY_H_

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "line/calls/call_record.h"
#include "line/history/call_history.h"

namespace annc::testing {

class TestHistory {
 public:
  explicit TestHistory(const std::string& name) {
    const char* dir = std::getenv("TEST_TMPDIR");
    path_ = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/annc_" + name + "." +
            std::to_string(::getpid());
    Remove();
    std::string error;
    EXPECT_NE(CallHistory::Open(path_, &error), nullptr) << error;
    EXPECT_EQ(sqlite3_open(path_.c_str(), &db_), SQLITE_OK);
  }
  ~TestHistory() {
    sqlite3_close(db_);
    Remove();
  }
  TestHistory(const TestHistory&) = delete;
  TestHistory& operator=(const TestHistory&) = delete;

  sqlite3* db() { return db_; }

  // A call at `time` (ISO 8601 with its offset; started_at follows from it).
  void Add(const std::string& time, const std::string& number, const std::string& decision,
           const std::string& name = "") {
    std::optional<std::int64_t> startedAt = ParseIsoTime(time);
    ASSERT_TRUE(startedAt) << time;
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db_,
                                 "INSERT INTO calls (time, started_at, number, withheld, name, decision)"
                                 " VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
                                 -1, &stmt, nullptr),
              SQLITE_OK);
    sqlite3_bind_text(stmt, 1, time.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(stmt, 2, *startedAt);
    sqlite3_bind_text(stmt, 3, number.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(stmt, 4, number.empty());
    sqlite3_bind_text(stmt, 5, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 6, decision.c_str(), -1, SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE) << sqlite3_errmsg(db_);
    sqlite3_finalize(stmt);
  }

 private:
  void Remove() {
    for (const char* end : {"", "-wal", "-shm"}) std::remove((path_ + end).c_str());
  }
  std::string path_;
  sqlite3* db_ = nullptr;
};

// Sets TZ for one test and back.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    const char* old = std::getenv("TZ");
    if (old != nullptr) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ZoneScope(const ZoneScope&) = delete;
  ZoneScope& operator=(const ZoneScope&) = delete;

 private:
  std::optional<std::string> old_;
};

}  // namespace annc::testing

#endif  // ANNC_WEB_STATS_TEST_HISTORY_H_
