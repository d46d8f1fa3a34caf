#include "line/launcher.h"

#include <signal.h>

#include <cstring>

#include "platform/errors.h"
#include "book/phone_book_text.h"
#include "line/start_check.h"
#include "text/terminal_text.h"

namespace annc {
namespace {

// "5551234 (ANN LEE)": a call as status lines name it.
std::string Caller(const std::string& number, const std::string& name, Charset charset) {
  return name.empty() ? number : number + " (" + CaretNotation(name, "", charset) + ")";
}

// The line that tells annc the call has ended.
constexpr char kNoCarrier[] = "NO CARRIER\r\n";
// annc's exit code for a result code on its modem line.
constexpr int kAnncModemResult = 99;
// annc's exit code for an unhandled error (its report is on its screen).
constexpr int kAnncFailed = 1;

}  // namespace

Launcher::Launcher(const LineOptions& options, std::string logFile, Announcers& announcers, CallLog& log,
                   StatusOutput& output)
    : options_(options),
      logFile_(std::move(logFile)),
      announcers_(announcers),
      log_(log),
      output_(output),
      tracker_(TrackerSettings{options.ringTimeoutMs, TrackerSettings::kDefaultBlockComplete,
                               TrackerSettings::kDefaultTerminateAfter,
                               options.fritz ? kFritzHoldBackMs : TrackerSettings::kDefaultHoldBack, options.charset}) {
  out_.event = [this](const CallEvent& event) { Apply(tracker_.OnEvent(event, now_), now_); };
  out_.line = [](std::string_view) {};
  out_.status = [this](const std::string& text) { output_.Status(text); };
  out_.service = [this](const std::string& status, bool ready) { output_.Service(status, ready); };
}

bool Launcher::Reaped(AnnouncerExit* exit) {
  if (!running_) return false;
  ChildEnd end;
  if (!announcers_.Reap(&end)) return false;
  running_ = false;
  noCarrierAgain_.reset();
  killAt_.reset();
  exit->kind = end.exited ? AnnouncerExit::kExited : AnnouncerExit::kSignalled;
  exit->code = end.exited ? end.code : end.signal;
  if (!end.exited) announcers_.RestoreConsole();
  // annc echoes the modem's line that ended it, CR and all.
  if (end.exited && end.code == kAnncModemResult) output_.AnnouncerLeftLine();
  return true;
}

void Launcher::Reap(Millis now) {
  now_ = now;
  if (names_ != nullptr) names_->Reap();
  AnnouncerExit exit;
  if (!Reaped(&exit)) return;
  Apply(tracker_.OnAnnouncerExited(exit, now), now);
  if (exit.kind == AnnouncerExit::kExited && exit.code == kAnncFailed && diagnose_) {
    std::optional<std::string> problem = diagnose_();
    std::string text = problem ? "the announcer fails: " + *problem
                               : std::string("the announcer failed; its report is on the console");
    if (diagnosed_.insert(text).second) output_.Status(text);
  }
}

std::optional<Millis> Launcher::NextDeadline() const {
  std::optional<Millis> next = tracker_.NextDeadline();
  for (const std::optional<Millis>& t : {noCarrierAgain_, killAt_}) {
    if (t && (!next || *t < *next)) next = t;
  }
  return next;
}

void Launcher::OnTimer(Millis now) {
  now_ = now;
  if (running_ && killAt_ && now >= *killAt_) {
    killAt_.reset();
    output_.Status("announcer did not end after SIGTERM: killing it");
    announcers_.Signal(SIGKILL);
  }
  if (running_ && noCarrierAgain_ && now >= *noCarrierAgain_) {
    announcers_.WriteLine(kNoCarrier);
    noCarrierAgain_ = now + kNoCarrierAgainMs;
  }
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
        announcers_.WriteLine(kNoCarrier);
        if (running_) noCarrierAgain_ = now + kNoCarrierAgainMs;
        break;
      case Action::kTerminateAnnouncer:
        announcers_.Signal(SIGTERM);
        if (running_) killAt_ = now + kKillAfterMs;
        break;
      case Action::kLogCall:
        // As annc would have written it: the phone book's name after " - ",
        // when the book has the number.
        std::string message = CaretNotation(action.number, "", options_.charset);
        PhoneBookText book;
        if (book.Read(SoundFolderOf(options_.annc) + "aon.db") == 0) {
          if (std::optional<std::string_view> name = FindNameInBook(book, action.number)) {
            message += " - " + CaretNotation(*name, "", options_.charset);
          }
        }
        if (int error = log_.Append(logFile_, ' ', message); error != 0) {
          output_.Status(CannotText("write the call to " + CaretNotation(logFile_, "", options_.charset), error));
        }
        break;
    }
  }
}

