// A caller-ID modem as a source of calls: the port is locked, opened and
// set up by the AT dialogue, its lines become call events; when it is
// unplugged it is closed, and opened and set up again every 2 s until it is
// back. Every wait is the event loop's.
#ifndef ANNC_LINE_MODEM_SOURCE_H_
#define ANNC_LINE_MODEM_SOURCE_H_

#include <string>
#include <vector>

#include "line/sources/call_source.h"
#include "line/sources/line_reader.h"
#include "line/sources/modem/modem_dialogue.h"
#include "posix/line_system.h"
#include "text/terminal_text.h"

namespace annc {

// What a modem source is told: its port and its set-up.
struct ModemSettings {
  std::string device;
  int speed = 115200;
  std::vector<std::string> init;  // --init commands, sent after the reset
  std::string lockDir = "/var/lock";
  Charset charset = Charset::kSingleByte;  // the locale's, for status lines
};

class ModemSource : public CallSource {
 public:
  static constexpr Millis kRetryMs = 2000;
  // Modem lines are cut at this length.
  static constexpr std::size_t kMaxLine = 256;

  ModemSource(ModemSettings settings, ModemPorts& ports) : settings_(std::move(settings)), ports_(ports) {}
  ~ModemSource() override { Close(); }
  ModemSource(const ModemSource&) = delete;
  ModemSource& operator=(const ModemSource&) = delete;

  void Begin(Millis now, const SourceOutput& out) override;
  Startup startup() const override { return startup_; }
  std::string FailureText() const override { return failure_; }

  // Once set up: sends one command and collects its answer (--check).
  void RunCommand(std::string command, Millis now);
  // Hangs the call up that rings now (ATH1, hold, ATH0), in the loop's own
  // time. False when the modem is not ready for it (being set up, or away).
  bool HangUp(Millis now);
  // A hang-up is under way (the modem is off hook).
  bool HangingUp() const { return state_ == kHangingUp; }
  bool CommandBusy() const { return state_ == kCommand; }
  const ModemAnswer& answer() const { return dialogue_.answer(); }
  // The caller-ID command the modem took at its last set-up; empty when none.
  const std::string& callerIdCommand() const { return callerIdCommand_; }

  int handle() const override { return handle_; }
  std::optional<Millis> NextDeadline() const override;
  void OnReady(Millis now, const SourceOutput& out) override;
  void OnTimer(Millis now, const SourceOutput& out) override;

 private:
  enum State { kClosed, kSettingUp, kReady, kCommand, kHangingUp };

  void Open(Millis now, const SourceOutput& out);
  void Follow(const DialogueOutput& step, Millis now, const SourceOutput& out);
  void SetUpDone(Millis now, const SourceOutput& out);
  void Lost(Millis now, const SourceOutput& out);
  void Failed(std::string why, Millis now);
  void Deliver(std::string_view line, const SourceOutput& out);
  void Close();

  ModemSettings settings_;
  ModemPorts& ports_;
  State state_ = kClosed;
  Startup startup_ = kStarting;
  std::string failure_;
  int handle_ = -1;
  LineReader reader_{kMaxLine};
  ModemDialogue dialogue_;
  std::string callerIdCommand_;
  Millis nextAttempt_ = 0;
};

}  // namespace annc

#endif  // ANNC_LINE_MODEM_SOURCE_H_
