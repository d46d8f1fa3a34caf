#include "web/history/history_reader.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>

#include "line/history/call_history.h"

namespace annc::web {
namespace {

// A history file made by annc-line's own CallHistory (so with its schema and
// indexes), removed after the test.
class HistoryReaderTest : public testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/annc_web_history_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    path_ = folder_ + "/calls.db";
    std::string error;
    writer_ = CallHistory::Open(path_, &error);
    ASSERT_NE(writer_, nullptr) << error;
  }
  void TearDown() override {
    writer_.reset();
    reader_.reset();
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path_ + suffix).c_str());
    rmdir(folder_.c_str());
  }
  void Add(std::int64_t id, const std::string& time, std::int64_t startedAt, const std::string& number,
           const std::string& name, const std::string& decision, bool ended = true) {
    CallRecord record;
    record.id = id;
    record.time = time;
    record.startedAt = startedAt;
    record.number = number;
    record.name = name;
    record.decision = decision;
    if (ended) record.ended = time;
    std::vector<std::string> status;
    writer_->Add(record, &status);
    ASSERT_EQ(writer_->waiting(), 0u);
  }
  HistoryReader& Reader() {
    if (reader_ == nullptr) {
      std::string error;
      reader_ = HistoryReader::Open(path_, &error);
      EXPECT_NE(reader_, nullptr) << error;
    }
    return *reader_;
  }
  std::vector<std::int64_t> Ids(const CallFilter& filter, int page = 0) {
    CallPage calls;
    std::string error;
    EXPECT_TRUE(Reader().Calls(filter, page, &calls, &error)) << error;
    std::vector<std::int64_t> ids;
    for (const CallRow& row : calls.calls) ids.push_back(row.id);
    return ids;
  }

  std::string folder_, path_;
  std::unique_ptr<CallHistory> writer_;
  std::unique_ptr<HistoryReader> reader_;
};

TEST_F(HistoryReaderTest, FiltersAndSearch) {
  Add(1, "2024-05-01T09:00:00+02:00", 1000, "5551234", "Ann Lee", "announce");
  Add(2, "2024-05-01T10:00:00+02:00", 2000, "5559999", "100% Spam_Co", "block");
  Add(3, "2024-05-02T08:00:00+02:00", 3000, "5551234", "Ann Lee", "quiet");
  Add(4, "2024-05-02T09:00:00+02:00", 4000, "", "", "announce");
  Add(5, "2024-05-02T10:00:00+02:00", 5000, "5550000", "Bob' OR 1=1 --", "block");
  struct Case {
    const char* what;
    CallFilter filter;
    std::vector<std::int64_t> ids;
  } cases[] = {
      {"everything, newest first", {}, {5, 4, 3, 2, 1}},
      {"by decision", {"block", "", ""}, {5, 2}},
      {"by day", {"", "2024-05-01", ""}, {2, 1}},
      {"by day and decision", {"announce", "2024-05-02", ""}, {4}},
      {"part of a number", {"", "", "1234"}, {3, 1}},
      {"part of a name, any case", {"", "", "ann"}, {3, 1}},
      {"% is no wildcard", {"", "", "100%"}, {2}},
      {"_ is no wildcard", {"", "", "m_c"}, {2}},
      {"a lone % finds only a %", {"", "", "%"}, {2}},
      {"a quote is only text", {"", "", "' OR 1=1 --"}, {5}},
      {"nothing found", {"", "", "nobody"}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Ids(c.filter), c.ids) << c.what;
}

// A search reads only the newest calls, and says when older ones were
// left out; a small history is searched whole.
TEST_F(HistoryReaderTest, ASearchLooksAtTheNewestCalls) {
  Add(1, "2024-05-01T09:00:00+02:00", 1000, "5550001", "Old Caller", "announce");
  CallPage page;
  std::string error;
  ASSERT_TRUE(Reader().Calls({"", "", "old"}, 0, &page, &error)) << error;
  EXPECT_EQ(page.calls.size(), 1u);
  EXPECT_FALSE(page.searchCut);
  reader_.reset();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "BEGIN;"
                         "WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < 100001)"
                         " INSERT INTO calls (id, time, started_at, number, name, decision)"
                         " SELECT i, '2024-05-02T09:00:00+02:00', 1000 + i, '5559999', 'New', 'announce' FROM n;"
                         "COMMIT;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
  ASSERT_TRUE(Reader().Calls({"", "", "old"}, 0, &page, &error)) << error;
  EXPECT_TRUE(page.calls.empty()) << "the oldest call is past the newest " << HistoryReader::kSearchWindow;
  EXPECT_TRUE(page.searchCut);
  ASSERT_TRUE(Reader().Calls({"", "", "9999"}, 0, &page, &error)) << error;
  EXPECT_EQ(page.calls.size(), 50u);
  EXPECT_EQ(page.calls.front().id, 100001);
  EXPECT_TRUE(page.searchCut);
  // Without a search every call is there.
  ASSERT_TRUE(Reader().Calls({}, 2000, &page, &error)) << error;
  EXPECT_EQ(page.calls.back().id, 1);
  EXPECT_FALSE(page.searchCut);
}

TEST_F(HistoryReaderTest, PagesOfFifty) {
  for (int i = 1; i <= 120; ++i) Add(i, "2024-05-01T09:00:00+02:00", 1000 + i, "555", "", "announce");
  CallPage page;
  std::string error;
  ASSERT_TRUE(Reader().Calls({}, 0, &page, &error));
  EXPECT_EQ(page.calls.size(), 50u);
  EXPECT_TRUE(page.more);
  EXPECT_EQ(page.calls.front().id, 120);
  ASSERT_TRUE(Reader().Calls({}, 2, &page, &error));
  EXPECT_EQ(page.calls.size(), 20u);
  EXPECT_FALSE(page.more);
  EXPECT_EQ(page.calls.front().id, 20);
  EXPECT_EQ(page.calls.back().id, 1);
}

TEST_F(HistoryReaderTest, CallerCallsCountsAndRinging) {
  Add(1, "2024-05-01T09:00:00+02:00", 1000, "5551234", "Ann", "announce");
  Add(2, "2024-05-01T10:00:00+02:00", 2000, "5551234", "Ann", "block");
  Add(3, "2024-05-01T11:00:00+02:00", 3000, "5551234", "Ann", "block", /*ended=*/false);
  Add(4, "2024-05-01T11:00:00+02:00", 3001, "55512345", "Other", "announce", /*ended=*/false);
  std::vector<CallRow> rows;
  std::string error;
  ASSERT_TRUE(Reader().CallerCalls("5551234", &rows, &error));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].id, 3);
  EXPECT_FALSE(rows[0].ended.has_value());
  std::map<std::string, std::int64_t> counts;
  ASSERT_TRUE(Reader().CallerCounts("5551234", &counts, &error));
  EXPECT_EQ(counts, (std::map<std::string, std::int64_t>{{"announce", 1}, {"block", 2}}));
  ASSERT_TRUE(Reader().Ringing(3000, &rows, &error));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].id, 4);
  EXPECT_EQ(rows[1].id, 3);
  ASSERT_TRUE(Reader().Ringing(3001, &rows, &error));
  ASSERT_EQ(rows.size(), 1u);
}

