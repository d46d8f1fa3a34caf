#include "line/announcer_process.h"

#include <signal.h>

#include <algorithm>

namespace annc {
namespace {

// The line that tells annc the call has ended.
constexpr char kNoCarrier[] = "NO CARRIER\r\n";
// annc's exit code for a result code on its modem line.
constexpr int kAnncModemResult = 99;

}  // namespace

int AnnouncerProcess::Start(const std::string& program, const std::string& number,
                            const std::vector<std::string>& args) {
  announcers_.DiscardTypedKeys();
  int error = announcers_.Start(program, number, args);
  if (error == 0) running_ = true;
  return error;
}

void AnnouncerProcess::EndAnnouncement(Millis now) {
  announcers_.WriteLine(kNoCarrier);
  if (running_) noCarrierAgain_ = now + kNoCarrierAgainMs;
}

void AnnouncerProcess::Terminate(Millis now) {
  announcers_.Signal(SIGTERM);
  if (running_) killAt_ = now + kKillAfterMs;
}

bool AnnouncerProcess::Reaped(AnnouncerExit* exit) {
  if (!running_) return false;
  ChildEnd end;
  if (!announcers_.Reap(&end)) return false;
  running_ = false;
  noCarrierAgain_.reset();
  killAt_.reset();
  exit->kind = end.exited ? AnnouncerExit::kExited : AnnouncerExit::kSignalled;
  exit->code = end.exited ? end.code : end.signal;
  if (!end.exited) announcers_.RestoreConsole();
  // annc echoes the modem's line that ended it, CR and all.
  if (end.exited && end.code == kAnncModemResult) output_.AnnouncerLeftLine();
  return true;
}

std::optional<Millis> AnnouncerProcess::NextDeadline() const {
  if (noCarrierAgain_ && killAt_) return std::min(*noCarrierAgain_, *killAt_);
  return noCarrierAgain_ ? noCarrierAgain_ : killAt_;
}

void AnnouncerProcess::OnTimer(Millis now) {
  if (running_ && killAt_ && now >= *killAt_) {
    killAt_.reset();
    output_.Status("announcer did not end after SIGTERM: killing it");
    announcers_.Signal(SIGKILL);
  }
  if (running_ && noCarrierAgain_ && now >= *noCarrierAgain_) {
    announcers_.WriteLine(kNoCarrier);
    noCarrierAgain_ = now + kNoCarrierAgainMs;
  }
}

void AnnouncerProcess::Stop(EventLoop& loop) {
  if (!running_) return;
  AnnouncerExit exit;
  announcers_.Signal(SIGTERM);
  for (int next : {SIGKILL, 0}) {
    Millis deadline = loop.Now() + kStopWaitMs;
    for (;;) {
      if (Reaped(&exit)) return;
      if (loop.Now() >= deadline) break;
      loop.WaitForChild(deadline);
    }
    if (next != 0) announcers_.Signal(next);
  }
}

}  // namespace annc
