#include "line/history/history_sink.h"

#include <string>
#include <vector>

namespace annc {

void HistorySink::Say(const std::vector<std::string>& status) {
  for (const std::string& line : status) output_.Status(line);
}

// While rows wait, the next try is due kRetryMs after the last.
void HistorySink::Waits(Millis now) {
  if (history_->waiting() == 0) {
    retryAt_.reset();
  } else if (!retryAt_ || *retryAt_ <= now) {
    retryAt_ = now + kRetryMs;
  }
}

void HistorySink::CallDecided(const CallRecord& record, Millis now) {
  std::vector<std::string> status;
  history_->Add(record, &status);
  Say(status);
  Waits(now);
}

void HistorySink::CallEnded(const CallRecord& record, Millis now) {
  std::vector<std::string> status;
  history_->Complete(record, &status);
  Say(status);
  Waits(now);
}

std::optional<Millis> HistorySink::NextDeadline() const { return retryAt_; }

void HistorySink::OnTimer(Millis now) {
  if (!retryAt_ || now < *retryAt_) return;
  std::vector<std::string> status;
  history_->Retry(&status);
  Say(status);
  retryAt_.reset();
  Waits(now);
}

void HistorySink::Stop() {
  if (history_->waiting() == 0) return;
  std::vector<std::string> status;
  history_->Retry(&status);
  Say(status);
  if (history_->waiting() > 0) {
    output_.Status(std::to_string(history_->waiting()) + " calls could not be written to the call history");
  }
}

}  // namespace annc
