// The calls and their announcer: call events go to the call tracker, and
// its actions are carried out by the parts that each do one job: the
// announcer's process, screening, the calls log and the names.
#ifndef ANNC_LINE_LAUNCHER_H_
#define ANNC_LINE_LAUNCHER_H_

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "line/announcer_process.h"
#include "line/call_logger.h"
#include "line/call_screening.h"
#include "line/calls/call_record.h"
#include "line/calls/call_sink.h"
#include "line/calls/call_tracker.h"
#include "line/event_loop.h"
#include "line/name_recorder.h"
#include "posix/line_system.h"

namespace annc {

struct LauncherSettings {
  std::string annc;     // the announcer to run
  std::string log;      // --log, given to annc with /L:; empty: annc's own default
  std::string logFile;  // the calls log annc writes, for the calls annc-line logs itself
  TrackerSettings tracker;
  // The locale's: how the names of files and callers are shown in status
  // lines and the calls log.
  Charset charset = Charset::kSingleByte;
  // The calls' records: where they come from ("modem:/dev/ttyACM0"), and
  // whether the source tells answered calls from the others.
  std::string source;
  bool answersKnown = false;
  // With several sources: the same, by CallEvent::source. Empty: `source`
  // and `answersKnown` for every call.
  struct RecordSource {
    std::string text;
    bool answersKnown = false;
  };
  std::vector<RecordSource> sources = {};
};

class Launcher : public LoopClient {
 public:
  // `book` names the callers of the calls annc-line logs itself.
  Launcher(LauncherSettings settings, Announcers& announcers, CallLog& log, StatusOutput& output,
           PhoneBookLookup book);

  // What can be found out about an announcer that ended with exit code 1
  // (an unhandled error): said once per kind.
  void SetDiagnosis(std::function<std::optional<std::string>()> diagnose) { diagnose_ = std::move(diagnose); }
  // --say-names: each announcer gets its caller's name from `names`.
  void SetNameRecorder(NameRecorder* names) { names_ = names; }
  // Screening: each call is decided by `screener` before it is announced;
  // a blocked one is hung up by `hangUp` (null: let it ring), which says
  // whether it could; only a call of `hangUpSource` is (the modem's: the
  // other sources' calls are on lines it does not hold). `clock` gives the
  // time of day for quiet hours.
  void SetScreener(Screener* screener, Clock* clock, std::function<bool()> hangUp, int hangUpSource = 0);
  // --check: decisions are printed, nothing is started, hung up or logged.
  void SetDryRun(bool dryRun) {
    dryRun_ = dryRun;
    screening_.SetDryRun(dryRun);
  }
  // Each call's record goes to `sink` when the call is decided and when it
  // ends; `clock` gives the calendar's time of both. Ids go above `lastId`.
  void AddSink(CallSink* sink) { sinks_.push_back(sink); }
  void SetRecords(Clock* clock, std::int64_t lastId) {
    wallClock_ = clock;
    lastId_ = lastId;
  }

  // What the call sources hand on goes here: output() for one source alone,
  // OutputOf(i) for source i of several, its events marked as its own.
  const SourceOutput& output() const { return out_; }
  SourceOutput OutputOf(int source);

  // A sink asks annc-line to end with exit code 1.
  bool Fatal() const;

  // --once: the first call has ended and its announcer is gone.
  bool Done() const { return tracker_.CallsEnded() > 0 && !tracker_.AnnouncerBusy(); }

  std::optional<Millis> NextDeadline() const override;
  void Reap(Millis now) override;
  void OnTimer(Millis now) override;
  void AddWatches(std::vector<Watch>* watches) const override;
  void OnReady(const std::vector<Watch>& watches, Millis now) override;

  // annc-line's end: an announcer still running gets SIGTERM, then SIGKILL.
  void Stop(EventLoop& loop);

 private:
  void Apply(const Actions& actions, Millis now);
  // Starts the announcer for a call, unless screening decides otherwise.
  void StartAnnouncer(const Action& action, Millis now);
  // The call is not to be announced: the tracker learns no announcer runs.
  void NotStarted(int error, Millis now);
  void Diagnose();
  // The records: a call decided (its record made and handed on), a key
  // stopped its announcement, the call ended.
  CallRecord NewRecord(const CallFacts& facts, Millis now);
  LauncherSettings::RecordSource SourceOf(int source) const;
  void Decided(const CallFacts& facts, const ScreeningOutcome& outcome, bool announced, Millis now);
  void Over(const CallFacts& facts, Millis now);

  LauncherSettings settings_;
  StatusOutput& output_;
  CallTracker tracker_;
  AnnouncerProcess process_;
  CallLogger logger_;
  CallScreening screening_;
  Millis now_ = 0;  // the time of the event being handled
  int deciding_ = 0;  // the source of the call being screened
  int hangUpSource_ = 0;
  SourceOutput out_;
  std::function<std::optional<std::string>()> diagnose_;
  std::set<std::string> diagnosed_;
  NameRecorder* names_ = nullptr;
  bool dryRun_ = false;
  PhoneBookLookup book_;
  std::vector<CallSink*> sinks_;
  Clock* wallClock_ = nullptr;
  std::int64_t lastId_ = 0;
  // The decided calls not yet ended, by the tracker's number.
  std::map<long long, CallRecord> open_;
};

}  // namespace annc

#endif  // ANNC_LINE_LAUNCHER_H_
