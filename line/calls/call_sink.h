// Where the calls go once annc-line has decided them: the call history, the
// --on-call program and MQTT each take a call's record twice, when it is
// decided and when it has ended. A sink never holds up the loop: what it
// cannot do at once it keeps, and does when its deadline comes.
#ifndef ANNC_LINE_CALL_SINK_H_
#define ANNC_LINE_CALL_SINK_H_

#include <optional>
#include <vector>

#include "line/calls/call_record.h"
#include "posix/clock.h"
#include "posix/line_system.h"

namespace annc {

class CallSink {
 public:
  virtual ~CallSink() = default;
  // The call is decided (announced, kept quiet or blocked); the record has
  // no end yet.
  virtual void CallDecided(const CallRecord& record, Millis now) = 0;
  // The call is over: the same record (the same id) with its end.
  virtual void CallEnded(const CallRecord& record, Millis now) = 0;

  // The loop's side, as for the launcher: the earliest moment OnTimer has
  // something to do; handles to wait on; a child may have ended.
  virtual std::optional<Millis> NextDeadline() const { return std::nullopt; }
  virtual void OnTimer(Millis /*now*/) {}
  virtual void AddWatches(std::vector<Watch>* /*watches*/) const {}
  // After the wait: `watches` holds every handle waited on, with `ready` set.
  virtual void OnReady(const std::vector<Watch>& /*watches*/, Millis /*now*/) {}
  virtual void Reap(Millis /*now*/) {}
  // annc-line ends: what is still running is ended, what is still kept is
  // written if it can be, without waiting long.
  virtual void Stop() {}
  // The sink cannot go on and annc-line must end with exit code 1 (a
  // broker that turned its credentials down); the sink has said why.
  virtual bool Fatal() const { return false; }
};

}  // namespace annc

#endif  // ANNC_LINE_CALL_SINK_H_
