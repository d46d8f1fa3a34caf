#include "line/launcher.h"

#include <algorithm>

#include "line/calls/caller_number.h"
#include "line/screening/screening.h"
#include "platform/errors.h"
#include "text/terminal_text.h"

namespace annc {
namespace {

// annc's exit code for an unhandled error (its report is on its screen).
constexpr int kAnncFailed = 1;

}  // namespace

Launcher::Launcher(LauncherSettings settings, Announcers& announcers, CallLog& log, StatusOutput& output,
                   PhoneBookLookup book)
    : settings_(std::move(settings)),
      output_(output),
      tracker_(settings_.tracker),
      process_(announcers, output),
      logger_(settings_.logFile, settings_.charset, log, output, book),
      screening_(output, logger_, settings_.charset) {
  book_ = std::move(book);
  out_.event = [this](const CallEvent& event) { Apply(tracker_.OnEvent(event, now_), now_); };
  out_.line = [](std::string_view) {};
  out_.status = [this](const std::string& text) { output_.Status(text); };
  out_.service = [this](const std::string& status, bool ready) { output_.Service(status, ready); };
}

SourceOutput Launcher::OutputOf(int source) {
  SourceOutput out = out_;
  out.event = [this, source](const CallEvent& event) {
    CallEvent own = event;
    own.source = source;
    Apply(tracker_.OnEvent(own, now_), now_);
  };
  return out;
}

void Launcher::SetScreener(Screener* screener, Clock* clock, std::function<bool()> hangUp, int hangUpSource) {
  hangUpSource_ = hangUpSource;
  std::function<bool()> ours;
  if (hangUp) ours = [this, hangUp = std::move(hangUp)] { return deciding_ == hangUpSource_ && hangUp(); };
  screening_.SetScreener(screener, clock, std::move(ours));
}

LauncherSettings::RecordSource Launcher::SourceOf(int source) const {
  if (source >= 0 && static_cast<std::size_t>(source) < settings_.sources.size()) {
    return settings_.sources[static_cast<std::size_t>(source)];
  }
  return LauncherSettings::RecordSource{settings_.source, settings_.answersKnown};
}

void Launcher::Reap(Millis now) {
  now_ = now;
  if (names_ != nullptr) names_->Reap();
  for (CallSink* sink : sinks_) sink->Reap(now);
  AnnouncerExit exit;
  if (!process_.Reaped(&exit)) return;
  Apply(tracker_.OnAnnouncerExited(exit, now), now);
  if (exit.kind == AnnouncerExit::kExited && exit.code == kAnncFailed) Diagnose();
}

void Launcher::Diagnose() {
  if (!diagnose_) return;
  std::optional<std::string> problem = diagnose_();
  std::string text = problem ? "the announcer fails: " + *problem
                             : std::string("the announcer failed; its report is on the console");
  if (diagnosed_.insert(text).second) output_.Status(text);
}

bool Launcher::Fatal() const {
  return std::any_of(sinks_.begin(), sinks_.end(), [](const CallSink* sink) { return sink->Fatal(); });
}

std::optional<Millis> Launcher::NextDeadline() const {
  std::optional<Millis> next = tracker_.NextDeadline();
  if (std::optional<Millis> t = process_.NextDeadline(); t && (!next || *t < *next)) next = t;
  for (const CallSink* sink : sinks_) {
    if (std::optional<Millis> t = sink->NextDeadline(); t && (!next || *t < *next)) next = t;
  }
  return next;
}

void Launcher::OnTimer(Millis now) {
  now_ = now;
  process_.OnTimer(now);
  Apply(tracker_.OnTimer(now), now);
  for (CallSink* sink : sinks_) sink->OnTimer(now);
}

void Launcher::AddWatches(std::vector<Watch>* watches) const {
  for (const CallSink* sink : sinks_) sink->AddWatches(watches);
}

void Launcher::OnReady(const std::vector<Watch>& watches, Millis now) {
  for (CallSink* sink : sinks_) sink->OnReady(watches, now);
}

void Launcher::Apply(const Actions& actions, Millis now) {
  for (const Action& action : actions) {
    switch (action.kind) {
      case Action::kStatus:
        output_.Status(action.text);
        break;
      case Action::kStartAnnouncer:
        StartAnnouncer(action, now);
        break;
      case Action::kEndAnnouncement:
        process_.EndAnnouncement(now);
        break;
      case Action::kTerminateAnnouncer:
        process_.Terminate(now);
        break;
      case Action::kLogCall:
        logger_.LogUnannounced(action.number);
        Decided(action.facts, ScreeningOutcome{}, false, now);
        // A call the tracker could not follow ends with its record.
        if (action.facts.call < 0) Over(action.facts, now);
        break;
      case Action::kStoppedByKey:
        if (auto it = open_.find(action.facts.call); it != open_.end()) it->second.stoppedByKey = true;
        break;
      case Action::kCallOver:
        Over(action.facts, now);
        break;
    }
  }
}

void Launcher::NotStarted(int error, Millis now) {
  Apply(tracker_.OnAnnouncerExited(AnnouncerExit{AnnouncerExit::kNotStarted, error}, now), now);
}

void Launcher::StartAnnouncer(const Action& action, Millis now) {
  ScreeningOutcome outcome;
  deciding_ = action.facts.source;
  if (!screening_.Announce(action, now, &outcome)) {
    Decided(action.facts, outcome, false, now);
    NotStarted(0, now);
    return;
  }
  std::vector<std::string> args;
  if (!settings_.log.empty()) args.push_back("/L:" + settings_.log);
  if (names_ != nullptr) {
    // Before the announcer's pseudo-terminal exists: a synthesis child
    // never holds it.
    if (std::string recording = names_->Start(action.number, action.name); !recording.empty()) {
      args.push_back("/N:" + recording);
    }
  }
  int error = process_.Start(settings_.annc, action.number, args);
  // The announcer first: what the sinks do comes after its start.
  Decided(action.facts, outcome, error == 0, now);
  if (error != 0) {
    output_.Status(CannotText("start " + CaretNotation(settings_.annc, "", settings_.charset), error));
    NotStarted(error, now);
  }
}

CallRecord Launcher::NewRecord(const CallFacts& facts, Millis now) {
  CallRecord record;
  std::int64_t wall = wallClock_ != nullptr ? wallClock_->WallMicros() : 0;
  // Ids are the calendar's microseconds, and always go up: a clock set back
  // cannot make one twice.
  record.id = std::max(wall, lastId_ + 1);
  lastId_ = record.id;
  std::int64_t began = (wall - (now - std::min(facts.began, now)) * 1000) / 1000000;
  record.time = IsoLocalTime(static_cast<std::time_t>(began));
  record.startedAt = began;
  record.source = SourceOf(facts.source).text;
  record.line = RecordText(facts.lineLabel.empty() ? facts.line : facts.lineLabel, settings_.charset);
  record.called = RecordText(facts.called, settings_.charset);
  ScreenedCall screened{facts.hasNumber ? std::optional<std::string>(facts.number) : std::nullopt, std::nullopt};
  record.withheld = ScreeningNumber(screened) == "WITHHELD";
  std::string number = AnnouncerArgument(facts.number);
  record.number = record.withheld || number == "Unknown" ? std::string() : RecordText(number, settings_.charset);
  record.networkName = RecordText(facts.name, settings_.charset);
  std::optional<std::string> booked;
  if (!record.number.empty() && book_) booked = book_(record.number);
  if (booked && !booked->empty()) {
    record.name = RecordText(*booked, settings_.charset);
    record.nameSource = "book";
  } else if (!facts.name.empty()) {
    record.name = record.networkName;
    record.nameSource = "network";
  }
  record.rings = facts.rings;
  return record;
}

void Launcher::Decided(const CallFacts& facts, const ScreeningOutcome& outcome, bool announced, Millis now) {
  if (dryRun_ || sinks_.empty()) return;
  CallRecord record = NewRecord(facts, now);
  record.decision = outcome.kind == Decision::kBlock ? "block" : outcome.kind == Decision::kQuiet ? "quiet" : "announce";
  record.rule = outcome.cause;
  record.hungUp = outcome.hungUp;
  record.announced = announced;
  for (CallSink* sink : sinks_) sink->CallDecided(record, now);
  open_[facts.call] = std::move(record);
}

void Launcher::Over(const CallFacts& facts, Millis now) {
  if (dryRun_ || sinks_.empty()) return;
  auto it = open_.find(facts.call);
  if (it == open_.end()) {
    // A call that ended before it was ever ready (a ring or two, no
    // number): still a call somebody made.
    if (!facts.counted) return;
    Decided(facts, ScreeningOutcome{}, false, now);
    it = open_.find(facts.call);
    if (it == open_.end()) return;
  }
  CallRecord record = std::move(it->second);
  open_.erase(it);
  std::int64_t ended = (wallClock_ != nullptr ? wallClock_->WallMicros() : 0) / 1000000;
  record.ended = IsoLocalTime(static_cast<std::time_t>(ended));
  record.duration = std::max<std::int64_t>(0, ended - record.startedAt);
  record.rings = std::max(record.rings, facts.rings);
  if (facts.end == CallFacts::kAnswered) {
    record.answered = true;
  } else if (SourceOf(facts.source).answersKnown && facts.end == CallFacts::kEnded) {
    record.answered = false;
  }
  for (CallSink* sink : sinks_) sink->CallEnded(record, now);
}

void Launcher::Stop(EventLoop& loop) {
  if (names_ != nullptr) names_->Cancel();
  process_.Stop(loop);
  for (CallSink* sink : sinks_) sink->Stop();
}

}  // namespace annc
