#include "web/history/history_reader.h"

#include <sqlite3.h>

#include <utility>

namespace annc::web {
namespace {

constexpr char kColumns[] =
    "SELECT id, time, started_at, ended, source, line, number, withheld, name, decision, rule, rings, answered,"
    " duration FROM calls";

// A statement prepared for one use and finalized on every way out.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    code_ = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return code_ == SQLITE_OK; }
  sqlite3_stmt* get() { return stmt_; }
  // Binds `text` to the parameter `name`, when the statement has one.
  void Text(const char* name, const std::string& text) {
    int at = sqlite3_bind_parameter_index(stmt_, name);
    if (at > 0) sqlite3_bind_text(stmt_, at, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void Int(const char* name, std::int64_t value) {
    int at = sqlite3_bind_parameter_index(stmt_, name);
    if (at > 0) sqlite3_bind_int64(stmt_, at, value);
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int code_;
};

std::string Column(sqlite3_stmt* s, int at) {
  const unsigned char* text = sqlite3_column_text(s, at);
  return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text),
                                                       static_cast<std::size_t>(sqlite3_column_bytes(s, at)));
}

CallRow ReadRow(sqlite3_stmt* s) {
  CallRow row;
  row.id = sqlite3_column_int64(s, 0);
  row.time = Column(s, 1);
  row.startedAt = sqlite3_column_int64(s, 2);
  if (sqlite3_column_type(s, 3) != SQLITE_NULL) row.ended = Column(s, 3);
  row.source = Column(s, 4);
  row.line = Column(s, 5);
  row.number = Column(s, 6);
  row.withheld = sqlite3_column_int(s, 7) != 0;
  row.name = Column(s, 8);
  row.decision = Column(s, 9);
  row.rule = Column(s, 10);
  row.rings = sqlite3_column_int(s, 11);
  if (sqlite3_column_type(s, 12) != SQLITE_NULL) row.answered = sqlite3_column_int(s, 12) != 0;
  if (sqlite3_column_type(s, 13) != SQLITE_NULL) row.duration = sqlite3_column_int64(s, 13);
  return row;
}

// The calls page's statement: fixed fragments only, the filter's values
// bound. The day's condition is written as the index calls_by_day is.
std::string CallsSql(const CallFilter& filter) {
  std::string where;
  auto add = [&](const char* condition) {
    where += where.empty() ? " WHERE " : " AND ";
    where += condition;
  };
  if (!filter.day.empty()) add("substr(time, 1, 10) = :day");
  if (!filter.decision.empty()) add("decision = :decision");
  if (!filter.search.empty()) {
    add("(number LIKE :search ESCAPE '\\' OR name LIKE :search ESCAPE '\\')");
    // Only the newest calls: from the start of the newest :window on, a
    // range of the time index read newest first.
    add("started_at >= COALESCE((SELECT started_at FROM calls ORDER BY started_at DESC LIMIT 1 OFFSET :window - 1),"
        " -9223372036854775807 - 1)");
  }
  return std::string(kColumns) + where + " ORDER BY started_at DESC, id DESC LIMIT :limit OFFSET :offset";
}

// Whether a call is older than the search window. (Not EXISTS: SQLite
// gives an EXISTS subquery LIMIT 1 of its own and drops the OFFSET.)
constexpr char kOlderThanWindowSql[] =
    "SELECT COUNT(*) FROM (SELECT 1 FROM calls ORDER BY started_at DESC LIMIT 1 OFFSET :window)";

constexpr char kCallerSql[] = " WHERE number = :number ORDER BY started_at DESC, id DESC LIMIT :limit";
constexpr char kCountsSql[] = "SELECT decision, COUNT(*) FROM calls WHERE number = :number GROUP BY decision";
constexpr char kRingingSql[] =
    " WHERE started_at >= :since AND ended IS NULL ORDER BY started_at DESC, id DESC LIMIT 10";

std::string SqlFor(const std::string& query, const CallFilter& filter) {
  if (query == "calls") return CallsSql(filter);
  if (query == "caller") return std::string(kColumns) + kCallerSql;
  if (query == "counts") return kCountsSql;
  if (query == "ringing") return std::string(kColumns) + kRingingSql;
  return "";
}

void BindFilter(Statement& s, const CallFilter& filter, int page) {
  s.Text(":day", filter.day);
  s.Text(":decision", filter.decision);
  s.Text(":search", ContainsPattern(filter.search));
  s.Int(":window", HistoryReader::kSearchWindow);
  // One row past the page tells whether there are more.
  s.Int(":limit", HistoryReader::kPageSize + 1);
  s.Int(":offset", static_cast<std::int64_t>(page) * HistoryReader::kPageSize);
}

}  // namespace

std::string ContainsPattern(const std::string& text) {
  std::string out = "%";
  for (char c : text) {
    if (c == '%' || c == '_' || c == '\\') out += '\\';
    out += c;
  }
  return out + "%";
}

bool IsDay(const std::string& day) {
  if (day.size() != 10 || day[4] != '-' || day[7] != '-') return false;
  for (std::size_t i = 0; i < day.size(); ++i) {
    if (i != 4 && i != 7 && (day[i] < '0' || day[i] > '9')) return false;
  }
  return true;
}

bool IsDecision(const std::string& decision) {
  return decision == "announce" || decision == "quiet" || decision == "block";
}

std::unique_ptr<HistoryReader> HistoryReader::Open(const std::string& path, std::string* error) {
  sqlite3* db = nullptr;
  int code = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, nullptr);
  auto fail = [&](const std::string& why) -> std::unique_ptr<HistoryReader> {
    *error = "cannot open the call history " + path + ": " + why;
    sqlite3_close(db);
    return nullptr;
  };
  if (code != SQLITE_OK) return fail(db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code));
  // annc-line writes in short transactions; a read waits that long at most.
  sqlite3_busy_timeout(db, 1000);
  // The history read through the page cache's own mapping: the statistics'
  // scans of the day and number indexes take a quarter less time.
  sqlite3_exec(db, "PRAGMA mmap_size=268435456", nullptr, nullptr, nullptr);
  // Opening reads nothing yet: a first query tells a file that is no
  // database, or no call history.
  Statement probe(db, "SELECT COUNT(*) FROM sqlite_schema WHERE type = 'table' AND name = 'calls'");
  if (!probe.ok() || sqlite3_step(probe.get()) != SQLITE_ROW) return fail(sqlite3_errmsg(db));
  if (sqlite3_column_int(probe.get(), 0) != 1) return fail("it holds no table of calls");
  return std::unique_ptr<HistoryReader>(new HistoryReader(db, path));
}

