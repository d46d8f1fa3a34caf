#include "line/annc_line.h"

#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "line/announcer.h"
#include "line/call_tracker.h"
#include "line/modem_source.h"
#include "line/ncid_client.h"
#include "line/options.h"
#include "platform/files.h"
#include "posix/signal_pipe.h"
#include "text/paths.h"
#include "text/terminal_text.h"

#ifndef ANNC_LINE_VERSION
#define ANNC_LINE_VERSION "unknown"
#endif

namespace annc {
namespace {

constexpr int kExitFatal = 1;
constexpr int kExitUsage = 2;

Millis Now() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<Millis>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void Status(std::string_view text) {
  std::string line = "annc-line: ";
  line.append(text);
  line += '\n';
  (void)WriteAll(STDERR_FILENO, line);
}

bool EndRequested(const SignalPipe& signals) {
  return signals.Seen(SIGINT) || signals.Seen(SIGTERM) || signals.Seen(SIGHUP);
}

// Waits for the source, the signals and the next deadline; returns whether
// the source's descriptor is ready.
bool Wait(const CallSource& source, const SignalPipe& signals, std::optional<Millis> deadline) {
  int timeout = -1;
  if (deadline) {
    Millis left = *deadline - Now();
    timeout = left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
  }
  short events = source.WantsWritable() ? POLLOUT : POLLIN;
  pollfd fds[2] = {{signals.fd(), POLLIN, 0}, {source.fd(), events, 0}};
  int count = source.fd() >= 0 ? 2 : 1;
  int ready = ::poll(fds, static_cast<nfds_t>(count), timeout);
  if (ready <= 0) return false;
  return count == 2 && fds[1].revents != 0;
}

std::optional<Millis> Earliest(std::optional<Millis> a, std::optional<Millis> b) {
  if (!a) return b;
  if (!b) return a;
  return *a < *b ? a : b;
}

// The program while it announces calls.
class Launcher {
 public:
  Launcher(const LineOptions& options, SignalPipe& signals, CallSource& source, std::string annc)
      : options_(options),
        signals_(signals),
        source_(source),
        tracker_(TrackerSettings{options.ringTimeoutMs, 500, 10000}),
        announcer_(std::move(annc), options.log) {
    out_.event = [this](const CallEvent& event) { Apply(tracker_.OnEvent(event, Now())); };
    out_.line = [](std::string_view) {};
    out_.status = [](const std::string& text) { Status(text); };
  }

  const SourceOutput& output() const { return out_; }

  int Run() {
    for (;;) {
      if (options_.once && tracker_.CallsEnded() > 0 && !tracker_.AnnouncerBusy()) return 0;
      bool readable = Wait(source_, signals_, Earliest(tracker_.NextDeadline(), source_.NextAttempt()));
      signals_.Take();
      if (EndRequested(signals_)) break;
      Millis now = Now();
      AnnouncerExit exit;
      if (announcer_.Reap(&exit)) Apply(tracker_.OnAnnouncerExited(exit, now));
      signals_.Clear(SIGCHLD);
      if (readable) source_.OnReady(now, out_);
      source_.OnTimer(Now(), out_);
      if (EndRequested(signals_)) break;
      Apply(tracker_.OnTimer(Now()));
    }
    announcer_.Stop();
    return 0;
  }

 private:
  void Apply(const Actions& actions) {
    for (const Action& action : actions) {
      switch (action.kind) {
        case Action::kStatus:
          Status(action.text);
          break;
        case Action::kStartAnnouncer:
          if (int error = announcer_.Start(action.number); error != 0) {
            Status("cannot start " + CaretNotation(options_.annc, "") + ": " + std::strerror(error));
            Apply(tracker_.OnAnnouncerExited(AnnouncerExit{AnnouncerExit::kNotStarted, error}, Now()));
          }
          break;
        case Action::kEndAnnouncement:
          announcer_.EndAnnouncement();
          break;
        case Action::kTerminateAnnouncer:
          announcer_.Terminate();
          break;
      }
    }
  }

