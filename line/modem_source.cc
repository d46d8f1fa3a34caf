#include "line/modem_source.h"

#include <cstring>

#include "line/line_classifier.h"
#include "text/terminal_text.h"

namespace annc {

ModemSetup ModemSource::OpenAtStart(const SourceOutput& out) {
  ModemSetup setup = port_.Open();
  if (setup.kind == ModemSetup::kReady) Ready(setup, out);
  return setup;
}

std::string ModemSource::FailureText(const ModemSetup& setup) const {
  std::string text = CaretNotation(options_.device, "") + ": ";
  switch (setup.kind) {
    case ModemSetup::kInUse:
      if (setup.owner > 0) return text + "in use by process " + std::to_string(setup.owner);
      return text + "in use by another program";
    case ModemSetup::kLockFailed:
      return text + "cannot make the lock file in " + CaretNotation(options_.lockDir, "") + ": " +
             std::strerror(setup.error);
    case ModemSetup::kNoAnswer:
      return text + "the modem answers nothing to ATZ";
    case ModemSetup::kLost:
      return text + "the device went away while the modem was being set up";
    case ModemSetup::kOpenFailed:
      return text + "cannot " + setup.step + ": " + std::strerror(setup.error);
    case ModemSetup::kReady:
    case ModemSetup::kInterrupted:
      break;
  }
  return text;
}

void ModemSource::Ready(const ModemSetup& setup, const SourceOutput& out) {
  std::string device = CaretNotation(options_.device, "");
  for (const std::string& warning : setup.warnings) out.status(device + ": " + CaretNotation(warning, ""));
  if (setup.callerIdCommand.empty()) {
    out.status("modem ready on " + device +
               ", but it refused AT+VCID=1, AT#CID=1 and AT%CCID=1: calls will be announced as Unknown");
  } else {
    out.status("modem ready on " + device + " (" + setup.callerIdCommand + ")");
  }
  waiting_ = false;
  port_.TakeLeftover([&](std::string_view line) { Deliver(line, out); });
}

std::optional<Millis> ModemSource::NextAttempt() const {
  if (!waiting_) return std::nullopt;
  return nextAttempt_;
}

void ModemSource::Deliver(std::string_view line, const SourceOutput& out) {
  out.line(line);
  ClassifiedLine classified = ClassifyLine(line);
  for (const std::string& warning : classified.warnings) out.status("caller-ID packet: " + CaretNotation(warning, ""));
  for (const CallEvent& event : ModemCallEvents(std::move(classified))) out.event(event);
}

void ModemSource::OnReady(Millis now, const SourceOutput& out) {
  if (port_.ReadLines([&](std::string_view line) { Deliver(line, out); })) return;
  port_.Close();
  waiting_ = true;
  nextAttempt_ = now + kRetryMs;
  out.status("modem unplugged, waiting for it");
  out.event(CallEvent{CallEvent::kSourceLost, {}, {}});
}

void ModemSource::OnTimer(Millis now, const SourceOutput& out) {
  if (!waiting_ || now < nextAttempt_) return;
  ModemSetup setup = port_.Open();
  if (setup.kind == ModemSetup::kReady) {
    Ready(setup, out);
    return;
  }
  // Not back yet (or not answering, or taken by another program): quietly
  // try again later.
  nextAttempt_ = now + kRetryMs;
}

}  // namespace annc