HistoryReader::~HistoryReader() { sqlite3_close(db_); }

bool HistoryReader::Calls(const CallFilter& filter, int page, CallPage* out, std::string* error) {
  Statement s(db_, CallsSql(filter));
  if (!s.ok()) return *error = sqlite3_errmsg(db_), false;
  BindFilter(s, filter, page);
  out->calls.clear();
  out->more = false;
  out->searchCut = false;
  int code;
  while ((code = sqlite3_step(s.get())) == SQLITE_ROW) {
    if (out->calls.size() == static_cast<std::size_t>(kPageSize)) {
      out->more = true;
      continue;
    }
    out->calls.push_back(ReadRow(s.get()));
  }
  if (code != SQLITE_DONE) return *error = sqlite3_errmsg(db_), false;
  if (!filter.search.empty()) {
    Statement older(db_, kOlderThanWindowSql);
    if (!older.ok()) return *error = sqlite3_errmsg(db_), false;
    older.Int(":window", kSearchWindow);
    if (sqlite3_step(older.get()) != SQLITE_ROW) return *error = sqlite3_errmsg(db_), false;
    out->searchCut = sqlite3_column_int(older.get(), 0) != 0;
  }
  return true;
}

bool HistoryReader::CallerCalls(const std::string& number, std::vector<CallRow>* out, std::string* error) {
  Statement s(db_, std::string(kColumns) + kCallerSql);
  if (!s.ok()) return *error = sqlite3_errmsg(db_), false;
  s.Text(":number", number);
  s.Int(":limit", kCallerLimit);
  out->clear();
  int code;
  while ((code = sqlite3_step(s.get())) == SQLITE_ROW) out->push_back(ReadRow(s.get()));
  if (code != SQLITE_DONE) return *error = sqlite3_errmsg(db_), false;
  return true;
}

bool HistoryReader::CallerCounts(const std::string& number, std::map<std::string, std::int64_t>* out,
                                 std::string* error) {
  Statement s(db_, kCountsSql);
  if (!s.ok()) return *error = sqlite3_errmsg(db_), false;
  s.Text(":number", number);
  out->clear();
  int code;
  while ((code = sqlite3_step(s.get())) == SQLITE_ROW) {
    (*out)[Column(s.get(), 0)] = sqlite3_column_int64(s.get(), 1);
  }
  if (code != SQLITE_DONE) return *error = sqlite3_errmsg(db_), false;
  return true;
}

bool HistoryReader::Ringing(std::int64_t since, std::vector<CallRow>* out, std::string* error) {
  Statement s(db_, std::string(kColumns) + kRingingSql);
  if (!s.ok()) return *error = sqlite3_errmsg(db_), false;
  s.Int(":since", since);
  out->clear();
  int code;
  while ((code = sqlite3_step(s.get())) == SQLITE_ROW) out->push_back(ReadRow(s.get()));
  if (code != SQLITE_DONE) return *error = sqlite3_errmsg(db_), false;
  return true;
}

std::string HistoryReader::QueryPlan(const std::string& query, const CallFilter& filter) {
  std::string sql = SqlFor(query, filter);
  if (sql.empty()) return "";
  Statement s(db_, "EXPLAIN QUERY PLAN " + sql);
  if (!s.ok()) return std::string("error: ") + sqlite3_errmsg(db_);
  BindFilter(s, filter, 0);
  std::string plan;
  while (sqlite3_step(s.get()) == SQLITE_ROW) plan += Column(s.get(), 3) + "\n";
  return plan;
}

}  // namespace annc::web
