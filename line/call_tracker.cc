#include "line/call_tracker.h"

#include <algorithm>

#include "line/caller_number.h"
#include "text/terminal_text.h"

namespace annc {
namespace {

// annc's exit codes as a launcher reads them.
constexpr int kAnncKeyPressed = 0;
constexpr int kAnncModemResult = 99;

Action Status(std::string text) { return Action{Action::kStatus, {}, {}, std::move(text)}; }

}  // namespace

void CallTracker::BeginCallIfIdle(Millis now) {
  if (call_.active) return;
  call_ = Call{};
  call_.active = true;
  call_.lastActivity = now;
}

Actions CallTracker::OnEvent(const CallEvent& event, Millis now) {
  Actions actions;
  switch (event.kind) {
    case CallEvent::kRing:
      BeginCallIfIdle(now);
      ++call_.rings;
      call_.lastActivity = now;
      if (call_.number) call_.ringAfterNumber = true;
      break;
    case CallEvent::kNumber:
    case CallEvent::kName:
    case CallEvent::kCallerIdInfo:
    case CallEvent::kCallerIdComplete:
      BeginCallIfIdle(now);
      call_.lastActivity = now;
      call_.lastCallerId = now;
      if (event.kind == CallEvent::kNumber && !call_.number) call_.number = event.value;
      if (event.kind == CallEvent::kName && !call_.name) call_.name = event.value;
      if (event.kind == CallEvent::kCallerIdComplete) call_.complete = true;
      break;
    case CallEvent::kCallEnded:
    case CallEvent::kSourceLost:
      if (call_.active) EndCall(now, &actions);
      return actions;
  }
  TryStart(now, &actions);
  return actions;
}

Actions CallTracker::OnTimer(Millis now) {
  Actions actions;
  if (call_.active && now >= call_.lastActivity + settings_.ringTimeout) EndCall(now, &actions);
  TryStart(now, &actions);
  if (announcer_ == kEnding && !terminated_ && now >= endingSince_ + settings_.terminateAfter) {
    terminated_ = true;
    actions.push_back(Action{Action::kTerminateAnnouncer, {}, {}, {}});
    actions.push_back(Status("announcer still running after the call ended: terminating it"));
  }
  return actions;
}

Actions CallTracker::OnAnnouncerExited(const AnnouncerExit& exit, Millis now) {
  Actions actions;
  bool expected = (exit.kind == AnnouncerExit::kExited && exit.code == kAnncModemResult && announcer_ == kEnding) ||
                  exit.kind == AnnouncerExit::kNotStarted || terminated_;
  if (exit.kind == AnnouncerExit::kExited && exit.code == kAnncKeyPressed) {
    if (call_.active) actions.push_back(Status("announcement stopped by a key; this call stays quiet"));
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

void CallTracker::TryStart(Millis now, Actions* actions) {
  if (!call_.active || call_.announced || announcer_ != kIdle) return;
  std::string number;
  if (call_.number) {
    bool whole = call_.ringAfterNumber || call_.complete || now >= call_.lastCallerId + settings_.blockComplete;
    if (!whole) return;
    number = AnnouncerArgument(*call_.number);
  } else if (call_.rings >= 2) {
    number = AnnouncerArgument("");
  } else {
    return;
  }
  call_.announced = true;
  announcer_ = kRunning;
  std::string name = call_.name.value_or("");
  std::string line = "call from " + number;
  if (!name.empty()) line += " (" + CaretNotation(name, "") + ")";
  actions->push_back(Status(std::move(line)));
  actions->push_back(Action{Action::kStartAnnouncer, std::move(number), std::move(name), {}});
}

void CallTracker::EndCall(Millis now, Actions* actions) {
  call_.active = false;
  ++callsEnded_;
  actions->push_back(Status("call ended"));
  if (announcer_ == kRunning) {
    announcer_ = kEnding;
    endingSince_ = now;
    actions->push_back(Action{Action::kEndAnnouncement, {}, {}, {}});
  }
}

std::optional<Millis> CallTracker::BlockDeadline() const {
  if (!call_.active || call_.announced || announcer_ != kIdle || !call_.number) return std::nullopt;
  if (call_.ringAfterNumber || call_.complete) return std::nullopt;
  return call_.lastCallerId + settings_.blockComplete;
}

std::optional<Millis> CallTracker::NextDeadline() const {
  std::optional<Millis> next;
  auto consider = [&next](std::optional<Millis> t) {
    if (t && (!next || *t < *next)) next = t;
  };
  if (call_.active) consider(call_.lastActivity + settings_.ringTimeout);
  consider(BlockDeadline());
  if (announcer_ == kEnding && !terminated_) consider(endingSince_ + settings_.terminateAfter);
  return next;
}

}  // namespace annc
