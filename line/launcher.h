// The calls and their announcer: call events go to the call tracker, and
// its actions are carried out on the announcer's process; an announcer that
// ends is reaped, and one killed by a signal gets the console put back.
#ifndef ANNC_LINE_LAUNCHER_H_
#define ANNC_LINE_LAUNCHER_H_

#include <functional>
#include <optional>
#include <set>
#include <string>

#include "line/calls/call_tracker.h"
#include "line/event_loop.h"
#include "line/options.h"
#include "line/screening/screener.h"
#include "posix/line_system.h"

namespace annc {

// The recording of a caller's name given to annc with /N: (--say-names).
class NameRecorder {
 public:
  virtual ~NameRecorder() = default;
  // The path for /N: for a call announced with `number` (as annc is given
  // it) and the network's `name`; empty for none. Returns at once.
  virtual std::string Start(const std::string& number, const std::string& name) = 0;
  // Reaps what has finished, without waiting.
  virtual void Reap() = 0;
  // annc-line's end: ends what still runs.
  virtual void Cancel() = 0;
};

class Launcher : public LoopClient {
 public:
  // After SIGTERM at annc-line's own end, the announcer gets this long
  // before SIGKILL, and as long again to be gone.
  static constexpr Millis kStopWaitMs = 2000;
  // An announcer that SIGTERM did not end is killed this long after it.
  static constexpr Millis kKillAfterMs = 3000;
  // NO CARRIER is written again this often until the announcer has gone:
  // one that had not yet taken its line over threw the first away.
  static constexpr Millis kNoCarrierAgainMs = 500;

  // `options.annc` names the announcer to run; `logFile` is the calls log
  // annc writes (for the calls annc-line logs itself).
  Launcher(const LineOptions& options, std::string logFile, Announcers& announcers, CallLog& log,
           StatusOutput& output);

  // What can be found out about an announcer that ended with exit code 1
  // (an unhandled error): said once per kind.
  void SetDiagnosis(std::function<std::optional<std::string>()> diagnose) { diagnose_ = std::move(diagnose); }
  // --say-names: each announcer gets its caller's name from `names`.
  void SetNameRecorder(NameRecorder* names) { names_ = names; }
  // Screening: each call is decided by `screener` before it is announced;
  // a blocked one is hung up by `hangUp` (null: let it ring), which says
  // whether it could. `clock` gives the time of day for quiet hours.
  void SetScreener(Screener* screener, Clock* clock, std::function<bool()> hangUp) {
    screener_ = screener;
    clock_ = clock;
    hangUp_ = std::move(hangUp);
  }
  // --check: decisions are printed, nothing is started, hung up or logged.
  void SetDryRun(bool dryRun) { dryRun_ = dryRun; }

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
  // Reaps the announcer if it has ended; true then.
  bool Reaped(AnnouncerExit* exit);

  const LineOptions& options_;
  std::string logFile_;
  Announcers& announcers_;
  CallLog& log_;
  StatusOutput& output_;
  CallTracker tracker_;
  bool running_ = false;
  std::optional<Millis> noCarrierAgain_;  // while the announcer is told to end
  std::optional<Millis> killAt_;          // after SIGTERM
  Millis now_ = 0;  // the time of the event being handled
  SourceOutput out_;
  std::function<std::optional<std::string>()> diagnose_;
  std::set<std::string> diagnosed_;
  NameRecorder* names_ = nullptr;
  Screener* screener_ = nullptr;
  Clock* clock_ = nullptr;
  std::function<bool()> hangUp_;
  bool dryRun_ = false;
};

}  // namespace annc

#endif  // ANNC_LINE_LAUNCHER_H_