// Each page's query is served by an index: no plain scan of the table.
TEST_F(HistoryReaderTest, QueriesUseTheIndexes) {
  Add(1, "2024-05-01T09:00:00+02:00", 1000, "5551234", "Ann", "announce");
  struct Case {
    const char* query;
    CallFilter filter;
    const char* index;
  } cases[] = {
      {"calls", {}, "calls_by_time"},
      {"calls", {"block", "", ""}, "calls_by_time"},
      {"calls", {"", "", "ann"}, "calls_by_time"},
      {"calls", {"", "2024-05-01", ""}, "calls_by_day"},
      {"calls", {"quiet", "2024-05-01", ""}, "calls_by_day"},
      {"caller", {}, "calls_by_number"},
      {"counts", {}, "calls_by_number"},
      {"ringing", {}, "calls_by_time"},
  };
  for (const Case& c : cases) {
    std::string plan = Reader().QueryPlan(c.query, c.filter);
    SCOPED_TRACE(std::string(c.query) + " day=" + c.filter.day + " decision=" + c.filter.decision + ":\n" + plan);
    EXPECT_NE(plan.find(std::string("USING INDEX ") + c.index), std::string::npos);
    EXPECT_EQ(plan.find("SCAN calls\n"), std::string::npos);
  }
}

TEST_F(HistoryReaderTest, ReadsWithoutWriting) {
  Add(1, "2024-05-01T09:00:00+02:00", 1000, "5551234", "Ann", "announce");
  std::string error;
  auto reader = HistoryReader::Open(path_, &error);
  ASSERT_NE(reader, nullptr) << error;
  EXPECT_EQ(Ids({}), std::vector<std::int64_t>{1});
  // The reader holds a read-only connection: annc-line still writes.
  Add(2, "2024-05-01T10:00:00+02:00", 2000, "5551234", "Ann", "announce");
  EXPECT_EQ(Ids({}), (std::vector<std::int64_t>{2, 1}));
}

TEST(HistoryReaderOpenTest, RefusesWhatIsNoHistory) {
  std::string error;
  EXPECT_EQ(HistoryReader::Open("/nonexistent/calls.db", &error), nullptr);
  EXPECT_NE(error.find("/nonexistent/calls.db"), std::string::npos) << error;
  char path[] = "/tmp/annc_web_nohistory_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "not a database, just text\n", 26), 26);
  close(fd);
  error.clear();
  EXPECT_EQ(HistoryReader::Open(path, &error), nullptr);
  EXPECT_NE(error.find(path), std::string::npos) << error;
  std::remove(path);
}

TEST(HistoryTextTest, Patterns) {
  struct Case {
    const char* text;
    const char* pattern;
  } cases[] = {{"", "%%"}, {"ann", "%ann%"}, {"100%", "%100\\%%"}, {"a_b", "%a\\_b%"}, {"c:\\x", "%c:\\\\x%"}};
  for (const Case& c : cases) EXPECT_EQ(ContainsPattern(c.text), c.pattern) << c.text;
  for (const char* day : {"2024-05-01", "1999-12-31"}) EXPECT_TRUE(IsDay(day)) << day;
  for (const char* day : {"", "2024-5-01", "2024/05/01", "2024-05-01 ", "2024-05-0a", "x024-05-01"}) {
    EXPECT_FALSE(IsDay(day)) << day;
  }
  for (const char* d : {"announce", "quiet", "block"}) EXPECT_TRUE(IsDecision(d)) << d;
  for (const char* d : {"", "blocked", "Block", "announce "}) EXPECT_FALSE(IsDecision(d)) << d;
}

}  // namespace
}  // namespace annc::web