  const LineOptions& options_;
  SignalPipe& signals_;
  CallSource& source_;
  CallTracker tracker_;
  Announcer announcer_;
  SourceOutput out_;
};

// Prints a line from a source for --check, in caret notation.
void PrintLine(std::string_view text) {
  std::string line = CaretNotation(text, "");
  line += '\n';
  (void)WriteAll(STDOUT_FILENO, line);
}

// What --check prints: every line the source sends; nothing is announced.
SourceOutput CheckOutput() {
  SourceOutput out;
  out.event = [](const CallEvent&) {};
  out.line = [](std::string_view line) { PrintLine(line); };
  out.status = [](const std::string& text) { Status(text); };
  return out;
}

// --check's last part: every line, until a signal.
int PrintLines(SignalPipe& signals, CallSource& source, const SourceOutput& out) {
  for (;;) {
    bool ready = Wait(source, signals, source.NextAttempt());
    signals.Take();
    if (EndRequested(signals)) return 0;
    if (ready) source.OnReady(Now(), out);
    source.OnTimer(Now(), out);
    if (EndRequested(signals)) return 0;
  }
}

// --check on a modem: what it is and says, line by line, until a signal.
int RunCheck(SignalPipe& signals, ModemSource& modem) {
  SourceOutput out = CheckOutput();
  ModemSetup setup = modem.OpenAtStart(out);
  if (setup.kind == ModemSetup::kInterrupted) return 0;
  if (setup.kind != ModemSetup::kReady) {
    Status(modem.FailureText(setup));
    return kExitFatal;
  }
  struct Query {
    const char* label;
    const char* command;
  };
  for (const Query& query : {Query{"modem", "ATI"}, Query{"country", "AT+GCI?"}}) {
    ModemAnswer answer = modem.port().Command(query.command);
    if (answer.kind == ModemAnswer::kInterrupted) return 0;
    for (const std::string& line : answer.lines) PrintLine(std::string(query.label) + ": " + line);
    if (answer.kind == ModemAnswer::kError) PrintLine(std::string(query.label) + ": " + query.command + " refused");
    if (answer.kind == ModemAnswer::kNone) PrintLine(std::string(query.label) + ": no answer to " + query.command);
  }
  PrintLine(setup.callerIdCommand.empty() ? "caller ID: none of AT+VCID=1, AT#CID=1, AT%CCID=1 accepted"
                                          : "caller ID: " + setup.callerIdCommand + " accepted");
  PrintLine("every line the modem sends follows; Ctrl-C ends");
  return PrintLines(signals, modem, out);
}

// The first connection to an NCID server, waited for: -1 once it is made,
// otherwise the exit code (0 when a signal ended the wait).
int ConnectAtStart(const LineOptions& options, SignalPipe& signals, NcidClient& server, const SourceOutput& out) {
  server.Begin(Now());
  while (server.Connecting()) {
    bool ready = Wait(server, signals, server.NextAttempt());
    signals.Take();
    if (EndRequested(signals)) return 0;
    if (ready) server.OnReady(Now(), out);
    server.OnTimer(Now(), out);
  }
  if (server.Connected()) return -1;
  Status(CaretNotation(options.device, "") + ": " + server.LastError());
  return kExitFatal;
}

// Announces the calls an NCID server reports (or, with --check, prints what
// it sends).
int RunNcid(const LineOptions& options, SignalPipe& signals) {
  NcidClient server(*options.ncid, ANNC_LINE_VERSION);
  if (options.check) {
    SourceOutput out = CheckOutput();
    if (int code = ConnectAtStart(options, signals, server, out); code >= 0) return code;
    return PrintLines(signals, server, out);
  }
  Launcher launcher(options, signals, server, options.annc);
  if (int code = ConnectAtStart(options, signals, server, launcher.output()); code >= 0) return code;
  return launcher.Run();
}

int Run(const LineOptions& givenOptions) {
  LineOptions options = givenOptions;
  if (options.annc.empty()) options.annc = FolderOf(ExecutablePath()) + "annc";

  SignalPipe signals;
  if (int error = signals.Open({SIGINT, SIGTERM, SIGHUP, SIGCHLD}); error != 0) {
    Status(std::string("cannot watch signals: ") + std::strerror(error));
    return kExitFatal;
  }
  // A closed standard error must show as a failed write, not end annc-line.
  ::signal(SIGPIPE, SIG_IGN);

  if (!options.check && ::access(options.annc.c_str(), X_OK) != 0) {
    Status("cannot run the announcer " + CaretNotation(options.annc, "") + ": " + std::strerror(errno));
    return kExitFatal;
  }
  if (options.ncid) return RunNcid(options, signals);

  ModemSource modem(options, signals);
  if (options.check) return RunCheck(signals, modem);
  Launcher launcher(options, signals, modem, options.annc);
  ModemSetup setup = modem.OpenAtStart(launcher.output());
  if (setup.kind == ModemSetup::kInterrupted) return 0;
  if (setup.kind != ModemSetup::kReady) {
    Status(modem.FailureText(setup));
    return kExitFatal;
  }
  return launcher.Run();
}

}  // namespace

int RunAnncLine(int argc, char** argv) {
  std::vector<std::string_view> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  ParsedCommandLine parsed = ParseLineCommandLine(args);
  switch (parsed.kind) {
    case ParsedCommandLine::kHelp:
      return WriteAll(STDOUT_FILENO, kLineHelp) == 0 ? 0 : kExitFatal;
    case ParsedCommandLine::kVersion:
      return WriteAll(STDOUT_FILENO, "annc-line " ANNC_LINE_VERSION "\n") == 0 ? 0 : kExitFatal;
    case ParsedCommandLine::kUsageError:
      Status(parsed.error);
      (void)WriteAll(STDERR_FILENO, kLineUsage);
      return kExitUsage;
    case ParsedCommandLine::kRun:
      break;
  }
  return Run(parsed.options);
}

}  // namespace annc
