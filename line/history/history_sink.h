// The call history as a sink of calls: each call's row written when it is
// decided and completed when it ends. Rows the history cannot take now wait
// in memory and are tried again every few seconds, never holding up a call.
#ifndef ANNC_LINE_HISTORY_HISTORY_SINK_H_
#define ANNC_LINE_HISTORY_HISTORY_SINK_H_

#include <memory>
#include <optional>

#include "line/calls/call_sink.h"
#include "line/history/call_history.h"
#include "posix/line_system.h"

namespace annc {

class HistorySink : public CallSink {
 public:
  // Rows that wait are tried again this often.
  static constexpr Millis kRetryMs = 2000;

  HistorySink(std::unique_ptr<CallHistory> history, StatusOutput& output)
      : history_(std::move(history)), output_(output) {}

  void CallDecided(const CallRecord& record, Millis now) override;
  void CallEnded(const CallRecord& record, Millis now) override;
  std::optional<Millis> NextDeadline() const override;
  void OnTimer(Millis now) override;
  void Stop() override;

  const CallHistory& history() const { return *history_; }

 private:
  void Say(const std::vector<std::string>& status);
  void Waits(Millis now);

  std::unique_ptr<CallHistory> history_;
  StatusOutput& output_;
  std::optional<Millis> retryAt_;
};

}  // namespace annc

#endif  // ANNC_LINE_HISTORY_HISTORY_SINK_H_
