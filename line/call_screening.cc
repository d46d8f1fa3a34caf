#include "line/call_screening.h"

#include <optional>
#include <string>
#include <vector>

namespace annc {

bool CallScreening::Announce(const Action& action, Millis now, ScreeningOutcome* outcome) {
  *outcome = ScreeningOutcome{};
  if (screener_ != nullptr && screener_->Active()) {
    ScreenedCall call{action.raw, action.name.empty() ? std::nullopt : std::optional<std::string>(action.name)};
    std::vector<std::string> status;
    Decision decision = screener_->Screen(call, now, clock_ != nullptr ? clock_->MinuteOfDay() : 0, &status);
    outcome->kind = decision.kind;
    outcome->cause = decision.cause;
    for (const std::string& line : status) output_.Status(line);
    if (dryRun_) {
      Decision shown = decision;
      if (shown.kind == Decision::kAnnounce) shown.rule = shown.rule.empty() ? "announce" : "announce, " + shown.rule;
      output_.Print("decision: " + StatusLine(call, shown, charset_));
      return false;
    }
    if (decision.kind != Decision::kAnnounce) {
      // The hang-up first: the log line may wait for its lock.
      bool hungUp = decision.kind == Decision::kBlock && hangUp_ && hangUp_();
      outcome->hungUp = hungUp;
      output_.Status(StatusLine(call, decision, charset_) + (hungUp ? "; hung up" : ""));
      logger_.Log(LogLetter(decision), LogMessage(call, decision, charset_));
      return false;
    }
    if (!decision.rule.empty()) output_.Status("call from " + action.number + ": " + decision.rule);
  }
  if (dryRun_) {
    output_.Print("decision: call from " + CallerText(action.number, action.name, charset_) + ": announce");
    return false;
  }
  return true;
}

}  // namespace annc
