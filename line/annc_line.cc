#include "line/annc_line.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "line/event_loop.h"
#include "line/launcher.h"
#include "line/sources/modem/modem_source.h"
#include "line/sources/server/fritz_session.h"
#include "line/names/name_recording.h"
#include "line/sources/server/ncid_session.h"
#include "line/screening/screener.h"
#include "line/sources/server/server_client.h"
#include "line/start_check.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "posix/posix_line_system.h"
#include "posix/sound_device.h"
#include "text/paths.h"
#include "platform/errors.h"
#include "text/terminal_text.h"

#ifndef ANNC_LINE_VERSION
#define ANNC_LINE_VERSION "unknown"
#endif

namespace annc {
namespace {

constexpr int kExitFatal = 1;
constexpr int kExitUsage = 2;

// What --check prints: every line the source sends; nothing is announced.
SourceOutput CheckOutput(StatusOutput& output, Charset charset) {
  SourceOutput out;
  out.event = [](const CallEvent&) {};
  out.line = [&output, charset](std::string_view line) { output.Print(CaretNotation(line, "", charset)); };
  out.status = [&output](const std::string& text) { output.Status(text); };
  out.service = [&output](const std::string& status, bool ready) { output.Service(status, ready); };
  return out;
}

// --check on a modem, once it is set up: what it is and its country, then
// which caller-ID command it took. False when a signal ended it.
bool DescribeModem(EventLoop& loop, ModemSource& modem, const SourceOutput& out, StatusOutput& output,
                   const LineOptions& options) {
  struct Query {
    const char* label;
    const char* command;
  };
  for (const Query& query : {Query{"modem", "ATI"}, Query{"country", "AT+GCI?"}}) {
    modem.RunCommand(query.command, loop.Now());
    while (modem.CommandBusy()) {
      if (!loop.Step(modem, out, nullptr)) return false;
    }
    const ModemAnswer& answer = modem.answer();
    std::string label = std::string(query.label) + ": ";
    for (const std::string& line : answer.lines) output.Print(CaretNotation(label + line, "", options.charset));
    if (answer.kind == ModemAnswer::kError) output.Print(label + query.command + " refused");
    if (answer.kind == ModemAnswer::kNone) output.Print(label + "no answer to " + query.command);
  }
  output.Print(modem.callerIdCommand().empty() ? "caller ID: none of AT+VCID=1, AT#CID=1, AT%CCID=1 accepted"
                                               : "caller ID: " + modem.callerIdCommand() + " accepted");
  output.Print("every line the modem sends follows; Ctrl-C ends");
  return true;
}

// Names recorded by the user or synthesized in child processes of their own.
class ChildNameRecorder : public NameRecorder {
 public:
  ChildNameRecorder(NameSettings settings, std::string annc) : settings_(std::move(settings)), annc_(std::move(annc)) {}
  ~ChildNameRecorder() override { Cancel(); }

  std::string Start(const std::string& number, const std::string& name) override {
    NameJob job = StartNameRecording(MakeNameRequest(settings_, annc_, number, name));
    if (job.pid > 0) jobs_.push_back(job);
    return job.recording;
  }
  void Reap() override {
    std::erase_if(jobs_, [](NameJob& job) { return FinishNameJob(&job); });
  }
  void Cancel() override {
    for (NameJob& job : jobs_) CancelNameJob(&job);
    jobs_.clear();
  }

