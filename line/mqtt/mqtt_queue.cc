#include "line/mqtt/mqtt_queue.h"

#include <algorithm>
#include <utility>

namespace annc {

bool EventQueue::Push(std::string payload) {
  if (events_.size() >= capacity_) {
    ++dropped_;
    return false;
  }
  events_.push_back(Event{std::move(payload), std::nullopt});
  return true;
}

const std::string* EventQueue::NextUnsent() const {
  return sent_ < events_.size() ? &events_[sent_].payload : nullptr;
}

void EventQueue::Sent(int mid) {
  if (sent_ < events_.size()) events_[sent_++].mid = mid;
}

void EventQueue::Acked(int mid) {
  auto sentEnd = events_.begin() + static_cast<std::ptrdiff_t>(sent_);
  auto it = std::find_if(events_.begin(), sentEnd, [mid](const Event& e) { return e.mid == mid; });
  if (it == sentEnd) return;
  events_.erase(it);
  --sent_;
}

void EventQueue::Unsend() {
  for (Event& event : events_) event.mid.reset();
  sent_ = 0;
}

std::size_t EventQueue::TakeDropped() { return std::exchange(dropped_, 0); }

}  // namespace annc
