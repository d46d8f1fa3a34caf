// The announcer's process while annc-line runs it: started with the
// console's typed keys thrown away, told that its call has ended (NO CARRIER,
// again until it has gone), and ended by force when it does not end: SIGTERM,
// then SIGKILL. One killed by a signal gets the console put back.
#ifndef ANNC_LINE_ANNOUNCER_PROCESS_H_
#define ANNC_LINE_ANNOUNCER_PROCESS_H_

#include <optional>
#include <string>
#include <vector>

#include "line/calls/call_tracker.h"
#include "line/event_loop.h"
#include "posix/line_system.h"

namespace annc {

class AnnouncerProcess {
 public:
  // After SIGTERM at annc-line's own end, the announcer gets this long
  // before SIGKILL, and as long again to be gone.
  static constexpr Millis kStopWaitMs = 2000;
  // An announcer that SIGTERM did not end is killed this long after it.
  static constexpr Millis kKillAfterMs = 3000;
  // NO CARRIER is written again this often until the announcer has gone:
  // one that had not yet taken its line over threw the first away.
  static constexpr Millis kNoCarrierAgainMs = 500;

  AnnouncerProcess(Announcers& announcers, StatusOutput& output) : announcers_(announcers), output_(output) {}

  // Starts `program NUMBER ARGS...`; 0 or an errno value.
  int Start(const std::string& program, const std::string& number, const std::vector<std::string>& args);
  // Tells the announcer its call has ended.
  void EndAnnouncement(Millis now);
  // The announcer did not stop in time: SIGTERM, SIGKILL later.
  void Terminate(Millis now);
  // Reaps the announcer if it has ended; true then, with `exit` filled.
  bool Reaped(AnnouncerExit* exit);

  std::optional<Millis> NextDeadline() const;
  void OnTimer(Millis now);

  // annc-line's end: an announcer still running gets SIGTERM, then SIGKILL,
  // each with kStopWaitMs to go.
  void Stop(EventLoop& loop);

 private:
  Announcers& announcers_;
  StatusOutput& output_;
  bool running_ = false;
  std::optional<Millis> noCarrierAgain_;  // while the announcer is told to end
  std::optional<Millis> killAt_;          // after SIGTERM
};

}  // namespace annc

#endif  // ANNC_LINE_ANNOUNCER_PROCESS_H_
