// The life of a call, from its first ring or caller-ID line to its end, and
// when the announcer runs for it. Pure: no clock, no I/O; the caller passes
// the time in and carries the actions out.
#ifndef ANNC_LINE_CALL_TRACKER_H_
#define ANNC_LINE_CALL_TRACKER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace annc {

// Milliseconds on a clock that only goes forward.
using Millis = std::int64_t;

// What a source of calls reports. A modem gives rings, caller-ID lines and
// NO CARRIER; a source that hands over a whole caller-ID record at once
// (a network server) follows its number and name with kCallerIdComplete.
struct CallEvent {
  enum Kind {
    kRing,
    kNumber,            // value: the number as the network sent it
    kName,              // value: the name as the network sent it
    kCallerIdInfo,      // another line of a caller-ID block (date, time...)
    kCallerIdComplete,  // the caller-ID block is known to be whole
    kCallEnded,         // the source says the call is over (NO CARRIER)
    kSourceLost,        // the modem was unplugged or the connection lost
  };
  Kind kind;
  std::string value;
};

// How the announcer ended.
struct AnnouncerExit {
  enum Kind { kExited, kSignalled, kNotStarted };
  Kind kind = kExited;
  int code = 0;  // exit code, signal number, or errno for kNotStarted
};

struct Action {
  enum Kind {
    kStartAnnouncer,      // number: what annc is given; name: for the record
    kEndAnnouncement,     // tell the announcer the call has ended
    kTerminateAnnouncer,  // it did not stop in time: SIGTERM
    kStatus,              // text: one status line (already fit for a terminal)
  };
  Kind kind;
  std::string number;
  std::string name;
  std::string text;
};
using Actions = std::vector<Action>;

struct TrackerSettings {
  Millis ringTimeout = 8000;        // no ring or caller-ID line this long: the call has ended
  Millis blockComplete = 500;       // no further caller-ID line this long: the block is whole
  Millis terminateAfter = 10000;    // an announcer still running this long after the end gets SIGTERM
};

class CallTracker {
 public:
  explicit CallTracker(TrackerSettings settings) : settings_(settings) {}

  Actions OnEvent(const CallEvent& event, Millis now);
  // Lets time pass: call it whenever NextDeadline() has come (calling it
  // more often does no harm).
  Actions OnTimer(Millis now);
  Actions OnAnnouncerExited(const AnnouncerExit& exit, Millis now);

  // The earliest moment OnTimer has something to do, if any.
  std::optional<Millis> NextDeadline() const;

  bool InCall() const { return call_.active; }
  // An announcer process is still running (announcing, or not yet gone
  // after its call ended).
  bool AnnouncerBusy() const { return announcer_ != kIdle; }
  int CallsEnded() const { return callsEnded_; }

 private:
  struct Call {
    bool active = false;
    std::optional<std::string> number;  // the first number wins
    std::optional<std::string> name;
    int rings = 0;
    bool ringAfterNumber = false;
    bool complete = false;
    Millis lastActivity = 0;  // the last ring or caller-ID line
    Millis lastCallerId = 0;  // the last caller-ID line
    bool announced = false;   // its one announcer has been started
  };
  enum AnnouncerState { kIdle, kRunning, kEnding };

  void BeginCallIfIdle(Millis now);
  void TryStart(Millis now, Actions* actions);
  void EndCall(Millis now, Actions* actions);
  std::optional<Millis> BlockDeadline() const;

  TrackerSettings settings_;
  Call call_;
  AnnouncerState announcer_ = kIdle;
  Millis endingSince_ = 0;
  bool terminated_ = false;
  int callsEnded_ = 0;
};

}  // namespace annc

#endif  // ANNC_LINE_CALL_TRACKER_H_
