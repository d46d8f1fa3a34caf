// The announcer hand-over: annc runs once per call with the slave side of a
// pseudo-terminal of its own as its modem line, and learns there that the
// call has ended, exactly as if it held the modem.
#ifndef ANNC_LINE_ANNOUNCER_H_
#define ANNC_LINE_ANNOUNCER_H_

#include <sys/types.h>

#include <string>

#include "line/call_tracker.h"
#include "posix/pseudo_terminal.h"

namespace annc {

class Announcer {
 public:
  // `program`: annc's path; `logFile`: passed as /L:, empty for none.
  Announcer(std::string program, std::string logFile) : program_(std::move(program)), logFile_(std::move(logFile)) {}
  ~Announcer() { Stop(); }
  Announcer(const Announcer&) = delete;
  Announcer& operator=(const Announcer&) = delete;

  // Starts `annc NUMBER /H:N [/L:FILE]`, N being the pseudo-terminal's slave,
  // which annc alone inherits. Returns 0 or an errno value.
  int Start(const std::string& number);
  bool Running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Writes NO CARRIER CR LF to the pseudo-terminal: annc ends at its next
  // look at the line.
  void EndAnnouncement();
  // Sends SIGTERM.
  void Terminate();
  // Reaps the announcer when it has ended; true then, with `exit` filled.
  bool Reap(AnnouncerExit* exit);
  // Ends it now: SIGTERM, a bounded wait, then SIGKILL. For annc-line's own end.
  void Stop();

 private:
  void Finished();

  std::string program_;
  std::string logFile_;
  PseudoTerminal pty_;
  pid_t pid_ = -1;
};

}  // namespace annc

#endif  // ANNC_LINE_ANNOUNCER_H_
