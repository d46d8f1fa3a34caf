#include "line/calls/call_tracker.h"

#include <algorithm>

#include "line/calls/caller_number.h"
#include "text/terminal_text.h"

namespace annc {
namespace {

// annc's exit codes as a launcher reads them.
constexpr int kAnncKeyPressed = 0;
constexpr int kAnncModemResult = 99;

Action Status(std::string text) { return Action{Action::kStatus, {}, {}, std::move(text), {}, {}}; }

// " on line X" for a source with several lines; nothing for a modem.
std::string OnLine(const std::string& line, Charset charset) {
  return line.empty() ? std::string() : " on line " + CaretNotation(line, "", charset);
}

std::size_t Digits(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }));
}

}  // namespace

std::string CallerText(const std::string& number, const std::string& name, Charset charset) {
  return name.empty() ? number : number + " (" + CaretNotation(name, "", charset) + ")";
}

std::size_t CallTracker::Find(const CallEvent& event) const {
  for (std::size_t i = 0; i < calls_.size(); ++i) {
    if (calls_[i].source == event.source && calls_[i].line == event.line) return i;
  }
  return calls_.size();
}

std::size_t CallTracker::CallOn(const CallEvent& event, Millis now) {
  if (std::size_t i = Find(event); i < calls_.size()) return i;
  if (calls_.size() >= kMaxCalls) return kMaxCalls;
  Call call;
  call.source = event.source;
  call.line = event.line;
  call.seq = nextSeq_++;
  call.lastActivity = now;
  call.began = now;
  calls_.push_back(std::move(call));
  return calls_.size() - 1;
}

std::string CallTracker::Where(int source, const std::string& line) const {
  std::string where = OnLine(line, settings_.charset);
  if (settings_.sources.size() > 1 && source >= 0 && static_cast<std::size_t>(source) < settings_.sources.size()) {
    where += " via " + settings_.sources[static_cast<std::size_t>(source)].name;
  }
  return where;
}

Millis CallTracker::RingTimeout(int source) const {
  if (source < 0 || static_cast<std::size_t>(source) >= settings_.sources.size()) return settings_.ringTimeout;
  return settings_.sources[static_cast<std::size_t>(source)].ringTimeout;
}

Millis CallTracker::HoldBack(int source) const {
  if (source < 0 || static_cast<std::size_t>(source) >= settings_.sources.size()) return settings_.holdBack;
  return settings_.sources[static_cast<std::size_t>(source)].holdBack;
}

Actions CallTracker::OnEvent(const CallEvent& event, Millis now) {
  Actions actions;
  if (event.kind == CallEvent::kSourceLost) {
    // Only that source's calls: the others' go on.
    for (std::size_t i = calls_.size(); i-- > 0;) {
      if (calls_[i].source == event.source) EndCall(i, now, CallFacts::kLost, &actions);
    }
    return actions;
  }
  if (event.kind == CallEvent::kCallEnded || event.kind == CallEvent::kAnswered) {
    // Once answered, annc-line is done with the call: it is not announced,
    // or no longer. A source that reports answers sends nothing more for it.
    if (std::size_t i = Find(event); i < calls_.size()) {
      EndCall(i, now, event.kind == CallEvent::kAnswered ? CallFacts::kAnswered : CallFacts::kEnded, &actions);
    }
    return actions;
  }
  // A new caller-ID record on a line whose call already has a whole one is
  // a new call: the one before on that line has ended.
  if (event.kind == CallEvent::kNumber) {
    if (std::size_t i = Find(event); i < calls_.size() && calls_[i].complete) EndCall(i, now, CallFacts::kEnded, &actions);
  }
  std::size_t index = CallOn(event, now);
  if (index == kMaxCalls) {
    Overflow(event, now, &actions);
    return actions;
  }
  Call& call = calls_[index];
  // What the source says of the line and the dialled number is no sign of
  // life: it comes with the caller-ID record.
  if (event.kind == CallEvent::kCalledNumber) {
    call.called = event.value;
    return actions;
  }
  if (event.kind == CallEvent::kLineLabel) {
    call.lineLabel = event.value;
    return actions;
  }
  call.lastActivity = now;
  switch (event.kind) {
    case CallEvent::kRing:
      ++call.rings;
      if (call.number) call.ringAfterNumber = true;
      break;
    case CallEvent::kNumber:
    case CallEvent::kName:
    case CallEvent::kCallerIdInfo:
    case CallEvent::kCallerIdComplete:
      call.lastCallerId = now;
      if (event.kind == CallEvent::kNumber && !call.number) call.number = event.value;
      if (event.kind == CallEvent::kName && !call.name) call.name = event.value;
      if (event.kind == CallEvent::kCallerIdComplete) call.complete = true;
      break;
    case CallEvent::kCallEnded:
    case CallEvent::kSourceLost:
    case CallEvent::kAnswered:
    case CallEvent::kCalledNumber:
    case CallEvent::kLineLabel:
      break;
  }
  TryStart(now, &actions);
  return actions;
}

