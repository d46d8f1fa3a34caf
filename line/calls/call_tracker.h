// The life of a call, from its first ring or caller-ID line to its end, and
// when the announcer runs for it. Pure: no clock, no I/O; the caller passes
// the time in and carries the actions out.
#ifndef ANNC_LINE_CALL_TRACKER_H_
#define ANNC_LINE_CALL_TRACKER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "posix/clock.h"
#include "text/terminal_text.h"

namespace annc {

// What a source of calls reports. A modem gives rings, caller-ID lines and
// NO CARRIER; a source that hands over a whole caller-ID record at once
// (a network server) follows its number and name with kCallerIdComplete.
// A source that serves several phone lines names the line of each event;
// with several sources at once, each event also says which one it is from.
struct CallEvent {
  enum Kind {
    kRing,
    kNumber,            // value: the number as the network sent it
    kName,              // value: the name as the network sent it
    kCallerIdInfo,      // another line of a caller-ID block (date, time...)
    kCallerIdComplete,  // the caller-ID block is known to be whole
    kCallEnded,         // the source says the call is over (NO CARRIER)
    kSourceLost,        // the modem was unplugged or the connection lost
    kAnswered,          // somebody took the call: its announcement ends, and the call with it
    kCalledNumber,      // value: the own number the caller dialled, where the source says it
    kLineLabel,         // value: the phone line's name, where it is not `line` itself (FRITZ!Box SIP0)
  };
  Kind kind;
  std::string value;
  std::string line;  // which phone line; empty for a modem's one line
  int source = 0;    // which of annc-line's sources, counted from 0
};

// How the announcer ended.
struct AnnouncerExit {
  enum Kind { kExited, kSignalled, kNotStarted };
  Kind kind = kExited;
  int code = 0;  // exit code, signal number, or errno for kNotStarted
};

// What the tracker knows of one call, for its record: the call history,
// the --on-call program.
struct CallFacts {
  enum End { kEnded, kAnswered, kLost };
  long long call = -1;    // the tracker's own number for the call; -1: one it could not follow
  int source = 0;         // the source it came from (CallEvent::source)
  std::string line;       // the source's key for its line (empty for a modem)
  std::string lineLabel;  // the line's name, where the source gives one of its own
  std::string called;     // the own number dialled, where the source says it
  std::string number;     // as the network sent it; none: no caller-ID number came
  bool hasNumber = false;
  std::string name;       // as the network sent it
  int rings = 0;
  Millis began = 0;       // its first event
  End end = kEnded;       // kCallOver: how it ended
  // kCallOver: it was a call for the user (it outlasted the hold-back or was
  // announced); one a router rejected at once was not.
  bool counted = false;
};

struct Action {
  enum Kind {
    kStartAnnouncer,      // number: what annc is given; name: the network's, if any
    kEndAnnouncement,     // tell the announcer the call has ended
    kTerminateAnnouncer,  // it did not stop in time: SIGTERM
    kStatus,              // text: one status line (already fit for a terminal)
    kLogCall,             // number, name: a call that was not announced, for the calls log
    kStoppedByKey,        // facts.call: its announcement was stopped by a key
    kCallOver,            // facts: the call has ended
  };
  Kind kind;
  std::string number;
  std::string name;
  std::string text;
  std::string raw;  // kStartAnnouncer: the number as the network sent it (for screening)
  CallFacts facts;  // kStartAnnouncer, kLogCall, kStoppedByKey, kCallOver: the call
};
using Actions = std::vector<Action>;

// "5551234 (ANN LEE)": a call as status lines name it (the name in caret
// notation under `charset`; `number` is fit for a terminal already).
std::string CallerText(const std::string& number, const std::string& name, Charset charset);

struct TrackerSettings {
  static constexpr Millis kDefaultRingTimeout = 8000;
  static constexpr Millis kDefaultBlockComplete = 500;
  static constexpr Millis kDefaultTerminateAfter = 10000;
  static constexpr Millis kDefaultHoldBack = 0;

