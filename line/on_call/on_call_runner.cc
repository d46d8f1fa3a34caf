#include "line/on_call/on_call_runner.h"

#include <signal.h>
#include <string.h>

#include <algorithm>
#include <utility>

#include "platform/errors.h"

namespace annc {
namespace {

// annc-line's own variables of this name go before a run's are added.
constexpr char kPrefix[] = "ANNC_";

// Reads at most this many times from a pipe per readiness, and when the
// program has ended: a program that writes without end cannot keep the
// loop to itself.
constexpr int kReadsAtOnce = 16;
constexpr std::size_t kReadBytes = 4096;

std::string Capitals(std::string_view name) {
  std::string text(name);
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string SignalName(int signal) {
  const char* abbreviation = ::sigabbrev_np(signal);
  std::string text = "signal " + std::to_string(signal);
  if (abbreviation != nullptr) text += std::string(" (SIG") + abbreviation + ")";
  return text;
}

}  // namespace

std::vector<std::string> OnCallEnvironment(const CallRecord& record, bool ended) {
  std::vector<std::string> environment = {std::string(kPrefix) + "EVENT=" + (ended ? "end" : "call")};
  for (const auto& [name, value] : RecordFields(record, ended)) {
    environment.push_back(kPrefix + Capitals(name) + "=" + value);
  }
  return environment;
}

OnCallRunner::OnCallRunner(OnCallSettings settings, Processes& processes, StatusOutput& output)
    : settings_(std::move(settings)), processes_(processes), output_(output) {
  std::size_t slash = settings_.program.rfind('/');
  std::string_view file = settings_.program;
  if (slash != std::string::npos) file.remove_prefix(slash + 1);
  name_ = CaretNotation(file, "", settings_.charset);
}

OnCallRunner::~OnCallRunner() { Stop(); }

void OnCallRunner::CallDecided(const CallRecord& record, Millis now) { Enqueue(record, false, now); }

void OnCallRunner::CallEnded(const CallRecord& record, Millis now) { Enqueue(record, true, now); }

void OnCallRunner::Enqueue(const CallRecord& record, bool ended, Millis now) {
  if (running_.size() < settings_.maxRunning && waiting_.empty()) {
    Launch(OnCallEnvironment(record, ended), now);
    return;
  }
  if (waiting_.size() >= settings_.maxQueued) {
    std::string which = (ended ? "the end of call " : "call ") + std::to_string(record.id);
    Say(name_ + ": " + std::to_string(waiting_.size()) + " runs wait already: the run for " + which + " is left out");
    return;
  }
  waiting_.push_back(OnCallEnvironment(record, ended));
}

void OnCallRunner::Launch(const std::vector<std::string>& environment, Millis now) {
  Run run;
  int error = 0;
  run.pid = processes_.RunProgram(settings_.program, environment, kPrefix, &run.output, &error);
  if (run.pid <= 0) {
    Say(CannotText("run " + name_, error));
    return;
  }
  run.termAt = now + settings_.timeLimitMs;
  running_.push_back(std::move(run));
}

void OnCallRunner::StartWaiting(Millis now) {
  while (running_.size() < settings_.maxRunning && !waiting_.empty()) {
    std::vector<std::string> environment = std::move(waiting_.front());
    waiting_.pop_front();
    Launch(environment, now);
  }
}

std::optional<Millis> OnCallRunner::NextDeadline() const {
  std::optional<Millis> next;
  for (const Run& run : running_) {
    if (run.killed) continue;  // nothing is left to do but wait for its end
    Millis at = run.killAt.value_or(run.termAt);
    if (!next || at < *next) next = at;
  }
  return next;
}

void OnCallRunner::OnTimer(Millis now) {
  for (Run& run : running_) {
    if (run.killed) continue;
    if (run.killAt) {
      if (now < *run.killAt) continue;
      Say(name_ + " did not end after SIGTERM: killing it");
      processes_.SignalProgram(run.pid, SIGKILL);
      run.killed = true;
    } else if (now >= run.termAt) {
      Say(name_ + " still runs after " + std::to_string(settings_.timeLimitMs / 1000) + " s: stopping it");
      processes_.SignalProgram(run.pid, SIGTERM);
      run.killAt = now + settings_.killAfterMs;
    }
  }
}

void OnCallRunner::AddWatches(std::vector<Watch>* watches) const {
  for (const Run& run : running_) {
    if (run.output >= 0) watches->push_back(Watch{run.output, false, false});
  }
}

void OnCallRunner::OnReady(const std::vector<Watch>& watches, Millis /*now*/) {
  for (const Watch& watch : watches) {
    if (!watch.ready || watch.handle < 0) continue;
    for (Run& run : running_) {
      if (run.output != watch.handle) continue;
      for (int i = 0; i < kReadsAtOnce && ReadOutput(run); ++i) {
      }
    }
  }
}

bool OnCallRunner::ReadOutput(Run& run) {
  if (run.output < 0) return false;
  char buffer[kReadBytes];
  ReadResult got = processes_.ReadProgramOutput(run.output, buffer, sizeof buffer);
  if (got.n > 0) {
    TakeOutput(run, std::string_view(buffer, static_cast<std::size_t>(got.n)));
    return true;
  }
  if (got.Nothing()) return false;
  // Its end (or an error, which ends it as well): what is left of the last
  // line is a line of its own.
  processes_.CloseProgramOutput(run.output);
  run.output = -1;
  if (!run.partial.empty()) SayLine(run, run.partial);
  run.partial.clear();
  return false;
}

void OnCallRunner::TakeOutput(Run& run, std::string_view bytes) {
  while (!bytes.empty()) {
    std::size_t end = bytes.find('\n');
    std::string_view piece = bytes.substr(0, end);
    if (run.partial.size() < kLineBytes) run.partial.append(piece.substr(0, kLineBytes - run.partial.size()));
    if (end == std::string_view::npos) return;
    SayLine(run, run.partial);
    run.partial.clear();
    bytes.remove_prefix(end + 1);
  }
}

void OnCallRunner::SayLine(Run& run, std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (TrimBlanks(line).empty()) return;
  if (run.said >= settings_.maxLinesPerRun) {
    ++run.leftOut;
    return;
  }
  ++run.said;
  Say(name_ + ": " + RecordText(line, settings_.charset));
}

void OnCallRunner::Finish(Run& run, const ChildEnd& end) {
  // All it wrote is in the pipe now; what something it started still
  // writes there is not waited for.
  for (int i = 0; i < kReadsAtOnce && ReadOutput(run); ++i) {
  }
  if (run.output >= 0) {
    processes_.CloseProgramOutput(run.output);
    run.output = -1;
  }
  if (!run.partial.empty()) SayLine(run, run.partial);
  if (run.leftOut > 0) {
    Say(name_ + ": " + std::to_string(run.leftOut) + (run.leftOut == 1 ? " more line" : " more lines") +
        " of output left out");
  }
  if (end.exited && end.code != 0) Say(name_ + " ended with exit code " + std::to_string(end.code));
  if (!end.exited) Say(name_ + " was ended by " + SignalName(end.signal));
}

void OnCallRunner::Reap(Millis now) {
  for (auto it = running_.begin(); it != running_.end();) {
    ChildEnd end;
    if (!processes_.ReapProgram(it->pid, &end)) {
      ++it;
      continue;
    }
    Finish(*it, end);
    it = running_.erase(it);
  }
  StartWaiting(now);
}

void OnCallRunner::Stop() {
  if (!waiting_.empty()) {
    Say(name_ + ": " + std::to_string(waiting_.size()) + (waiting_.size() == 1 ? " run" : " runs") +
        " still waiting left out as annc-line ends");
    waiting_.clear();
  }
  if (running_.empty()) return;
  Say(name_ + ": " + std::to_string(running_.size()) + (running_.size() == 1 ? " run" : " runs") +
      " still running stopped as annc-line ends");
  std::vector<pid_t> pids;
  for (const Run& run : running_) pids.push_back(run.pid);
  processes_.EndPrograms(pids, settings_.stopWaitMs);
  for (const Run& run : running_) {
    if (run.output >= 0) processes_.CloseProgramOutput(run.output);
  }
  running_.clear();
}

void OnCallRunner::Say(const std::string& text) { output_.Status(text); }

}  // namespace annc
