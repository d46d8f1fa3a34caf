#include "line/announcer.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

#include "posix/child_process.h"

namespace annc {
namespace {

constexpr int kStopWaitMs = 2000;

// The console as it was before any announcer changed it, put back when one
// was killed before it could do so itself.
struct ConsoleState {
  bool saved = false;
  termios settings{};
  ConsoleState() { saved = ::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &settings) == 0; }
  void Restore() const {
    // Only while annc-line is in the foreground: a background process that
    // touches the terminal is stopped.
    if (saved && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp()) (void)::tcsetattr(STDIN_FILENO, TCSANOW, &settings);
  }
};

const ConsoleState& Console() {
  static const ConsoleState state;
  return state;
}

AnnouncerExit ExitOf(const ChildEnd& end) {
  AnnouncerExit exit;
  exit.kind = end.exited ? AnnouncerExit::kExited : AnnouncerExit::kSignalled;
  exit.code = end.exited ? end.code : end.signal;
  return exit;
}

}  // namespace

int Announcer::Start(const std::string& number) {
  if (Running()) return EBUSY;
  (void)Console();
  if (int error = OpenPseudoTerminal(&pty_); error != 0) return error;
  std::vector<std::string> argv = {program_, number, "/H:" + std::to_string(pty_.slave)};
  if (!logFile_.empty()) argv.push_back("/L:" + logFile_);
  pid_t pid = -1;
  int error = SpawnWithDescriptor(argv, pty_.slave, &pid);
  // The slave is annc's alone now; the master stays here until annc is gone.
  ::close(pty_.slave);
  pty_.slave = -1;
  if (error != 0) {
    ClosePseudoTerminal(&pty_);
    return error;
  }
  pid_ = pid;
  return 0;
}

void Announcer::EndAnnouncement() {
  if (pty_.master < 0) return;
  // The master does not block: an announcer that reads nothing cannot hold
  // annc-line up, and the few bytes always fit.
  static constexpr char kNoCarrier[] = "NO CARRIER\r\n";
  (void)!::write(pty_.master, kNoCarrier, sizeof kNoCarrier - 1);
}

void Announcer::Terminate() {
  if (Running()) ::kill(pid_, SIGTERM);
}

bool Announcer::Reap(AnnouncerExit* exit) {
  if (!Running()) return false;
  ChildEnd end;
  if (!ReapChild(pid_, &end)) return false;
  *exit = ExitOf(end);
  if (!end.exited) Console().Restore();
  Finished();
  return true;
}

void Announcer::Stop() {
  if (!Running()) return;
  ::kill(pid_, SIGTERM);
  ChildEnd end;
  if (!WaitChild(pid_, kStopWaitMs, &end)) {
    ::kill(pid_, SIGKILL);
    (void)WaitChild(pid_, kStopWaitMs, &end);
  }
  if (!end.exited) Console().Restore();
  Finished();
}

void Announcer::Finished() {
  pid_ = -1;
  ClosePseudoTerminal(&pty_);
}

}  // namespace annc
