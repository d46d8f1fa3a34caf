#include "line/sources/modem/modem_source.h"

#include <cerrno>
#include <cstring>

#include "line/sources/modem/line_classifier.h"
#include "platform/errors.h"
#include "text/terminal_text.h"

namespace annc {

void ModemSource::Begin(Millis now, const SourceOutput& out) { Open(now, out); }

void ModemSource::Open(Millis now, const SourceOutput& out) {
  Close();
  std::string device = CaretNotation(settings_.device, "", settings_.charset) + ": ";
  PortOpening opening = ports_.Open(settings_.device, settings_.speed, settings_.lockDir);
  switch (opening.kind) {
    case PortOpening::kOpen:
      break;
    case PortOpening::kInUse:
      Failed(device + (opening.owner > 0 ? "in use by process " + std::to_string(opening.owner)
                                         : std::string("in use by another program")),
             now);
      return;
    case PortOpening::kLockFailed:
      Failed(device + CannotText("make the lock file in " + CaretNotation(settings_.lockDir, "", settings_.charset),
                                 opening.error),
             now);
      return;
    case PortOpening::kOpenFailed:
      if (opening.error == ENOTTY) {
        Failed(device + "not a serial port", now);
      } else {
        Failed(device + CannotText(opening.step, opening.error), now);
      }
      return;
  }
  handle_ = opening.handle;
  reader_.Reset();
  ports_.DiscardInput(handle_);
  state_ = kSettingUp;
  Follow(dialogue_.BeginSetup(settings_.init, now), now, out);
}

// Writes what the dialogue says and hands on the lines of a call.
void ModemSource::Follow(const DialogueOutput& step, Millis now, const SourceOutput& out) {
  for (const std::string& line : step.handOn) Deliver(line, out);
  for (const std::string& command : step.send) {
    if (!ports_.Write(handle_, command + "\r")) {
      Lost(now, out);
      return;
    }
  }
  if (!step.finished) return;
  if (state_ == kSettingUp) {
    SetUpDone(now, out);
  } else if (state_ == kCommand || state_ == kHangingUp) {
    state_ = kReady;
  }
}

void ModemSource::SetUpDone(Millis now, const SourceOutput& out) {
  const ModemSetupResult& setup = dialogue_.setup();
  if (!setup.answered) {
    Failed(CaretNotation(settings_.device, "", settings_.charset) +
               ": the modem answers nothing to ATZ; check the speed (--speed), the cable, and that this device is "
               "the modem",
           now);
    return;
  }
  state_ = kReady;
  startup_ = kStarted;
  callerIdCommand_ = setup.callerIdCommand;
  std::string device = CaretNotation(settings_.device, "", settings_.charset);
  for (const std::string& warning : setup.warnings)
    out.status(device + ": " + CaretNotation(warning, "", settings_.charset));
  out.service(setup.callerIdCommand.empty() ? "modem ready, no caller-ID command accepted"
                                             : "modem ready, caller ID by " + setup.callerIdCommand,
              true);
  if (setup.callerIdCommand.empty()) {
    out.status("modem ready on " + device +
               ", but it refused AT+VCID=1, AT#CID=1 and AT%CCID=1: calls will be announced as Unknown");
  } else {
    out.status("modem ready on " + device + " (" + setup.callerIdCommand + ")");
  }
}

// The first opening failing ends annc-line; later ones are tried again,
// quietly, until the modem is back.
void ModemSource::Failed(std::string why, Millis now) {
  Close();
  if (startup_ == kStarting) {
    startup_ = kFailed;
    failure_ = std::move(why);
    return;
  }
  nextAttempt_ = now + kRetryMs;
}

void ModemSource::Lost(Millis now, const SourceOutput& out) {
  if (startup_ == kStarting) {
    Failed(CaretNotation(settings_.device, "", settings_.charset) +
               ": the device went away while the modem was being set up",
           now);
    return;
  }
  // Said when a modem that was set up goes; not again for each attempt
  // that finds it still away, or loses it during its set-up.
  bool wasReady = state_ == kReady || state_ == kCommand || state_ == kHangingUp;
  Close();
  nextAttempt_ = now + kRetryMs;
  if (wasReady) {
    out.status("modem unplugged, waiting for it");
    out.service("waiting for the modem", false);
  }
  out.event(CallEvent{CallEvent::kSourceLost, {}, {}});
}

bool ModemSource::HangUp(Millis now) {
  if (state_ != kReady) return false;
  state_ = kHangingUp;
  SourceOutput none{[](const CallEvent&) {}, [](std::string_view) {}, [](const std::string&) {}};
  Follow(dialogue_.BeginHangUp(now), now, none);
  return handle_ >= 0;
}

void ModemSource::RunCommand(std::string command, Millis now) {
  if (state_ != kReady) return;
  state_ = kCommand;
  SourceOutput none{[](const CallEvent&) {}, [](std::string_view) {}, [](const std::string&) {}};
  Follow(dialogue_.BeginCommand(std::move(command), now), now, none);
}

std::optional<Millis> ModemSource::NextDeadline() const {
  if (state_ == kClosed) {
    if (startup_ != kStarted) return std::nullopt;
    return nextAttempt_;
  }
  return dialogue_.Deadline();
}

void ModemSource::Deliver(std::string_view line, const SourceOutput& out) {
  out.line(line);
  ClassifiedLine classified = ClassifyLine(line);
  for (const std::string& warning : classified.warnings)
    out.status("caller-ID packet: " + CaretNotation(warning, "", settings_.charset));
  for (const CallEvent& event : ModemCallEvents(std::move(classified))) out.event(event);
}

void ModemSource::OnReady(Millis now, const SourceOutput& out) {
  if (handle_ < 0) return;
  char buffer[kMaxLine];
  ReadResult read = ports_.Read(handle_, buffer, sizeof buffer);
  if (read.Nothing()) return;
  if (read.n <= 0) {
    Lost(now, out);
    return;
  }
  reader_.Feed(std::string_view(buffer, static_cast<std::size_t>(read.n)), [&](std::string_view line) {
    if (handle_ < 0) return;  // lost while an earlier line's command was written
    if (dialogue_.Busy()) {
      Follow(dialogue_.OnLine(line, now), now, out);
    } else {
      Deliver(line, out);
    }
  });
}

void ModemSource::OnTimer(Millis now, const SourceOutput& out) {
  if (state_ == kClosed) {
    if (startup_ == kStarted && now >= nextAttempt_) Open(now, out);
    return;
  }
  if (dialogue_.Busy()) Follow(dialogue_.OnTimer(now), now, out);
}

void ModemSource::Close() {
  // Never left off hook: a hang-up cut short still puts the line back.
  if (handle_ >= 0 && state_ == kHangingUp) (void)ports_.Write(handle_, "ATH0\r");
  if (handle_ >= 0) ports_.Close(handle_);
  handle_ = -1;
  reader_.Reset();
  state_ = kClosed;
}

}  // namespace annc
