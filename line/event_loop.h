// annc-line's one event loop: each step waits on the call sources, the
// signals and the earliest deadline, takes the signals, lets the announcer
// be reaped, hands each source what is ready and runs the timers. Normal
// running, --check and the start-up all turn this one step.
#ifndef ANNC_LINE_EVENT_LOOP_H_
#define ANNC_LINE_EVENT_LOOP_H_

#include <optional>
#include <vector>

#include "line/sources/call_source.h"
#include "posix/line_system.h"

namespace annc {

// What the loop serves besides the source: the calls and their announcer.
class LoopClient {
 public:
  virtual ~LoopClient() = default;
  virtual std::optional<Millis> NextDeadline() const = 0;
  // A child may have ended (SIGCHLD, or any step: reaping costs nothing).
  virtual void Reap(Millis now) = 0;
  virtual void OnTimer(Millis now) = 0;
  // Handles of its own to wait on (a child's output), and what to do once
  // the wait is over: `watches` holds every handle waited on.
  virtual void AddWatches(std::vector<Watch>* /*watches*/) const {}
  virtual void OnReady(const std::vector<Watch>& /*watches*/, Millis /*now*/) {}
};

// A source the loop serves, and where what it hands on goes.
struct LoopSource {
  CallSource* source;
  const SourceOutput* out;
};

class EventLoop {
 public:
  EventLoop(Clock& clock, Waiter& waiter, Signals& signals) : clock_(clock), waiter_(waiter), signals_(signals) {}

  // One step; false once SIGINT, SIGTERM or SIGHUP asked annc-line to end.
  // `client` may be null (--check announces nothing).
  bool Step(CallSource& source, const SourceOutput& out, LoopClient* client);
  // The same, serving several sources at once, in their order.
  bool Step(const std::vector<LoopSource>& sources, LoopClient* client);
  // Waits for a child's end (SIGCHLD) or `deadline`, serving nothing else:
  // annc-line's own end, while the announcer is given a moment to stop.
  void WaitForChild(Millis deadline);

  bool EndRequested() const;
  Millis Now() { return clock_.Now(); }

  // Tells `output` the loop still turns (WATCHDOG=1) at least every
  // `intervalMs` / 2 while steps are taken; an interval of 0 tells nothing.
  void KeepWatchdog(StatusOutput& output, Millis intervalMs);

 private:
  // WATCHDOG=1 when it is due; the time it is due next, if at all.
  std::optional<Millis> FeedWatchdog();

  Clock& clock_;
  Waiter& waiter_;
  Signals& signals_;
  StatusOutput* watchdog_ = nullptr;
  Millis watchdogEvery_ = 0;
  Millis watchdogDue_ = 0;
};

}  // namespace annc

#endif  // ANNC_LINE_EVENT_LOOP_H_
