// The call history as annc-web reads it: read-only, with bound parameters
// only, each query served by one of the history's indexes.
#ifndef ANNC_WEB_HISTORY_HISTORY_READER_H_
#define ANNC_WEB_HISTORY_HISTORY_READER_H_

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace annc::web {

// One row of the table `calls`, as the pages show it.
struct CallRow {
  std::int64_t id = 0;
  std::string time;  // ISO 8601, local, with its offset
  std::int64_t startedAt = 0;
  std::optional<std::string> ended;
  std::string source;
  std::string line;
  std::string number;
  bool withheld = false;
  std::string name;
  std::string decision;  // announce, quiet or block
  std::string rule;
  int rings = 0;
  std::optional<bool> answered;
  std::optional<std::int64_t> duration;
};

// What the calls page is asked for. Empty fields do not filter.
struct CallFilter {
  std::string decision;  // announce, quiet or block
  std::string day;       // YYYY-MM-DD, the local day of `time`
  std::string search;    // part of the number or of the name
};

struct CallPage {
  std::vector<CallRow> calls;
  bool more = false;  // there are older calls past this page
  // A search looks through the newest kSearchWindow calls only; set when
  // the history holds older ones it did not look at.
  bool searchCut = false;
};

class HistoryReader {
 public:
  static constexpr int kPageSize = 50;
  // A search for part of a number or a name reads every call it looks at;
  // it looks at this many of the newest, so that it answers in a bounded
  // time on any history (a caller's page finds all calls of a number).
  static constexpr int kSearchWindow = 100000;
  // The most calls the caller page shows.
  static constexpr int kCallerLimit = 500;

  // Opens `path` read-only (no file is created, nothing is written). Null,
  // with one line naming the file and the cause in *error, when that fails
  // or the file holds no call history.
  static std::unique_ptr<HistoryReader> Open(const std::string& path, std::string* error);
  ~HistoryReader();
  HistoryReader(const HistoryReader&) = delete;
  HistoryReader& operator=(const HistoryReader&) = delete;

  // Page `page` (0 the newest) of the calls that pass `filter`, newest first.
  bool Calls(const CallFilter& filter, int page, CallPage* out, std::string* error);
  // The calls of one number, newest first, at most kCallerLimit.
  bool CallerCalls(const std::string& number, std::vector<CallRow>* out, std::string* error);
  // How many calls of one number had each decision.
  bool CallerCounts(const std::string& number, std::map<std::string, std::int64_t>* out, std::string* error);
  // Calls not ended that began at `since` (epoch seconds) or later, newest
  // first: the ones ringing now.
  bool Ringing(std::int64_t since, std::vector<CallRow>* out, std::string* error);

  // The read-only connection, for the statistics page's own queries. Used
  // from the server's one thread only.
  sqlite3* connection() { return db_; }

  // SQLite's query plan for the statement each query above runs with the
  // given filter ("calls", "caller", "counts", "ringing"): for the tests.
  std::string QueryPlan(const std::string& query, const CallFilter& filter);

 private:
  HistoryReader(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
  sqlite3* db_;
  std::string path_;
};

// A LIKE pattern that finds `text` anywhere, its %, _ and \ escaped with \.
std::string ContainsPattern(const std::string& text);

// Whether `day` is a date written YYYY-MM-DD, and `decision` one of the
// history's decisions.
bool IsDay(const std::string& day);
bool IsDecision(const std::string& decision);

}  // namespace annc::web

#endif  // ANNC_WEB_HISTORY_HISTORY_READER_H_
