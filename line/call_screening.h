// Whether a call the tracker would announce is announced: screening decides
// (a blocked call is hung up and logged, a quiet one logged), and --check
// only prints what would be decided.
#ifndef ANNC_LINE_CALL_SCREENING_H_
#define ANNC_LINE_CALL_SCREENING_H_

#include <functional>

#include "line/call_logger.h"
#include "line/calls/call_tracker.h"
#include "line/screening/screener.h"
#include "posix/line_system.h"

namespace annc {

// What screening decided for a call, as its record keeps it.
struct ScreeningOutcome {
  Decision::Kind kind = Decision::kAnnounce;
  std::string cause;  // the rule: "calls.block line 4"; empty when none
  bool hungUp = false;
};

class CallScreening {
 public:
  // `charset` is the locale's, for the callers' names in what is said.
  CallScreening(StatusOutput& output, CallLogger& logger, Charset charset)
      : output_(output), logger_(logger), charset_(charset) {}

  // Each call is decided by `screener` before it is announced; a blocked one
  // is hung up by `hangUp` (null: let it ring), which says whether it could.
  // `clock` gives the time of day for quiet hours.
  void SetScreener(Screener* screener, Clock* clock, std::function<bool()> hangUp) {
    screener_ = screener;
    clock_ = clock;
    hangUp_ = std::move(hangUp);
  }
  // --check: decisions are printed, nothing is hung up or logged, and no
  // call is announced.
  void SetDryRun(bool dryRun) { dryRun_ = dryRun; }

  // Whether the call of a kStartAnnouncer `action` is to be announced; what
  // was decided is said (and done) already, and told in *outcome.
  bool Announce(const Action& action, Millis now, ScreeningOutcome* outcome);

 private:
  StatusOutput& output_;
  CallLogger& logger_;
  Charset charset_;
  Screener* screener_ = nullptr;
  Clock* clock_ = nullptr;
  std::function<bool()> hangUp_;
  bool dryRun_ = false;
};

}  // namespace annc

#endif  // ANNC_LINE_CALL_SCREENING_H_
