#include "line/history/call_history.h"

#include <sqlite3.h>

#include <utility>

#include "text/terminal_text.h"

namespace annc {
namespace {

// Each step brings a file of the schema version before it to its own; the
// file's user_version says how far it has come. A new version appends a
// step and never changes an old one.
constexpr const char* kSchemaSteps[kHistorySchemaVersion] = {
    // 0 -> 1
    "CREATE TABLE calls ("
    " id INTEGER PRIMARY KEY,"
    " time TEXT NOT NULL,"
    " started_at INTEGER NOT NULL,"
    " ended TEXT,"
    " source TEXT NOT NULL DEFAULT '',"
    " line TEXT NOT NULL DEFAULT '',"
    " called TEXT NOT NULL DEFAULT '',"
    " number TEXT NOT NULL DEFAULT '',"
    " withheld INTEGER NOT NULL DEFAULT 0,"
    " network_name TEXT NOT NULL DEFAULT '',"
    " name TEXT NOT NULL DEFAULT '',"
    " name_source TEXT NOT NULL DEFAULT 'none',"
    " decision TEXT NOT NULL,"
    " rule TEXT NOT NULL DEFAULT '',"
    " hung_up INTEGER NOT NULL DEFAULT 0,"
    " rings INTEGER NOT NULL DEFAULT 0,"
    " announced INTEGER NOT NULL DEFAULT 0,"
    " stopped_by_key INTEGER NOT NULL DEFAULT 0,"
    " answered INTEGER,"
    " duration INTEGER,"
    " log_line TEXT);"
    "CREATE INDEX calls_by_time ON calls(started_at);"
    // Calls per local day and decision: the day is the date of `time`.
    "CREATE INDEX calls_by_day ON calls(substr(time, 1, 10), decision);"
    "CREATE INDEX calls_by_number ON calls(number, started_at);"
    "CREATE UNIQUE INDEX calls_imported ON calls(time, log_line) WHERE log_line IS NOT NULL;",
};

constexpr char kInsert[] =
    "INSERT INTO calls (id, time, started_at, ended, source, line, called, number, withheld, network_name, name,"
    " name_source, decision, rule, hung_up, rings, announced, stopped_by_key, answered, duration, log_line)"
    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21)";
constexpr char kImport[] =
    "INSERT OR IGNORE INTO calls (id, time, started_at, ended, source, line, called, number, withheld, network_name,"
    " name, name_source, decision, rule, hung_up, rings, announced, stopped_by_key, answered, duration, log_line)"
    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21)";
// What a call's end changes; its name, decision and the rest stay.
constexpr char kComplete[] =
    "UPDATE calls SET ended = ?2, answered = ?3, duration = ?4, hung_up = ?5, rings = ?6, announced = ?7,"
    " stopped_by_key = ?8 WHERE id = ?1";

// A statement prepared for one use and finalized on every way out.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { code_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  int code() const { return code_; }
  sqlite3_stmt* get() { return stmt_; }
  void Text(int at, const std::string& text) { sqlite3_bind_text(stmt_, at, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT); }
  void Int(int at, std::int64_t value) { sqlite3_bind_int64(stmt_, at, value); }
  template <typename T>
  void Maybe(int at, const std::optional<T>& value) {
    if (value) {
      if constexpr (std::is_same_v<T, std::string>) {
        Text(at, *value);
      } else {
        Int(at, static_cast<std::int64_t>(*value));
      }
    } else {
      sqlite3_bind_null(stmt_, at);
    }
  }
  // Runs it to its end; SQLite's result code (SQLITE_DONE when it went well).
  int Run() {
    int code;
    while ((code = sqlite3_step(stmt_)) == SQLITE_ROW) {
    }
    return code;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int code_;
};

// An imported row (`logLine` given) gets its id from SQLite.
void BindRow(Statement& s, const CallRecord& r, const std::string* logLine) {
  if (logLine != nullptr) {
    sqlite3_bind_null(s.get(), 1);
  } else {
    s.Int(1, r.id);
  }
  s.Text(2, r.time);
  s.Int(3, r.startedAt);
  s.Maybe(4, r.ended);
  s.Text(5, r.source);
  s.Text(6, r.line);
  s.Text(7, r.called);
  s.Text(8, r.number);
  s.Int(9, r.withheld);
  s.Text(10, r.networkName);
  s.Text(11, r.name);
  s.Text(12, r.nameSource);
  s.Text(13, r.decision);
  s.Text(14, r.rule);
  s.Int(15, r.hungUp);
  s.Int(16, r.rings);
  s.Int(17, r.announced);
  s.Int(18, r.stoppedByKey);
  s.Maybe(19, r.answered);
  s.Maybe(20, r.duration);
  if (logLine != nullptr) {
    s.Text(21, *logLine);
  } else {
    sqlite3_bind_null(s.get(), 21);
  }
}

int Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

// The file's schema version, or -1 when it cannot be read.
int UserVersion(sqlite3* db) {
  Statement s(db, "PRAGMA user_version");
  if (s.code() != SQLITE_OK || sqlite3_step(s.get()) != SQLITE_ROW) return -1;
  return sqlite3_column_int(s.get(), 0);
}

std::string Shown(const std::string& text, Charset charset) { return CaretNotation(text, "", charset); }

}  // namespace

std::unique_ptr<CallHistory> CallHistory::Open(const std::string& path, std::string* error,
                                               HistorySettings settings) {
  sqlite3* db = nullptr;
  int code = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
                             nullptr);
  auto fail = [&](const std::string& why) -> std::unique_ptr<CallHistory> {
    *error = "cannot open the call history " + Shown(path, settings.charset) + ": " + why;
    sqlite3_close(db);
    return nullptr;
  };
  if (code != SQLITE_OK) return fail(db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code));
  sqlite3_extended_result_codes(db, 1);
  // Opening reads nothing yet: the first statement tells a file that is no
  // database. At start a writer that holds the file is waited for a while.
  sqlite3_busy_timeout(db, 5000);
  int version = UserVersion(db);
  if (version < 0) return fail(sqlite3_errmsg(db));
  if (version > kHistorySchemaVersion) {
    return fail("written by a newer annc-line (schema " + std::to_string(version) + "; this one knows " +
                std::to_string(kHistorySchemaVersion) + ")");
  }
  // Readers (the web page, sqlite3) never block the writer, nor it them.
  if (Exec(db, "PRAGMA journal_mode=WAL") != SQLITE_OK) return fail(sqlite3_errmsg(db));
  if (Exec(db, "PRAGMA synchronous=NORMAL") != SQLITE_OK) return fail(sqlite3_errmsg(db));
  // A row written touches a handful of pages; SQLite's default cache of
  // 2 MB would only grow annc-line's memory with the file, call by call.
  if (Exec(db, "PRAGMA cache_size=-128") != SQLITE_OK) return fail(sqlite3_errmsg(db));
  if (version < kHistorySchemaVersion) {
    if (Exec(db, "BEGIN IMMEDIATE") != SQLITE_OK) return fail(sqlite3_errmsg(db));
    // Another annc-line may have brought it up to date meanwhile.
    version = UserVersion(db);
    for (int step = version; step < kHistorySchemaVersion; ++step) {
      if (Exec(db, kSchemaSteps[step]) != SQLITE_OK) {
        std::string why = sqlite3_errmsg(db);
        Exec(db, "ROLLBACK");
        return fail(why);
      }
    }
    std::string set = "PRAGMA user_version=" + std::to_string(kHistorySchemaVersion);
    if (Exec(db, set.c_str()) != SQLITE_OK || Exec(db, "COMMIT") != SQLITE_OK) {
      std::string why = sqlite3_errmsg(db);
      Exec(db, "ROLLBACK");
      return fail(why);
    }
  }
  std::unique_ptr<CallHistory> history(new CallHistory(db, path, settings));
  Statement largest(db, "SELECT COALESCE(MAX(id), 0) FROM calls");
  if (largest.code() != SQLITE_OK || sqlite3_step(largest.get()) != SQLITE_ROW) {
    *error = "cannot open the call history " + Shown(path, settings.charset) + ": " + sqlite3_errmsg(db);
    return nullptr;
  }
  history->largestId_ = sqlite3_column_int64(largest.get(), 0);
  sqlite3_busy_timeout(db, settings.busyTimeoutMs);
  return history;
}

CallHistory::CallHistory(sqlite3* db, std::string path, HistorySettings settings)
    : db_(db), path_(std::move(path)), settings_(settings) {}

CallHistory::~CallHistory() { sqlite3_close(db_); }

std::string CallHistory::ErrorText(int code) const {
  const char* message = sqlite3_errmsg(db_);
  return message != nullptr && *message != '\0' ? message : sqlite3_errstr(code);
}

