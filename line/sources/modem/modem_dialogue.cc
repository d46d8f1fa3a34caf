#include "line/sources/modem/modem_dialogue.h"

#include "line/sources/modem/line_classifier.h"
#include "text/caseless.h"

namespace annc {
namespace {

constexpr const char* kCallerIdCommands[] = {"AT+VCID=1", "AT#CID=1", "AT%CCID=1"};
constexpr std::size_t kCallerIdCount = sizeof kCallerIdCommands / sizeof kCallerIdCommands[0];

// An init command that sets the caller-ID mode itself (AT+VCID=2 for the
// raw packet, say): once the modem took it, annc-line leaves the mode alone.
bool SetsCallerIdMode(std::string_view command) {
  for (std::string_view prefix : {"AT+VCID=", "AT#CID=", "AT%CCID="}) {
    if (command.size() > prefix.size() && SameAsciiIgnoringCase(command.substr(0, prefix.size()), prefix)) return true;
  }
  return false;
}

// A line a call gives, which must reach the call tracker even while the
// modem answers a command.
bool BelongsToCall(ClassifiedLine::Kind kind) {
  switch (kind) {
    case ClassifiedLine::kRing:
    case ClassifiedLine::kNumber:
    case ClassifiedLine::kName:
    case ClassifiedLine::kCallerIdInfo:
    case ClassifiedLine::kPacket:
    case ClassifiedLine::kNoCarrier:
      return true;
    case ClassifiedLine::kIgnored:
    case ClassifiedLine::kOk:
    case ClassifiedLine::kError:
      break;
  }
  return false;
}

}  // namespace

DialogueOutput ModemDialogue::BeginSetup(std::vector<std::string> init, Millis now) {
  DialogueOutput out;
  mode_ = kSetup;
  phase_ = kReset;
  resets_ = 1;
  setup_ = ModemSetupResult{};
  commands_ = {"ATE0V1Q0"};
  commands_.insert(commands_.end(), init.begin(), init.end());
  next_ = 0;
  Send("ATZ", true, now, &out);
  return out;
}

DialogueOutput ModemDialogue::BeginCommand(std::string command, Millis now) {
  DialogueOutput out;
  mode_ = kCommand;
  Send(std::move(command), false, now, &out);
  return out;
}

DialogueOutput ModemDialogue::BeginHangUp(Millis now) {
  DialogueOutput out;
  mode_ = kHangUp;
  hangUp_ = kOffHook;
  Send("ATH1", false, now, &out);
  return out;
}

void ModemDialogue::Send(std::string command, bool numeric, Millis now, DialogueOutput* out) {
  command_ = std::move(command);
  numeric_ = numeric;
  deadline_ = now + kAnswerMs;
  answer_ = ModemAnswer{};
  out->send.push_back(command_);
}

std::optional<Millis> ModemDialogue::Deadline() const {
  if (mode_ == kIdle) return std::nullopt;
  return deadline_;
}

DialogueOutput ModemDialogue::OnLine(std::string_view line, Millis now) {
  DialogueOutput out;
  if (mode_ == kIdle) {
    out.handOn.emplace_back(line);
    return out;
  }
  if (line == command_) return out;  // the modem's echo, until ATE0 has switched it off
  if (mode_ == kHangUp && hangUp_ == kHolding) {
    // Off hook, waiting: a call's lines still go on, nothing is an answer.
    ClassifiedLine held = ClassifyLine(line);
    if (BelongsToCall(held.kind)) out.handOn.emplace_back(line);
    return out;
  }
  ClassifiedLine classified = ClassifyLine(line);
  if (classified.kind == ClassifiedLine::kOk || (numeric_ && line == "0")) {
    answer_.kind = ModemAnswer::kOk;
    Answered(now, &out);
  } else if (classified.kind == ClassifiedLine::kError || (numeric_ && line == "4")) {
    answer_.kind = ModemAnswer::kError;
    Answered(now, &out);
  } else if (BelongsToCall(classified.kind)) {
    out.handOn.emplace_back(line);
  } else if (answer_.lines.size() < kMaxAnswerLines) {
    answer_.lines.emplace_back(line);
  }
  return out;
}

DialogueOutput ModemDialogue::OnTimer(Millis now) {
  DialogueOutput out;
  if (mode_ == kIdle || now < deadline_) return out;
  if (mode_ == kHangUp && hangUp_ == kHolding) {
    hangUp_ = kOnHook;
    Send("ATH0", false, now, &out);
    return out;
  }
  answer_.kind = ModemAnswer::kNone;
  Answered(now, &out);
  return out;
}

void ModemDialogue::HangUpAnswered(Millis now, DialogueOutput* out) {
  switch (hangUp_) {
    case kOffHook:
      hangUp_ = kHolding;
      deadline_ = now + kHoldMs;
      return;
    case kOnHook:
      if (answer_.kind != ModemAnswer::kOk) {
        hangUp_ = kAttention;
        Send("AT", false, now, out);
        return;
      }
      break;
    case kAttention:
      hangUp_ = kOnHookAgain;
      Send("ATH0", false, now, out);
      return;
    case kHolding:
    case kOnHookAgain:
      break;
  }
  mode_ = kIdle;
  out->finished = true;
}

void ModemDialogue::Answered(Millis now, DialogueOutput* out) {
  if (mode_ == kHangUp) {
    HangUpAnswered(now, out);
    return;
  }
  if (mode_ == kCommand) {
    mode_ = kIdle;
    out->finished = true;
    return;
  }
  switch (phase_) {
    case kReset:
      if (answer_.kind == ModemAnswer::kNone) {
        if (resets_ < 2) {
          ++resets_;
          Send("ATZ", true, now, out);
          return;
        }
        mode_ = kIdle;
        out->finished = true;
        return;
      }
      setup_.answered = true;
      phase_ = kInit;
      break;
    case kInit: {
      const std::string& command = commands_[next_ - 1];
      if (answer_.kind == ModemAnswer::kError) setup_.warnings.push_back("the modem refused " + command);
      if (answer_.kind == ModemAnswer::kNone) setup_.warnings.push_back("no answer to " + command);
      if (answer_.kind == ModemAnswer::kOk && SetsCallerIdMode(command)) setup_.callerIdCommand = command;
      break;
    }
    case kCallerId:
      if (answer_.kind == ModemAnswer::kOk) setup_.callerIdCommand = kCallerIdCommands[next_ - 1];
      break;
  }
  NextSetupCommand(now, out);
}

void ModemDialogue::NextSetupCommand(Millis now, DialogueOutput* out) {
  if (phase_ == kInit && next_ < commands_.size()) {
    Send(commands_[next_++], false, now, out);
    return;
  }
  if (phase_ == kInit) {
    phase_ = kCallerId;
    next_ = 0;
  }
  if (setup_.callerIdCommand.empty() && next_ < kCallerIdCount) {
    Send(kCallerIdCommands[next_++], false, now, out);
    return;
  }
  mode_ = kIdle;
  out->finished = true;
}

}  // namespace annc