void Launcher::NotStarted(int error, Millis now) {
  Apply(tracker_.OnAnnouncerExited(AnnouncerExit{AnnouncerExit::kNotStarted, error}, now), now);
}

void Launcher::StartAnnouncer(const Action& action, Millis now) {
  if (screener_ != nullptr && screener_->Active()) {
    ScreenedCall call{action.raw, action.name.empty() ? std::nullopt : std::optional<std::string>(action.name)};
    std::vector<std::string> status;
    Decision decision = screener_->Screen(call, now, clock_ != nullptr ? clock_->MinuteOfDay() : 0, &status);
    for (const std::string& line : status) output_.Status(line);
    if (dryRun_) {
      Decision shown = decision;
      if (shown.kind == Decision::kAnnounce) shown.rule = shown.rule.empty() ? "announce" : "announce, " + shown.rule;
      output_.Print("decision: " + StatusLine(call, shown, options_.charset));
      NotStarted(0, now);
      return;
    }
    if (decision.kind != Decision::kAnnounce) {
      // The hang-up first: the log line may wait for its lock.
      bool hungUp = decision.kind == Decision::kBlock && hangUp_ && hangUp_();
      output_.Status(StatusLine(call, decision, options_.charset) + (hungUp ? "; hung up" : ""));
      if (int error = log_.Append(logFile_, LogLetter(decision), LogMessage(call, decision, options_.charset));
          error != 0) {
        output_.Status(CannotText("write the call to " + CaretNotation(logFile_, "", options_.charset), error));
      }
      NotStarted(0, now);
      return;
    }
    if (!decision.rule.empty()) output_.Status("call from " + action.number + ": " + decision.rule);
  }
  if (dryRun_) {
    output_.Print("decision: call from " + Caller(action.number, action.name, options_.charset) + ": announce");
    NotStarted(0, now);
    return;
  }
  std::vector<std::string> args;
  if (!options_.log.empty()) args.push_back("/L:" + options_.log);
  if (names_ != nullptr) {
    // Before the announcer's pseudo-terminal exists: a synthesis child
    // never holds it.
    if (std::string recording = names_->Start(action.number, action.name); !recording.empty()) {
      args.push_back("/N:" + recording);
    }
  }
  announcers_.DiscardTypedKeys();
  if (int error = announcers_.Start(options_.annc, action.number, args); error != 0) {
    output_.Status(CannotText("start " + CaretNotation(options_.annc, "", options_.charset), error));
    NotStarted(error, now);
  } else {
    running_ = true;
  }
}

void Launcher::Stop(EventLoop& loop) {
  if (names_ != nullptr) names_->Cancel();
  if (!running_) return;
  AnnouncerExit exit;
  announcers_.Signal(SIGTERM);
  for (int next : {SIGKILL, 0}) {
    Millis deadline = loop.Now() + kStopWaitMs;
    for (;;) {
      if (Reaped(&exit)) return;
      if (loop.Now() >= deadline) break;
      loop.WaitForChild(deadline);
    }
    if (next != 0) announcers_.Signal(next);
  }
}

}  // namespace annc
