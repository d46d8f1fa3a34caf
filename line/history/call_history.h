// The call history: one row per call in an SQLite database, written when the
// call is decided and completed when it ends. A history that cannot be
// written for a while (another writer holds it, the disk is full, the file
// became read-only) never holds a call up: the rows wait in memory, bounded,
// and are written in their order once it works again.
#ifndef ANNC_LINE_HISTORY_CALL_HISTORY_H_
#define ANNC_LINE_HISTORY_CALL_HISTORY_H_

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "line/calls/call_record.h"

struct sqlite3;

namespace annc {

// The schema this program writes: PRAGMA user_version of the file.
constexpr int kHistorySchemaVersion = 1;

struct HistorySettings {
  // Rows kept while the history cannot be written; past that the oldest go
  // (and are counted).
  std::size_t maxWaiting = 4096;
  // How long one write waits for another writer before the row waits in
  // memory instead.
  int busyTimeoutMs = 20;
  // How the status lines show the path and SQLite's texts.
  Charset charset = Charset::kSingleByte;
};

class CallHistory {
 public:
  // Opens the history at `path`, creating it (and its schema) when missing
  // and bringing an older schema up to date. Null, with one line in *error
  // naming the file and the cause, when it cannot be opened or created, is
  // no SQLite database, or was written by a newer annc-line.
  static std::unique_ptr<CallHistory> Open(const std::string& path, std::string* error,
                                           HistorySettings settings = {});
  ~CallHistory();
  CallHistory(const CallHistory&) = delete;
  CallHistory& operator=(const CallHistory&) = delete;

  // A call decided: its row. Status lines (an outage begins) go to *status.
  void Add(const CallRecord& record, std::vector<std::string>* status);
  // The call ended: its row completed (ended, answered, duration and what
  // else changed).
  void Complete(const CallRecord& record, std::vector<std::string>* status);
  // Writes what waits, if anything does. Call it now and then.
  void Retry(std::vector<std::string>* status);
  // Rows waiting to be written, and rows given up since the start.
  std::size_t waiting() const { return waiting_.size(); }
  std::size_t dropped() const { return dropped_; }

  // Adds calls read from a calls log, each with the log line it came from;
  // a call whose time and line the history holds already is left out.
  // Returns how many were added, or -1 with *error set.
  long Import(const std::vector<CallRecord>& records, const std::vector<std::string>& lines, std::string* error);

  // The largest id the history holds (0 for none): new ids go above it.
  std::int64_t LargestId() const { return largestId_; }

 private:
  struct Pending {
    bool complete;  // false: the row's insertion
    CallRecord record;
  };

  CallHistory(sqlite3* db, std::string path, HistorySettings settings);
  // Writes the waiting rows in one transaction; SQLite's result code, and
  // when it failed SQLite's text for it in *why (taken before the rollback,
  // whose own text would take its place).
  int WriteWaiting(std::string* why);
  int Write(const Pending& pending);
  void Wait(Pending pending);
  void Failed(const std::string& why, std::vector<std::string>* status);
  std::string ErrorText(int code) const;

  sqlite3* db_;
  std::string path_;
  HistorySettings settings_;
  std::deque<Pending> waiting_;
  std::size_t dropped_ = 0;
  bool failing_ = false;  // an outage was said; quiet until written again
  std::int64_t largestId_ = 0;
};

}  // namespace annc

#endif  // ANNC_LINE_HISTORY_CALL_HISTORY_H_