int CallHistory::Write(const Pending& pending) {
  const CallRecord& r = pending.record;
  if (!pending.complete) {
    Statement s(db_, kInsert);
    if (s.code() != SQLITE_OK) return s.code();
    BindRow(s, r, nullptr);
    return s.Run();
  }
  Statement s(db_, kComplete);
  if (s.code() != SQLITE_OK) return s.code();
  s.Int(1, r.id);
  s.Maybe(2, r.ended);
  s.Maybe(3, r.answered);
  s.Maybe(4, r.duration);
  s.Int(5, r.hungUp);
  s.Int(6, r.rings);
  s.Int(7, r.announced);
  s.Int(8, r.stoppedByKey);
  return s.Run();
}

int CallHistory::WriteWaiting(std::string* why) {
  auto failed = [&](int code, bool rollBack) {
    *why = ErrorText(code);
    if (rollBack) Exec(db_, "ROLLBACK");
    return code;
  };
  if (int code = Exec(db_, "BEGIN IMMEDIATE"); code != SQLITE_OK) return failed(code, false);
  for (const Pending& pending : waiting_) {
    int code = Write(pending);
    // A row written before (its answer lost on the way back) is there.
    if (code == SQLITE_CONSTRAINT_PRIMARYKEY) continue;
    if (code != SQLITE_DONE) return failed(code, true);
  }
  // A COMMIT that fails for want of I/O has rolled back already; the
  // ROLLBACK then fails too, and says so.
  if (int code = Exec(db_, "COMMIT"); code != SQLITE_OK) return failed(code, true);
  waiting_.clear();
  return SQLITE_OK;
}

void CallHistory::Wait(Pending pending) {
  if (pending.complete) {
    // A row that waits still is completed where it waits.
    for (Pending& waiting : waiting_) {
      if (!waiting.complete && waiting.record.id == pending.record.id) {
        waiting.record = std::move(pending.record);
        return;
      }
    }
  }
  if (waiting_.size() >= settings_.maxWaiting) {
    waiting_.pop_front();
    ++dropped_;
  }
  waiting_.push_back(std::move(pending));
}

void CallHistory::Failed(const std::string& why, std::vector<std::string>* status) {
  if (failing_) return;
  failing_ = true;
  status->push_back("cannot write the call history " + Shown(path_, settings_.charset) + ": " + Shown(why, settings_.charset) +
                    "; its calls are kept until it can be written");
}

void CallHistory::Add(const CallRecord& record, std::vector<std::string>* status) {
  if (record.id > largestId_) largestId_ = record.id;
  Wait(Pending{false, record});
  Retry(status);
}

void CallHistory::Complete(const CallRecord& record, std::vector<std::string>* status) {
  Wait(Pending{true, record});
  Retry(status);
}

void CallHistory::Retry(std::vector<std::string>* status) {
  if (waiting_.empty()) return;
  std::size_t before = waiting_.size();
  if (std::string why; WriteWaiting(&why) != SQLITE_OK) {
    Failed(why, status);
    return;
  }
  if (failing_) {
    failing_ = false;
    std::string text = "call history " + Shown(path_, settings_.charset) + " written again (" + std::to_string(before) +
                       (before == 1 ? " row" : " rows") + " caught up";
    if (dropped_ > 0) text += "; " + std::to_string(dropped_) + " calls could not be kept";
    status->push_back(text + ")");
  }
}

long CallHistory::Import(const std::vector<CallRecord>& records, const std::vector<std::string>& lines,
                         std::string* error) {
  auto failed = [&](int code) {
    *error = "cannot write the call history " + Shown(path_, settings_.charset) + ": " + Shown(ErrorText(code), settings_.charset);
    Exec(db_, "ROLLBACK");
    return -1L;
  };
  sqlite3_busy_timeout(db_, 5000);
  if (int code = Exec(db_, "BEGIN IMMEDIATE"); code != SQLITE_OK) return failed(code);
  Statement s(db_, kImport);
  if (s.code() != SQLITE_OK) return failed(s.code());
  long added = 0;
  for (std::size_t i = 0; i < records.size() && i < lines.size(); ++i) {
    sqlite3_reset(s.get());
    sqlite3_clear_bindings(s.get());
    BindRow(s, records[i], &lines[i]);
    if (int code = s.Run(); code != SQLITE_DONE) return failed(code);
    added += sqlite3_changes(db_);
  }
  if (int code = Exec(db_, "COMMIT"); code != SQLITE_OK) return failed(code);
  sqlite3_busy_timeout(db_, settings_.busyTimeoutMs);
  return added;
}

}  // namespace annc
