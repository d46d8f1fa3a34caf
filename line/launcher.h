// The calls and their announcer: call events go to the call tracker, and
// its actions are carried out by the parts that each do one job: the
// announcer's process, screening, the calls log and the names.
#ifndef ANNC_LINE_LAUNCHER_H_
#define ANNC_LINE_LAUNCHER_H_

#include <functional>
#include <optional>
#include <set>
#include <string>

#include "line/announcer_process.h"
#include "line/call_logger.h"
#include "line/call_screening.h"
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
  // whether it could. `clock` gives the time of day for quiet hours.
  void SetScreener(Screener* screener, Clock* clock, std::function<bool()> hangUp) {
    screening_.SetScreener(screener, clock, std::move(hangUp));
  }
  // --check: decisions are printed, nothing is started, hung up or logged.
  void SetDryRun(bool dryRun) { screening_.SetDryRun(dryRun); }

  // What the call sources hand on goes here.
  const SourceOutput& output() const { return out_; }

  // --once: the first call has ended and its announcer is gone.
  bool Done() const { return tracker_.CallsEnded() > 0 && !tracker_.AnnouncerBusy(); }

  std::optional<Millis> NextDeadline() const override;
  void Reap(Millis now) override;
  void OnTimer(Millis now) override;

  // annc-line's end: an announcer still running gets SIGTERM, then SIGKILL.
  void Stop(EventLoop& loop);

 private:
  void Apply(const Actions& actions, Millis now);
  // Starts the announcer for a call, unless screening decides otherwise.
  void StartAnnouncer(const Action& action, Millis now);
  // The call is not to be announced: the tracker learns no announcer runs.
  void NotStarted(int error, Millis now);
  void Diagnose();

  LauncherSettings settings_;
  StatusOutput& output_;
  CallTracker tracker_;
  AnnouncerProcess process_;
  CallLogger logger_;
  CallScreening screening_;
  Millis now_ = 0;  // the time of the event being handled
  SourceOutput out_;
  std::function<std::optional<std::string>()> diagnose_;
  std::set<std::string> diagnosed_;
  NameRecorder* names_ = nullptr;
};

}  // namespace annc

#endif  // ANNC_LINE_LAUNCHER_H_
