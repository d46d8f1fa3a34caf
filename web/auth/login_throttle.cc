#include "web/auth/login_throttle.h"

#include <utility>

namespace annc::web {

LoginThrottle::LoginThrottle(SecondsClock clock, int freeFailures, std::int64_t lockSeconds, std::size_t maxAddresses)
    : clock_(std::move(clock)), freeFailures_(freeFailures), lockSeconds_(lockSeconds), maxAddresses_(maxAddresses) {}

std::int64_t LoginThrottle::RetryAfter(const std::string& address) {
  auto it = failures_.find(address);
  if (it == failures_.end()) return 0;
  std::int64_t since = clock_() - it->second.last;
  if (since >= lockSeconds_) {
    // Quiet for a whole lock: the count starts again.
    failures_.erase(it);
    return 0;
  }
  if (it->second.count < freeFailures_) return 0;
  return lockSeconds_ - since;
}

void LoginThrottle::Failed(const std::string& address) {
  std::int64_t now = clock_();
  auto it = failures_.find(address);
  if (it == failures_.end()) {
    // Full: the address that failed longest ago makes room (an attacker
    // with many addresses only pushes out stale ones first).
    while (!failures_.empty() && failures_.size() >= maxAddresses_) {
      auto stalest = failures_.begin();
      for (auto other = failures_.begin(); other != failures_.end(); ++other) {
        if (other->second.last < stalest->second.last) stalest = other;
      }
      failures_.erase(stalest);
    }
    it = failures_.emplace(address, Record{}).first;
  } else if (now - it->second.last >= lockSeconds_) {
    it->second.count = 0;
  }
  ++it->second.count;
  it->second.last = now;
}

void LoginThrottle::Succeeded(const std::string& address) { failures_.erase(address); }

}  // namespace annc::web