 private:
  NameSettings settings_;
  std::string annc_;
  std::vector<NameJob> jobs_;
};

}  // namespace

std::string CallLogFile(const LineOptions& options) {
  if (!options.log.empty()) return options.log;
  char resolved[PATH_MAX];
  std::string annc = ::realpath(options.annc.c_str(), resolved) != nullptr ? resolved : options.annc;
  return ChangeExtension(annc, "log");
}

int RunLine(const LineOptions& options, const LineSystem& system) {
  EventLoop loop(system.clock, system.waiter, system.signals);
  std::unique_ptr<ServerSession> session;
  std::unique_ptr<CallSource> source;
  ModemSource* modem = nullptr;
  if (options.ncid) {
    session = std::make_unique<NcidSession>(options.filter);
    ServerProtocol ncid{"NCID server", NcidHello(ANNC_LINE_VERSION), "", options.charset};
    source = std::make_unique<ServerClient>(options.ncid->host, options.ncid->port, options.device, ncid, *session,
                                            system.network);
  } else if (options.fritz) {
    session = std::make_unique<FritzSession>(options.filter);
    ServerProtocol fritz{"FRITZ!Box", "", kFritzRefusedHint, options.charset};
    source = std::make_unique<ServerClient>(options.fritz->host, options.fritz->port, options.device, fritz, *session,
                                            system.network);
  } else {
    auto owned = std::make_unique<ModemSource>(
        ModemSettings{options.device, options.speed, options.init, options.lockDir, options.charset}, system.ports);
    modem = owned.get();
    source = std::move(owned);
  }
  Screener screener(options.screening);
  if (std::string error = screener.Start(); !error.empty()) {
    system.output.Status(error);
    return kExitFatal;
  }
  std::unique_ptr<ChildNameRecorder> names;
  std::string logFile = CallLogFile(options);
  Launcher launcher(options, logFile, system.announcers, system.log, system.output);
  std::function<bool()> hangUp;
  if (modem != nullptr && options.blockMode == LineOptions::kHangUp) {
    hangUp = [modem, &loop] { return modem->HangUp(loop.Now()); };
  }
  launcher.SetScreener(&screener, &system.clock, hangUp);
  launcher.SetDryRun(options.check);
  // annc's own report of an exit code 1 is on the console; the cause is
  // one annc-line can find again, and says.
  launcher.SetDiagnosis([options, logFile] { return SetupProblem(options, logFile); });
  if (options.sayNames && !options.check) {
    char resolved[PATH_MAX];
    std::string annc = ::realpath(options.annc.c_str(), resolved) != nullptr ? resolved : options.annc;
    names = std::make_unique<ChildNameRecorder>(NameSettings{options.voice, options.nameCache, options.charset}, annc);
    launcher.SetNameRecorder(names.get());
  }
  SourceOutput out = launcher.output();
  if (options.check) {
    out = CheckOutput(system.output, options.charset);
    // What would be decided for each caller-ID block is printed too.
    out.event = launcher.output().event;
  }
  LoopClient* client = &launcher;

  int code = 0;
  source->Begin(loop.Now(), out);
  bool going = true;
  while (going && source->startup() == CallSource::kStarting) going = loop.Step(*source, out, client);
  if (going && source->startup() == CallSource::kFailed) {
    system.output.Status(source->FailureText());
    code = kExitFatal;
    going = false;
  }
  if (going && options.check && modem != nullptr) going = DescribeModem(loop, *modem, out, system.output, options);
  while (going) {
    // --once: the first call over, its announcer gone and the modem on hook.
    if (options.once && !options.check && launcher.Done() && (modem == nullptr || !modem->HangingUp())) break;
    going = loop.Step(*source, out, client);
  }
  if (code == 0) system.output.Stopping();
  launcher.Stop(loop);
  return code;
}

int RunAnncLine(int argc, char** argv) {
  std::vector<std::string_view> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  // Text is shown as the locale has it; the locale is only looked at, not
  // taken, so the other categories stay as they were.
  ParsedCommandLine parsed = ParseLineCommandLine(args, EnvironmentCharset());
  switch (parsed.kind) {
    case ParsedCommandLine::kHelp:
      return WriteAll(STDOUT_FILENO, kLineHelp) == 0 ? 0 : kExitFatal;
    case ParsedCommandLine::kVersion:
      return WriteAll(STDOUT_FILENO, "annc-line " ANNC_LINE_VERSION "\n") == 0 ? 0 : kExitFatal;
    case ParsedCommandLine::kUsageError:
      (void)WriteAll(STDERR_FILENO, "annc-line: " + parsed.error + "\n");
      (void)WriteAll(STDERR_FILENO, kLineUsage);
      (void)WriteAll(STDERR_FILENO, "see annc-line --help\n");
      return kExitUsage;
    case ParsedCommandLine::kRun:
      break;
  }
  // The calls log's time separator is the locale's, as annc writes it.
  (void)::setlocale(LC_TIME, "");
  LineOptions options = parsed.options;
  if (options.annc.empty()) options.annc = FolderOf(ExecutablePath()) + "annc";

  PosixLineSystem posix;
  if (int error = posix.signals.Open(); error != 0) {
    posix.output.Status(CannotText("watch signals", error));
    return kExitFatal;
  }
  if (!options.check) {
    if (std::optional<std::string> problem = SetupProblem(options, CallLogFile(options))) {
      posix.output.Status(*problem);
      return kExitFatal;
    }
  }
  if (std::optional<std::string> sound = DefaultSoundDeviceProblem()) {
    posix.output.Status(*sound + ": calls will be beeps");
  }
  LineSystem system{posix.clock, posix.waiter,  posix.signals,    posix.output,
                    posix.ports, posix.network, posix.announcers, posix.log};
  return RunLine(options, system);
}

}  // namespace annc
