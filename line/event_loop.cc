#include "line/event_loop.h"

#include <signal.h>

#include <algorithm>
#include <vector>

namespace annc {
namespace {

std::optional<Millis> Earliest(std::optional<Millis> a, std::optional<Millis> b) {
  if (!a) return b;
  if (!b) return a;
  return *a < *b ? a : b;
}

}  // namespace

bool EventLoop::EndRequested() const {
  return signals_.Seen(SIGINT) || signals_.Seen(SIGTERM) || signals_.Seen(SIGHUP);
}

void EventLoop::KeepWatchdog(StatusOutput& output, Millis intervalMs) {
  if (intervalMs <= 0) return;
  watchdog_ = &output;
  // Twice in each interval, as systemd advises, and no more often than
  // every 100 ms however short the interval.
  watchdogEvery_ = std::max<Millis>(intervalMs / 2, 100);
  watchdogDue_ = clock_.Now();
}

std::optional<Millis> EventLoop::FeedWatchdog() {
  if (watchdog_ == nullptr) return std::nullopt;
  Millis now = clock_.Now();
  if (now >= watchdogDue_) {
    watchdog_->Watchdog();
    watchdogDue_ = now + watchdogEvery_;
  }
  return watchdogDue_;
}

bool EventLoop::Step(CallSource& source, const SourceOutput& out, LoopClient* client) {
  return Step(std::vector<LoopSource>{LoopSource{&source, &out}}, client);
}

bool EventLoop::Step(const std::vector<LoopSource>& sources, LoopClient* client) {
  std::optional<Millis> deadline = FeedWatchdog();
  for (const LoopSource& s : sources) deadline = Earliest(deadline, s.source->NextDeadline());
  if (client != nullptr) deadline = Earliest(deadline, client->NextDeadline());
  std::vector<Watch> watches = {Watch{signals_.handle(), false, false}};
  // Where each source's handle is among the watches; none while it has none.
  std::vector<std::optional<std::size_t>> watched;
  for (const LoopSource& s : sources) {
    watched.emplace_back();
    if (s.source->handle() < 0) continue;
    watched.back() = watches.size();
    watches.push_back(Watch{s.source->handle(), s.source->WantsWritable(), false});
  }
  if (client != nullptr) client->AddWatches(&watches);
  waiter_.Wait(&watches, deadline);
  signals_.Take();
  if (EndRequested()) return false;
  if (client != nullptr) client->Reap(clock_.Now());
  signals_.Clear(SIGCHLD);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (watched[i] && watches[*watched[i]].ready) sources[i].source->OnReady(clock_.Now(), *sources[i].out);
  }
  if (client != nullptr) client->OnReady(watches, clock_.Now());
  for (const LoopSource& s : sources) s.source->OnTimer(clock_.Now(), *s.out);
  if (EndRequested()) return false;
  if (client != nullptr) client->OnTimer(clock_.Now());
  return true;
}

void EventLoop::WaitForChild(Millis deadline) {
  std::vector<Watch> watches = {Watch{signals_.handle(), false, false}};
  waiter_.Wait(&watches, deadline);
  signals_.Take();
  signals_.Clear(SIGCHLD);
}

}  // namespace annc
