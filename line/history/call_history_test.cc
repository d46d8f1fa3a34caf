#include "line/history/call_history.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/test_support.h"

namespace annc {
namespace {

// A second connection to the history, as the web page or sqlite3 opens it.
class Reader {
 public:
  explicit Reader(const std::string& path) { sqlite3_open(path.c_str(), &db_); }
  ~Reader() { sqlite3_close(db_); }
  // The first column of each row `sql` gives, as text ("NULL" for none).
  std::vector<std::string> Column(const std::string& sql) {
    std::vector<std::string> values;
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(db_);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(stmt, 0);
      values.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "NULL");
    }
    sqlite3_finalize(stmt);
    return values;
  }
  int Exec(const std::string& sql) { return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr); }

 private:
  sqlite3* db_ = nullptr;
};

CallRecord Call(std::int64_t id, const std::string& number) {
  CallRecord r;
  r.id = id;
  r.time = "2026-12-09T21:14:05+05:30";
  r.startedAt = 1765295045 + id;
  r.source = "modem:/dev/ttyACM0";
  r.number = number;
  r.name = "Ann Lee";
  r.nameSource = "book";
  r.decision = "announce";
  r.announced = true;
  return r;
}

CallRecord Ended(CallRecord r, std::optional<bool> answered) {
  r.ended = "2026-12-09T21:14:35+05:30";
  r.duration = 30;
  r.answered = answered;
  r.rings = 3;
  return r;
}

class CallHistoryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* end : {"", "-wal", "-shm", "-journal"}) std::remove((path.str() + end).c_str());
  }
  std::unique_ptr<CallHistory> Open(HistorySettings settings = {}) {
    std::string error;
    auto history = CallHistory::Open(path, &error, settings);
    EXPECT_NE(history, nullptr) << error;
    return history;
  }
  testing::ScopedTempPath path{"calls.db"};
  std::vector<std::string> status;
};

TEST_F(CallHistoryTest, ANewFileGetsTheSchemaInWalMode) {
  ASSERT_NE(Open(), nullptr);
  Reader reader(path);
  EXPECT_EQ(reader.Column("PRAGMA user_version"), std::vector<std::string>{"1"});
  EXPECT_EQ(reader.Column("PRAGMA journal_mode"), std::vector<std::string>{"wal"});
  std::vector<std::string> columns = reader.Column("SELECT name FROM pragma_table_info('calls')");
  for (const char* field : {"id", "time", "ended", "source", "line", "called", "number", "withheld", "network_name",
                            "name", "name_source", "decision", "rule", "hung_up", "rings", "announced",
                            "stopped_by_key", "answered", "duration"}) {
    EXPECT_NE(std::find(columns.begin(), columns.end(), field), columns.end()) << field;
  }
  EXPECT_EQ(reader.Column("SELECT name FROM sqlite_master WHERE type = 'index' ORDER BY name"),
            (std::vector<std::string>{"calls_by_day", "calls_by_number", "calls_by_time", "calls_imported"}));
}

TEST_F(CallHistoryTest, FilesItCannotUseAreOneLine) {
  struct Case {
    const char* content;  // nullptr: a folder stands there
    const char* cause;
  } cases[] = {
      {"this is no database, just text of a size SQLite reads a header from................................",
       "file is not a database"},
      {nullptr, "unable to open database file"},
  };
  for (const Case& c : cases) {
    TearDown();
    std::filesystem::remove_all(path.str());
    if (c.content != nullptr) {
      testing::WriteWholeFile(path, c.content);
    } else {
      std::filesystem::create_directory(path.str());
    }
    std::string error;
    EXPECT_EQ(CallHistory::Open(path, &error), nullptr);
    EXPECT_EQ(error, "cannot open the call history " + path.str() + ": " + c.cause);
    std::filesystem::remove_all(path.str());
  }
}

TEST_F(CallHistoryTest, AFileFromANewerProgramIsRefusedUntouched) {
  ASSERT_NE(Open(), nullptr);
  Reader(path).Exec("PRAGMA user_version=2");
  std::string error;
  EXPECT_EQ(CallHistory::Open(path, &error), nullptr);
  EXPECT_EQ(error, "cannot open the call history " + path.str() +
                       ": written by a newer annc-line (schema 2; this one knows 1)");
  EXPECT_EQ(Reader(path).Column("PRAGMA user_version"), std::vector<std::string>{"2"});
}