  // No ring or caller-ID line this long: the call has ended.
  Millis ringTimeout = kDefaultRingTimeout;
  // No further caller-ID line this long: the block is whole.
  Millis blockComplete = kDefaultBlockComplete;
  // An announcer still running this long after the end gets SIGTERM.
  Millis terminateAfter = kDefaultTerminateAfter;
  // No call is announced sooner than this after its first event: a router
  // that rejects a call itself reports it ringing and ended within a second,
  // and such a call must not be announced.
  Millis holdBack = kDefaultHoldBack;
  // The locale's, for the caller's name and the line label in status lines.
  Charset charset = Charset::kSingleByte;

  // What differs from one source to another, by CallEvent::source: its
  // name in status lines, and its own ring timeout and hold-back. Empty:
  // one source, with the values above.
  struct Source {
    std::string name;  // "ncid:192.0.2.1:3333", fit for a terminal
    Millis ringTimeout = kDefaultRingTimeout;
    Millis holdBack = kDefaultHoldBack;
  };
  std::vector<Source> sources = {};
};

// One call per phone line of each source at a time, and one announcer for
// all of them: a call on another line, or from another source, that is ready to be announced while one is announced
// ends that announcement (its call stays quiet from then on) and is
// announced next.
class CallTracker {
 public:
  // Calls followed at once; a call on a further line meanwhile is said and
  // logged, not announced.
  static constexpr std::size_t kMaxCalls = 8;
  // A number with more digits than this is no phone number: the call is
  // announced and logged as Unknown.
  static constexpr std::size_t kMaxDigits = 32;

  explicit CallTracker(TrackerSettings settings) : settings_(settings) {}

  Actions OnEvent(const CallEvent& event, Millis now);
  // Lets time pass: call it whenever NextDeadline() has come (calling it
  // more often does no harm).
  Actions OnTimer(Millis now);
  Actions OnAnnouncerExited(const AnnouncerExit& exit, Millis now);

  // The earliest moment OnTimer has something to do, if any.
  std::optional<Millis> NextDeadline() const;

  // An announcer process is still running (announcing, or not yet gone
  // after its call ended).
  bool AnnouncerBusy() const { return announcer_ != kIdle; }
  int CallsEnded() const { return callsEnded_; }

 private:
  struct Call {
    int source = 0;
    std::string line;
    long long seq = 0;                  // which began later
    std::optional<std::string> number;  // the first number wins
    std::optional<std::string> name;
    std::string called;
    std::string lineLabel;
    int rings = 0;
    bool ringAfterNumber = false;
    bool complete = false;
    Millis lastActivity = 0;  // the last ring or caller-ID line
    Millis lastCallerId = 0;  // the last caller-ID line
    Millis began = 0;         // its first event
    bool announced = false;   // its one announcer has been started
  };
  enum AnnouncerState { kIdle, kRunning, kEnding };

  std::size_t CallOn(const CallEvent& event, Millis now);  // kMaxCalls when no room
  std::size_t Find(const CallEvent& event) const;           // calls_.size() when none
  // " on line X", " via SOURCE": where a call is, for status lines.
  std::string Where(int source, const std::string& line) const;
  Millis RingTimeout(int source) const;
  Millis HoldBack(int source) const;
  void Overflow(const CallEvent& event, Millis now, Actions* actions);
  bool Ready(const Call& call, Millis now) const;
  bool MayStart(const Call& call) const;
  void TryStart(Millis now, Actions* actions);
  void EndCall(std::size_t index, Millis now, CallFacts::End how, Actions* actions);
  static CallFacts FactsOf(const Call& call);
  std::optional<Millis> StartDeadline(const Call& call) const;

  TrackerSettings settings_;
  std::vector<Call> calls_;  // in progress, one per line
  long long nextSeq_ = 0;
  AnnouncerState announcer_ = kIdle;
  long long announcedSeq_ = -1;  // the call the announcer speaks for (while kRunning)
  Millis endingSince_ = 0;
  bool terminated_ = false;
  int callsEnded_ = 0;
};

}  // namespace annc

#endif  // ANNC_LINE_CALL_TRACKER_H_
