// The AT dialogue with a caller-ID modem as a state machine: a command is
// sent, and its answer, or the end of the time given for one, moves the
// dialogue on. Pure: the modem source writes what it says to send, feeds in
// the modem's lines and the time, and hands on the lines that belong to a
// call (a ring or caller ID that comes while a command is answered).
#ifndef ANNC_LINE_MODEM_DIALOGUE_H_
#define ANNC_LINE_MODEM_DIALOGUE_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line/calls/call_tracker.h"

namespace annc {

// The answer to one AT command.
struct ModemAnswer {
  enum Kind { kOk, kError, kNone };
  Kind kind = kNone;
  std::vector<std::string> lines;  // what came before OK or ERROR, the echo left out
};

// How the set-up went: the modem answered the reset (kReady, even when it
// refused every caller-ID command), or it did not, twice.
struct ModemSetupResult {
  bool answered = false;
  std::string callerIdCommand;        // the one the modem accepted; empty when none
  std::vector<std::string> warnings;  // commands refused or unanswered
};

// What the dialogue asks for after each input.
struct DialogueOutput {
  std::vector<std::string> send;    // write each, then CR
  std::vector<std::string> handOn;  // lines of a call: for the call classifier
  bool finished = false;            // the set-up or the single command is over
};

class ModemDialogue {
 public:
  // Each command is answered within this time or not at all.
  static constexpr Millis kAnswerMs = 3000;
  // Lines kept of one answer.
  static constexpr std::size_t kMaxAnswerLines = 32;
  // How long a hung-up call is held off hook.
  static constexpr Millis kHoldMs = 2000;

  // The set-up: ATZ (once more when unanswered; "0" and "4" count as OK and
  // ERROR before V1 is set), ATE0V1Q0, every `init` command, then caller ID
  // on (AT+VCID=1, else AT#CID=1, else AT%CCID=1) unless an `init` command
  // that sets the caller-ID mode was accepted. setup() holds the outcome
  // once finished.
  DialogueOutput BeginSetup(std::vector<std::string> init, Millis now);
  // One command on its own (--check asks ATI, AT+GCI?); answer() holds the
  // answer once finished.
  DialogueOutput BeginCommand(std::string command, Millis now);
  // Hangs a call up: ATH1 (off hook: the exchange takes the call for
  // answered and cuts the caller off), `kHoldMs` later ATH0 (on hook); when
  // ATH0 gets no OK, AT and ATH0 once more.
  DialogueOutput BeginHangUp(Millis now);

  DialogueOutput OnLine(std::string_view line, Millis now);
  DialogueOutput OnTimer(Millis now);
  // When OnTimer has something to do, while a command waits.
  std::optional<Millis> Deadline() const;

  bool Busy() const { return mode_ != kIdle; }
  const ModemSetupResult& setup() const { return setup_; }
  const ModemAnswer& answer() const { return answer_; }

 private:
  enum Mode { kIdle, kSetup, kCommand, kHangUp };
  enum HangUpStep { kOffHook, kHolding, kOnHook, kAttention, kOnHookAgain };
  enum Phase { kReset, kInit, kCallerId };

  void Send(std::string command, bool numeric, Millis now, DialogueOutput* out);
  void Answered(Millis now, DialogueOutput* out);
  void NextSetupCommand(Millis now, DialogueOutput* out);

  void HangUpAnswered(Millis now, DialogueOutput* out);

  Mode mode_ = kIdle;
  HangUpStep hangUp_ = kOffHook;
  Phase phase_ = kReset;
  std::vector<std::string> commands_;  // kInit: ATE0V1Q0 and the init commands
  std::size_t next_ = 0;               // kInit, kCallerId: the next one to send
  int resets_ = 0;
  std::string command_;  // waiting for its answer
  bool numeric_ = false;
  Millis deadline_ = 0;
  ModemAnswer answer_;
  ModemSetupResult setup_;
};

}  // namespace annc

#endif  // ANNC_LINE_MODEM_DIALOGUE_H_