TEST_F(CallHistoryTest, ARowWrittenAtTheDecisionAndCompletedAtTheEnd) {
  auto history = Open();
  history->Add(Call(1, "5551234"), &status);
  Reader reader(path);
  EXPECT_EQ(reader.Column("SELECT number || '|' || name || '|' || decision || '|' || announced || '|' ||"
                          " IFNULL(ended, 'NULL') || '|' || IFNULL(answered, 'NULL') || '|' ||"
                          " IFNULL(duration, 'NULL') FROM calls"),
            std::vector<std::string>{"5551234|Ann Lee|announce|1|NULL|NULL|NULL"});
  history->Complete(Ended(Call(1, "5551234"), false), &status);
  EXPECT_EQ(reader.Column("SELECT ended || '|' || answered || '|' || duration || '|' || rings FROM calls"),
            std::vector<std::string>{"2026-12-09T21:14:35+05:30|0|30|3"});
  history->Complete(Ended(Call(1, "5551234"), std::nullopt), &status);
  EXPECT_EQ(reader.Column("SELECT IFNULL(answered, 'NULL') FROM calls"), std::vector<std::string>{"NULL"});
  EXPECT_TRUE(status.empty());
  EXPECT_EQ(history->LargestId(), 1);
  history.reset();
  EXPECT_EQ(Open()->LargestId(), 1);
}

TEST_F(CallHistoryTest, AnOutageKeepsTheRowsAndSaysSoOnce) {
  auto history = Open();
  Reader other(path);
  ASSERT_EQ(other.Exec("BEGIN EXCLUSIVE"), SQLITE_OK);
  history->Add(Call(1, "5551001"), &status);
  history->Add(Call(2, "5551002"), &status);
  history->Complete(Ended(Call(1, "5551001"), true), &status);
  history->Retry(&status);
  EXPECT_EQ(history->waiting(), 2u);  // the end completes its waiting row
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0], "cannot write the call history " + path.str() +
                           ": database is locked; its calls are kept until it can be written");
  ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);
  history->Retry(&status);
  EXPECT_EQ(history->waiting(), 0u);
  ASSERT_EQ(status.size(), 2u);
  EXPECT_EQ(status[1], "call history " + path.str() + " written again (2 rows caught up)");
  EXPECT_EQ(other.Column("SELECT number || '|' || IFNULL(answered, 'NULL') FROM calls ORDER BY id"),
            (std::vector<std::string>{"5551001|1", "5551002|NULL"}));
}

TEST_F(CallHistoryTest, TheWaitingRowsAreBounded) {
  auto history = Open(HistorySettings{3, 0, Charset::kSingleByte});
  Reader other(path);
  ASSERT_EQ(other.Exec("BEGIN EXCLUSIVE"), SQLITE_OK);
  for (int id = 1; id <= 5; ++id) history->Add(Call(id, "555100" + std::to_string(id)), &status);
  EXPECT_EQ(history->waiting(), 3u);
  EXPECT_EQ(history->dropped(), 2u);
  ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);
  history->Retry(&status);
  EXPECT_EQ(other.Column("SELECT number FROM calls ORDER BY id"),
            (std::vector<std::string>{"5551003", "5551004", "5551005"}));
  EXPECT_EQ(status.back(), "call history " + path.str() + " written again (3 rows caught up; 2 calls could not be kept)");
}

TEST_F(CallHistoryTest, ImportingTheSameCallsAgainAddsNothing) {
  auto history = Open();
  history->Add(Call(1, "5551234"), &status);
  std::vector<CallRecord> records = {Call(0, "5550001"), Call(0, "5550002"), Call(0, "5550002")};
  records[2].time = "2026-12-09T21:15:05+05:30";
  std::vector<std::string> lines = {"  a", "  b", "  b"};
  std::string error;
  EXPECT_EQ(history->Import(records, lines, &error), 3);
  EXPECT_EQ(history->Import(records, lines, &error), 0);
  EXPECT_EQ(Reader(path).Column("SELECT COUNT(*) FROM calls"), std::vector<std::string>{"4"});
  EXPECT_EQ(Reader(path).Column("SELECT COUNT(DISTINCT id) FROM calls"), std::vector<std::string>{"4"});
}

}  // namespace
}  // namespace annc
