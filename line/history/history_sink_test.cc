#include "line/history/history_sink.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

namespace annc {
namespace {

// The status lines said, each led by the time it was said at.
class Said : public StatusOutput {
 public:
  void Status(std::string_view text) override { lines.push_back(std::to_string(now) + ": " + std::string(text)); }
  void Print(std::string_view) override {}
  void AnnouncerLeftLine() override {}
  void Service(std::string_view, bool) override {}
  void Stopping() override {}
  Millis now = 0;
  std::vector<std::string> lines;
};

CallRecord Call(std::int64_t id) {
  CallRecord r;
  r.id = id;
  r.time = "2026-12-09T21:14:05+00:00";
  r.startedAt = 1796850845;
  r.number = "5551234";
  return r;
}

std::string Count(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  std::string value = "error";
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(stmt, 0);
    value = text != nullptr ? reinterpret_cast<const char*>(text) : "NULL";
  }
  sqlite3_finalize(stmt);
  return value;
}

// Another writer holds the history: the calls wait in memory, the outage
// is said once, and the rows are written at the next try after it let go.
TEST(HistorySinkTest, AnOutageIsSaidOnceAndCaughtUp) {
  char folder[] = "/tmp/annc-sink-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/calls.db";
  std::string error;
  std::unique_ptr<CallHistory> history = CallHistory::Open(path, &error);
  ASSERT_NE(history, nullptr) << error;
  Said said;
  HistorySink sink(std::move(history), said);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);

  sink.CallDecided(Call(1), 0);
  EXPECT_EQ(sink.NextDeadline(), std::nullopt) << "nothing waits";
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  said.now = 1000;
  sink.CallDecided(Call(2), 1000);
  said.now = 1500;
  sink.CallEnded([] {
    CallRecord r = Call(2);
    r.ended = "2026-12-09T21:14:35+00:00";
    r.duration = 30;
    r.answered = false;
    return r;
  }(), 1500);
  sink.CallDecided(Call(3), 1500);
  EXPECT_EQ(sink.history().waiting(), 2u) << "the end of a waiting row is kept in it";
  EXPECT_EQ(sink.NextDeadline(), std::optional<Millis>(3000));
  said.now = 3000;
  sink.OnTimer(3000);  // still held
  EXPECT_EQ(sink.NextDeadline(), std::optional<Millis>(5000));
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  said.now = 4000;
  sink.OnTimer(4000);  // not yet due
  EXPECT_EQ(sink.history().waiting(), 2u);
  said.now = 5000;
  sink.OnTimer(5000);
  EXPECT_EQ(sink.history().waiting(), 0u);
  EXPECT_EQ(sink.NextDeadline(), std::nullopt);
  const std::string shown = path;
  EXPECT_EQ(said.lines, (std::vector<std::string>{
                            "1000: cannot write the call history " + shown +
                                ": database is locked; its calls are kept until it can be written",
                            "5000: call history " + shown + " written again (2 rows caught up)"}));
  EXPECT_EQ(Count(other, "SELECT COUNT(*) FROM calls"), "3");
  EXPECT_EQ(Count(other, "SELECT answered || ' ' || duration FROM calls WHERE id = 2"), "0 30");
  sqlite3_close(other);
  std::filesystem::remove_all(folder);
}

// annc-line ends while rows wait: one last try, and what is still not
// written is said.
TEST(HistorySinkTest, StopTriesOnceMoreAndSaysWhatIsLost) {
  char folder[] = "/tmp/annc-sink-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/calls.db";
  std::string error;
  Said said;
  HistorySink sink(CallHistory::Open(path, &error), said);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  sink.CallDecided(Call(1), 0);
  sink.Stop();
  ASSERT_EQ(said.lines.size(), 2u);
  EXPECT_EQ(said.lines[1], "0: 1 calls could not be written to the call history");
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  said.lines.clear();
  sink.Stop();
  EXPECT_EQ(said.lines, (std::vector<std::string>{"0: call history " + path + " written again (1 row caught up)"}));
  EXPECT_EQ(Count(other, "SELECT COUNT(*) FROM calls"), "1");
  sqlite3_close(other);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace annc