// A call on one line too many: it cannot be followed, but is said and
// logged once its number is known.
void CallTracker::Overflow(const CallEvent& event, Millis now, Actions* actions) {
  if (event.kind != CallEvent::kNumber) return;
  std::string number = AnnouncerArgument(event.value);
  if (Digits(number) > kMaxDigits) number = "Unknown";
  actions->push_back(Status("call from " + number + Where(event.source, event.line) +
                            " not announced: " + std::to_string(kMaxCalls) + " calls are in progress; logged"));
  CallFacts facts;
  facts.source = event.source;
  facts.line = event.line;
  facts.number = event.value;
  facts.hasNumber = true;
  facts.counted = true;
  facts.began = now;
  actions->push_back(Action{Action::kLogCall, number, {}, {}, {}, facts});
}

Actions CallTracker::OnTimer(Millis now) {
  Actions actions;
  for (std::size_t i = calls_.size(); i-- > 0;) {
    if (now >= calls_[i].lastActivity + RingTimeout(calls_[i].source)) EndCall(i, now, CallFacts::kEnded, &actions);
  }
  TryStart(now, &actions);
  if (announcer_ == kEnding && !terminated_ && now >= endingSince_ + settings_.terminateAfter) {
    terminated_ = true;
    actions.push_back(Action{Action::kTerminateAnnouncer, {}, {}, {}, {}, {}});
    actions.push_back(Status("announcer still running after the call ended: terminating it"));
  }
  return actions;
}

Actions CallTracker::OnAnnouncerExited(const AnnouncerExit& exit, Millis now) {
  Actions actions;
  bool expected = (exit.kind == AnnouncerExit::kExited && exit.code == kAnncModemResult && announcer_ == kEnding) ||
                  exit.kind == AnnouncerExit::kNotStarted || terminated_;
  if (exit.kind == AnnouncerExit::kExited && exit.code == kAnncKeyPressed) {
    if (announcer_ == kRunning) {
      actions.push_back(Status("announcement stopped by a key; this call stays quiet"));
      CallFacts facts;
      facts.call = announcedSeq_;
      actions.push_back(Action{Action::kStoppedByKey, {}, {}, {}, {}, facts});
    }
  } else if (!expected) {
    actions.push_back(Status(exit.kind == AnnouncerExit::kSignalled
                                 ? "announcer ended by signal " + std::to_string(exit.code)
                                 : "announcer ended with exit code " + std::to_string(exit.code)));
  }
  announcer_ = kIdle;
  terminated_ = false;
  // A call that began while the last announcer was still going gets its own.
  TryStart(now, &actions);
  return actions;
}

bool CallTracker::Ready(const Call& call, Millis now) const {
  if (now < call.began + HoldBack(call.source)) return false;
  // A block with both a number and a name is whole, in whichever order they
  // came: no need to wait for more.
  if (call.number) {
    return call.ringAfterNumber || call.complete || call.name || now >= call.lastCallerId + settings_.blockComplete;
  }
  return call.rings >= 2;
}

// A call not yet announced may start the announcer when it is idle, or take
// it over from an older call; while an announcer is ending, calls wait.
bool CallTracker::MayStart(const Call& call) const {
  if (call.announced) return false;
  return announcer_ == kIdle || (announcer_ == kRunning && call.seq > announcedSeq_);
}

