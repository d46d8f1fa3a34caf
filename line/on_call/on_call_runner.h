// The --on-call program: run once when a call is decided (ANNC_EVENT=call)
// and once when it has ended (ANNC_EVENT=end), with the call's fields in its
// environment as ANNC_ and the field's name in capitals (ANNC_NUMBER,
// ANNC_NETWORK_NAME, ...); the fields of the end only in the second run.
//
// The program runs beside the announcement and never holds the loop up:
// its output becomes status lines, "NAME: line", NAME being the program's
// file name, each cleaned and cut, at most a few a run; a run that takes
// too long is ended with its whole process group; only so many run at
// once, and the rest wait their turn in a bounded queue.
//
//   OnCallRunner runner(settings, system.processes, system.output);
//   ... handed to the loop as a call sink ...
#ifndef ANNC_LINE_ON_CALL_ON_CALL_RUNNER_H_
#define ANNC_LINE_ON_CALL_ON_CALL_RUNNER_H_

#include <sys/types.h>

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line/calls/call_record.h"
#include "line/calls/call_sink.h"
#include "posix/child_process.h"
#include "posix/clock.h"
#include "posix/line_system.h"
#include "text/terminal_text.h"

namespace annc {

struct OnCallSettings {
  std::string program;  // the executable's path, run as it is
  Charset charset = Charset::kSingleByte;  // the locale's, for the status lines
  std::size_t maxRunning = 4;
  std::size_t maxQueued = 256;   // runs waiting for one of the others to end
  Millis timeLimitMs = 30000;    // then SIGTERM to its group
  Millis killAfterMs = 3000;     // then SIGKILL
  std::size_t maxLinesPerRun = 5;  // output lines said; the rest are counted
  Millis stopWaitMs = 1000;      // at annc-line's end, before SIGKILL
};

// The environment of a run: ANNC_EVENT ("call" or "end") and the record's
// fields, NAME=VALUE each.
std::vector<std::string> OnCallEnvironment(const CallRecord& record, bool ended);

class OnCallRunner : public CallSink {
 public:
  // An output line is kept up to this many bytes until its end comes (and
  // then cut further, as record text is).
  static constexpr std::size_t kLineBytes = 512;

  OnCallRunner(OnCallSettings settings, Processes& processes, StatusOutput& output);
  // Stops what still runs.
  ~OnCallRunner() override;
  OnCallRunner(const OnCallRunner&) = delete;
  OnCallRunner& operator=(const OnCallRunner&) = delete;

  void CallDecided(const CallRecord& record, Millis now) override;
  void CallEnded(const CallRecord& record, Millis now) override;
  std::optional<Millis> NextDeadline() const override;
  void OnTimer(Millis now) override;
  void AddWatches(std::vector<Watch>* watches) const override;
  void OnReady(const std::vector<Watch>& watches, Millis now) override;
  void Reap(Millis now) override;
  void Stop() override;

 private:
  struct Run {
    pid_t pid = -1;
    int output = -1;  // -1 once its end was read
    Millis termAt = 0;
    std::optional<Millis> killAt;  // after SIGTERM
    bool killed = false;           // SIGKILL sent
    std::string partial;  // the line being written, up to kLineBytes
    std::size_t said = 0;
    std::size_t leftOut = 0;
  };

  void Enqueue(const CallRecord& record, bool ended, Millis now);
  void Launch(const std::vector<std::string>& environment, Millis now);
  void StartWaiting(Millis now);
  // Reads once from the run's pipe; false when nothing more is to come now.
  bool ReadOutput(Run& run);
  void TakeOutput(Run& run, std::string_view bytes);
  void SayLine(Run& run, std::string_view line);
  void Finish(Run& run, const ChildEnd& end);
  void Say(const std::string& text);

  OnCallSettings settings_;
  Processes& processes_;
  StatusOutput& output_;
  std::string name_;  // the program's file name, fit for a terminal
  std::vector<Run> running_;
  std::deque<std::vector<std::string>> waiting_;
};

}  // namespace annc

#endif  // ANNC_LINE_ON_CALL_ON_CALL_RUNNER_H_
