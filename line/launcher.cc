#include "line/launcher.h"

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
      logger_(settings_.logFile, settings_.charset, log, output, std::move(book)),
      screening_(output, logger_, settings_.charset) {
  out_.event = [this](const CallEvent& event) { Apply(tracker_.OnEvent(event, now_), now_); };
  out_.line = [](std::string_view) {};
  out_.status = [this](const std::string& text) { output_.Status(text); };
  out_.service = [this](const std::string& status, bool ready) { output_.Service(status, ready); };
}

void Launcher::Reap(Millis now) {
  now_ = now;
  if (names_ != nullptr) names_->Reap();
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

std::optional<Millis> Launcher::NextDeadline() const {
  std::optional<Millis> next = tracker_.NextDeadline();
  if (std::optional<Millis> t = process_.NextDeadline(); t && (!next || *t < *next)) next = t;
  return next;
}

void Launcher::OnTimer(Millis now) {
  now_ = now;
  process_.OnTimer(now);
  Apply(tracker_.OnTimer(now), now);
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
        break;
    }
  }
}

void Launcher::NotStarted(int error, Millis now) {
  Apply(tracker_.OnAnnouncerExited(AnnouncerExit{AnnouncerExit::kNotStarted, error}, now), now);
}

void Launcher::StartAnnouncer(const Action& action, Millis now) {
  if (!screening_.Announce(action, now)) {
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
  if (int error = process_.Start(settings_.annc, action.number, args); error != 0) {
    output_.Status(CannotText("start " + CaretNotation(settings_.annc, "", settings_.charset), error));
    NotStarted(error, now);
  }
}

void Launcher::Stop(EventLoop& loop) {
  if (names_ != nullptr) names_->Cancel();
  process_.Stop(loop);
}

}  // namespace annc