void CallTracker::TryStart(Millis now, Actions* actions) {
  Call* next = nullptr;
  for (Call& call : calls_) {
    if (MayStart(call) && Ready(call, now) && (next == nullptr || call.seq > next->seq)) next = &call;
  }
  if (next == nullptr) return;
  if (announcer_ == kRunning) {
    // The announced call goes on, quietly; this one is announced as soon as
    // the announcer has gone.
    actions->push_back(Status("call" + Where(next->source, next->line) + " takes over the announcement"));
    announcer_ = kEnding;
    endingSince_ = now;
    actions->push_back(Action{Action::kEndAnnouncement, {}, {}, {}, {}, {}});
    return;
  }
  std::string number = AnnouncerArgument(next->number.value_or(""));
  if (std::size_t digits = Digits(number); digits > kMaxDigits) {
    actions->push_back(Status("a number of " + std::to_string(digits) + " digits is no phone number: announced as Unknown"));
    number = "Unknown";
  }
  next->announced = true;
  announcer_ = kRunning;
  announcedSeq_ = next->seq;
  std::string name = next->name.value_or("");
  actions->push_back(Status("call from " + CallerText(number, name, settings_.charset) +
                            Where(next->source, next->line)));
  actions->push_back(
      Action{Action::kStartAnnouncer, std::move(number), std::move(name), {}, next->number.value_or(""), FactsOf(*next)});
}

CallFacts CallTracker::FactsOf(const Call& call) {
  CallFacts facts;
  facts.call = call.seq;
  facts.source = call.source;
  facts.line = call.line;
  facts.lineLabel = call.lineLabel;
  facts.called = call.called;
  facts.number = call.number.value_or("");
  facts.hasNumber = call.number.has_value();
  facts.name = call.name.value_or("");
  facts.rings = call.rings;
  facts.began = call.began;
  return facts;
}

void CallTracker::EndCall(std::size_t index, Millis now, CallFacts::End how, Actions* actions) {
  const Call& call = calls_[index];
  // A call that ended within the hold-back (a router rejected it) was never
  // a call for the user: --once waits for the next.
  bool counted = call.announced || now >= call.began + HoldBack(call.source);
  if (counted) ++callsEnded_;
  if (!call.announced && Ready(call, now)) {
    // It waited for an announcer that was still busy with another call, or
    // still ending: it was never heard, but it is not lost.
    std::string number = AnnouncerArgument(call.number.value_or(""));
    if (Digits(number) > kMaxDigits) number = "Unknown";
    std::string name = call.name.value_or("");
    actions->push_back(Status("call from " + CallerText(number, name, settings_.charset) +
                              Where(call.source, call.line) + " not announced: the announcer was busy; logged"));
    actions->push_back(Action{Action::kLogCall, number, name, {}, {}, FactsOf(call)});
  }
  actions->push_back(Status("call " + std::string(how == CallFacts::kAnswered ? "answered" : "ended") +
                            Where(call.source, call.line)));
  if (announcer_ == kRunning && call.seq == announcedSeq_) {
    announcer_ = kEnding;
    endingSince_ = now;
    actions->push_back(Action{Action::kEndAnnouncement, {}, {}, {}, {}, {}});
  }
  CallFacts facts = FactsOf(call);
  facts.end = how;
  facts.counted = counted;
  actions->push_back(Action{Action::kCallOver, {}, {}, {}, {}, std::move(facts)});
  calls_.erase(calls_.begin() + static_cast<std::ptrdiff_t>(index));
}

// When a call not yet ready becomes ready by time alone: its caller-ID block
// is taken as whole, or its hold-back is over.
std::optional<Millis> CallTracker::StartDeadline(const Call& call) const {
  if (!MayStart(call)) return std::nullopt;
  Millis held = call.began + HoldBack(call.source);
  if (call.number && !call.ringAfterNumber && !call.complete) {
    return std::max(call.lastCallerId + settings_.blockComplete, held);
  }
  // Ready by its events: only the hold-back keeps it (TryStart has started
  // any call that was ready and free to start).
  bool readyByEvents = call.number || call.rings >= 2;
  if (readyByEvents && HoldBack(call.source) > 0) return held;
  return std::nullopt;
}

std::optional<Millis> CallTracker::NextDeadline() const {
  std::optional<Millis> next;
  auto consider = [&next](std::optional<Millis> t) {
    if (t && (!next || *t < *next)) next = t;
  };
  for (const Call& call : calls_) {
    consider(call.lastActivity + RingTimeout(call.source));
    consider(StartDeadline(call));
  }
  if (announcer_ == kEnding && !terminated_) consider(endingSince_ + settings_.terminateAfter);
  return next;
}

}  // namespace annc
