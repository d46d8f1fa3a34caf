#include "line/annc_line.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "line/event_loop.h"
#include "line/history/call_history.h"
#include "line/history/history_file.h"
#include "line/history/history_sink.h"
#include "line/history/log_import.h"
#include "line/launcher.h"
#include "line/mqtt/mqtt_discovery.h"
#include "line/mqtt/mqtt_publisher.h"
#include "line/mqtt/mqtt_source.h"
#include "line/sources/modem/modem_source.h"
#include "line/sources/server/fritz_session.h"
#include "line/name_recorder.h"
#include "line/on_call/on_call_runner.h"
#include "line/sources/server/ncid_session.h"
#include "line/screening/screener.h"
#include "line/sources/server/server_client.h"
#include "line/start_check.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "posix/console.h"
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
constexpr int kExitNoConsole = 3;

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
                   Charset charset) {
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
    for (const std::string& line : answer.lines) output.Print(CaretNotation(label + line, "", charset));
    if (answer.kind == ModemAnswer::kError) output.Print(label + query.command + " refused");
    if (answer.kind == ModemAnswer::kNone) output.Print(label + "no answer to " + query.command);
  }
  output.Print(modem.callerIdCommand().empty() ? "caller ID: none of AT+VCID=1, AT#CID=1, AT%CCID=1 accepted"
                                               : "caller ID: " + modem.callerIdCommand() + " accepted");
  output.Print("every line the modem sends follows; Ctrl-C ends");
  return true;
}

// The host's name for the default topic prefix; empty when it has none.
std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

// The topic prefix annc-line publishes under with --mqtt.
std::string OwnTopicPrefix(const LineOptions& options) {
  return options.mqttTopic.empty() ? DefaultTopicPrefix(HostName()) : options.mqttTopic;
}

// --mqtt-credentials: read into `settings`; false with *error set when the
// file cannot be read.
bool TakeCredentials(const LineOptions& options, Files& files, MqttSettings* settings, std::string* error) {
  if (options.mqttCredentials.empty()) return true;
  ReadCredentials read = ReadCredentialsFile(options.mqttCredentials, files, options.charset);
  if (!read.credentials) {
    *error = read.error;
    return false;
  }
  settings->credentials = std::move(read.credentials);
  return true;
}

// One call source the options name, and what the call tracker and the
// records must know of its kind.
struct LineSource {
  std::string text;  // where its calls' records say they came from (SourceText)
  std::unique_ptr<ServerSession> session;  // a server's: the source reads through it
  std::unique_ptr<CallSource> source;
  ModemSource* modem = nullptr;  // the source, when it is a modem
  bool fritz = false;            // a FRITZ!Box: it says whether a call was answered
  Millis holdBack = TrackerSettings::kDefaultHoldBack;
  Millis ringTimeout = TrackerSettings::kDefaultRingTimeout;
  SourceOutput out;  // where what it hands on goes
};

// All of them, in the order given; at most one is a modem.
struct LineSources {
  std::vector<LineSource> list;
  ModemSource* modem = nullptr;
  int modemIndex = -1;
};

// The sources as given; options made by hand name one in their own fields.
std::vector<LineOptions::SourceArgument> SourcesOf(const LineOptions& options) {
  if (!options.sources.empty()) return options.sources;
  return {LineOptions::SourceArgument{options.device, options.server, options.mqttSource, options.ringTimeoutMs}};
}

// "modem:/dev/ttyACM0", "ncid:HOST:PORT", "fritz:[::1]:1012",
// "mqtt:HOST:PORT": where a call's record says it came from.
std::string SourceText(const LineOptions::SourceArgument& argument) {
  if (argument.mqttSource) {
    const MqttBroker& broker = *argument.mqttSource;
    std::string host = broker.host.find(':') != std::string::npos ? "[" + broker.host + "]" : broker.host;
    return std::string(broker.tls ? "mqtts:" : "mqtt:") + host + ":" + std::to_string(broker.port);
  }
  if (!argument.server) return "modem:" + argument.device;
  const ServerSource& server = *argument.server;
  std::string host = server.host.find(':') != std::string::npos ? "[" + server.host + "]" : server.host;
  return std::string(server.kind->prefix) + host + ":" + std::to_string(server.port);
}

// Empty, or the line that says why annc-line cannot start (the MQTT
// credentials cannot be read).
std::string BuildSource(const LineOptions& options, const LineOptions::SourceArgument& argument,
                        const LineSystem& system, LineSource* built) {
  LineSource& line = *built;
  line.text = SourceText(argument);
  line.ringTimeout = argument.ringTimeoutMs;
  if (argument.mqttSource) {
    MqttSourceSettings settings;
    settings.connection.broker = *argument.mqttSource;
    settings.connection.caFile = options.mqttCa;
    settings.connection.charset = options.charset;
    std::string error;
    if (!TakeCredentials(options, system.files, &settings.connection, &error)) return error;
    settings.follow.follow = options.mqttFollow;
    // A box that publishes too hears its own calls: they are announced already.
    if (options.mqtt) settings.follow.ownPrefix = OwnTopicPrefix(options);
    settings.follow.charset = options.charset;
    line.source = std::make_unique<MqttSource>(std::move(settings));
  } else if (argument.server) {
    if (argument.server->kind->protocol == ServerKind::kFritz) {
      line.session = std::make_unique<FritzSession>(options.filter);
      // The box reports a call it rejects itself as ringing and ended at once.
      line.holdBack = kFritzHoldBackMs;
      line.fritz = true;
    } else {
      // --only-to is a FRITZ!Box's, given beside it: an NCID server does not
      // say which own number was called, and would match none.
      CallFilter filter = options.filter;
      filter.onlyTo.clear();
      line.session = std::make_unique<NcidSession>(filter);
    }
    line.source = std::make_unique<ServerClient>(*argument.server, argument.device, ANNC_LINE_VERSION,
                                                 options.charset, *line.session, system.network);
  } else {
    auto owned = std::make_unique<ModemSource>(
        ModemSettings{argument.device, options.speed, options.init, options.lockDir, options.charset}, system.ports);
    line.modem = owned.get();
    line.source = std::move(owned);
  }
  return std::string();
}

// Every source the options name; empty, or the line that says why
// annc-line cannot start.
std::string BuildSources(const LineOptions& options, const LineSystem& system, LineSources* sources) {
  for (const LineOptions::SourceArgument& argument : SourcesOf(options)) {
    LineSource& line = sources->list.emplace_back();
    if (std::string error = BuildSource(options, argument, system, &line); !error.empty()) return error;
    if (line.modem != nullptr) {
      sources->modem = line.modem;
      sources->modemIndex = static_cast<int>(sources->list.size() - 1);
    }
  }
  return std::string();
}

// A calls log this long is no calls log.
constexpr std::size_t kMaxImportedLogBytes = std::size_t{1} << 30;

// The history --history names (its default place when it names none, its
// folders made); null with --history none, and with *error set when it
// cannot be opened.
std::unique_ptr<CallHistory> OpenHistory(const LineOptions& options, Files& files, std::string* error) {
  if (options.history == "none") return nullptr;
  std::string path = options.history.empty() ? DefaultHistoryFile(files) : options.history;
  std::string folder = FolderOf(path);
  if (!folder.empty()) {
    if (int code = files.MakeFolders(folder, 0700); code != 0) {
      *error = CannotText("make the call history's folder " + CaretNotation(folder, "", options.charset), code);
      return nullptr;
    }
  }
  return CallHistory::Open(path, error, HistorySettings{.charset = options.charset});
}

// --import-log: the calls log read into the history; 0 when the log could
// be read and its calls written.
int ImportLog(const LineOptions& options, Files& files, StatusOutput& output) {
  auto shown = [&options](const std::string& path) { return CaretNotation(path, "", options.charset); };
  std::string text;
  FileStamp stamp;
  if (int error = files.Read(options.importLog, kMaxImportedLogBytes, &text, &stamp); error != 0) {
    output.Status(CannotText("read the calls log " + shown(options.importLog), error));
    return kExitFatal;
  }
  std::string error;
  LineOptions withHistory = options;
  if (withHistory.history == "none") withHistory.history.clear();
  std::unique_ptr<CallHistory> history = OpenHistory(withHistory, files, &error);
  if (history == nullptr) {
    output.Status(error);
    return kExitFatal;
  }
  ImportedLog log = ParseCallsLog(text, options.charset);
  long added = history->Import(log.records, log.lines, &error);
  if (added < 0) {
    output.Status(error);
    return kExitFatal;
  }
  std::string said = "imported " + std::to_string(added) + " of " + std::to_string(log.records.size()) +
                     " calls from " + shown(options.importLog) + " (" +
                     std::to_string(log.records.size() - static_cast<std::size_t>(added)) + " there already)";
  if (log.unreadable > 0) said += "; " + std::to_string(log.unreadable) + " lines unreadable, left out";
  if (log.other > 0) said += "; " + std::to_string(log.other) + " lines of no call";
  output.Status(said);
  return 0;
}

// The launcher and what it is handed; the launcher goes first at the end.
struct LauncherParts {
  std::unique_ptr<Screener> screener;
  std::unique_ptr<ChildNameRecorder> names;
  std::unique_ptr<HistorySink> history;
  std::unique_ptr<OnCallRunner> onCall;
  std::unique_ptr<MqttPublisher> mqtt;
  std::unique_ptr<Launcher> launcher;
};

// --mqtt: the publisher, its credentials read and its first attempt to
// connect made; null with *error set when the credentials cannot be read.
std::unique_ptr<MqttPublisher> StartMqtt(const LineOptions& options, Files& files, StatusOutput& output, Millis now,
                                         std::string* error) {
  MqttPublisherSettings settings;
  settings.connection.broker = *options.mqtt;
  settings.connection.caFile = options.mqttCa;
  settings.connection.charset = options.charset;
  if (!TakeCredentials(options, files, &settings.connection, error)) return nullptr;
  settings.topicPrefix = OwnTopicPrefix(options);
  std::string topicPrefix = settings.topicPrefix;
  auto publisher = std::make_unique<MqttPublisher>(std::move(settings), output);
  if (options.mqttDiscovery) {
    DiscoverySettings discovery;
    discovery.topicPrefix = topicPrefix;
    if (!options.mqttDiscoveryPrefix.empty()) discovery.discoveryPrefix = options.mqttDiscoveryPrefix;
    discovery.hostname = HostName();
    discovery.version = ANNC_LINE_VERSION;
    publisher->SetRetainedAtConnect(DiscoveryMessages(discovery));
  }
  publisher->Begin(now);
  return publisher;
}

// Builds the launcher for the sources' calls; empty, or the line that says why
// annc-line cannot start (a screening list cannot be read).
std::string BuildLauncher(const LineOptions& options, const LineSystem& system, const LineSources& sources,
                          EventLoop& loop, LauncherParts* parts) {
  parts->screener = std::make_unique<Screener>(options.screening, system.files);
  if (std::string error = parts->screener->Start(); !error.empty()) return error;
  std::string logFile = CallLogFile(options);
  const LineSource& first = sources.list.front();
  TrackerSettings tracker{first.ringTimeout, TrackerSettings::kDefaultBlockComplete,
                          TrackerSettings::kDefaultTerminateAfter, first.holdBack, options.charset};
  LauncherSettings settings{options.annc, options.log, logFile, tracker, options.charset, first.text, first.fritz};
  for (const LineSource& line : sources.list) {
    settings.tracker.sources.push_back({CaretNotation(line.text, "", options.charset), line.ringTimeout, line.holdBack});
    settings.sources.push_back({line.text, line.fritz});
  }
  parts->launcher = std::make_unique<Launcher>(settings, system.announcers, system.log, system.output,
                                               BookBesideAnnouncer(options.annc, system.files));
  Launcher& launcher = *parts->launcher;
  std::function<bool()> hangUp;
  if (sources.modem != nullptr && options.blockMode == LineOptions::kHangUp) {
    hangUp = [modem = sources.modem, &loop] { return modem->HangUp(loop.Now()); };
  }
  // Only the modem's own calls are hung up: it holds no other source's line.
  launcher.SetScreener(parts->screener.get(), &system.clock, hangUp, sources.modemIndex);
  launcher.SetDryRun(options.check);
  // annc's own report of an exit code 1 is on the console; the cause is
  // one annc-line can find again, and says.
  launcher.SetDiagnosis([options, logFile, &system] { return SetupProblem(options, logFile, system.files); });
  if (!options.check) {
    std::string error;
    std::unique_ptr<CallHistory> history = OpenHistory(options, system.files, &error);
    if (!error.empty()) return error;
    std::int64_t lastId = 0;
    if (history != nullptr) {
      lastId = history->LargestId();
      parts->history = std::make_unique<HistorySink>(std::move(history), system.output);
      launcher.AddSink(parts->history.get());
    }
    if (!options.onCall.empty()) {
      parts->onCall = std::make_unique<OnCallRunner>(OnCallSettings{options.onCall, options.charset},
                                                     system.processes, system.output);
      launcher.AddSink(parts->onCall.get());
    }
    if (options.mqtt) {
      parts->mqtt = StartMqtt(options, system.files, system.output, loop.Now(), &error);
      if (parts->mqtt == nullptr) return error;
      launcher.AddSink(parts->mqtt.get());
    }
    launcher.SetRecords(&system.clock, lastId);
  }
  if (options.sayNames && !options.check) {
    parts->names = std::make_unique<ChildNameRecorder>(NameSettings{options.voice, options.nameCache, options.charset},
                                                       RealPathOr(options.annc), system);
    launcher.SetNameRecorder(parts->names.get());
  }
  return std::string();
}

// What the service manager is told of several sources: each one's latest
// status, in their order, and READY=1 once every one has started.
class ServiceStatus {
 public:
  ServiceStatus(StatusOutput& output, std::size_t count) : output_(output), status_(count), started_(count, false) {}

  void Report(std::size_t source, const std::string& status, bool ready) {
    status_[source] = status;
    if (ready) started_[source] = true;
    std::string text;
    for (const std::string& each : status_) {
      if (each.empty()) continue;
      if (!text.empty()) text += "; ";
      text += each;
    }
    bool all = std::all_of(started_.begin(), started_.end(), [](bool started) { return started; });
    output_.Service(text, ready && all);
  }

 private:
  StatusOutput& output_;
  std::vector<std::string> status_;
  std::vector<bool> started_;
};

// Where each source's output goes: to the launcher, marked as that source's,
// or with --check (one source) every line printed and what would be
// decided for each caller-ID block.
void ConnectOutputs(const LineOptions& options, const LineSystem& system, Launcher& launcher, ServiceStatus& service,
                    LineSources& sources) {
  for (std::size_t i = 0; i < sources.list.size(); ++i) {
    SourceOutput& out = sources.list[i].out;
    if (options.check) {
      out = CheckOutput(system.output, options.charset);
      out.event = launcher.output().event;
      continue;
    }
    out = launcher.OutputOf(static_cast<int>(i));
    out.service = [&service, i](const std::string& status, bool ready) { service.Report(i, status, ready); };
  }
}

std::vector<LoopSource> Served(LineSources& sources) {
  std::vector<LoopSource> served;
  for (LineSource& line : sources.list) served.push_back(LoopSource{line.source.get(), &line.out});
  return served;
}

// The sources' start-up, served until every one has started (with --check
// a modem is described then) or one has failed (said, *code set). False
// when annc-line is to end.
bool StartUp(const LineOptions& options, const LineSystem& system, EventLoop& loop, LineSources& sources,
             Launcher& launcher, int* code) {
  LoopClient* client = &launcher;
  std::vector<LoopSource> served = Served(sources);
  for (LoopSource& each : served) each.source->Begin(loop.Now(), *each.out);
  auto starting = [&served] {
    return std::any_of(served.begin(), served.end(),
                       [](const LoopSource& each) { return each.source->startup() == CallSource::kStarting; });
  };
  auto failed = [&served]() -> CallSource* {
    for (const LoopSource& each : served) {
      if (each.source->startup() == CallSource::kFailed) return each.source;
    }
    return nullptr;
  };
  bool going = true;
  while (going && failed() == nullptr && starting()) {
    going = loop.Step(served, client);
    if (launcher.Fatal()) {
      *code = kExitFatal;
      return false;
    }
  }
  if (CallSource* source = failed(); going && source != nullptr) {
    system.output.Status(source->FailureText());
    *code = kExitFatal;
    return false;
  }
  if (going && options.check && sources.modem != nullptr) {
    going = DescribeModem(loop, *sources.modem, sources.list.front().out, system.output, options.charset);
  }
  return going;
}

// Calls, until a signal or --once ends them, or a sink that cannot go on
// (*code set then).
void RunCalls(const LineOptions& options, EventLoop& loop, LineSources& sources, Launcher& launcher, int* code) {
  std::vector<LoopSource> served = Served(sources);
  for (;;) {
    if (launcher.Fatal()) {
      *code = kExitFatal;
      return;
    }
    // --once: the first call over, its announcer gone and the modem on hook.
    if (options.once && !options.check && launcher.Done() &&
        (sources.modem == nullptr || !sources.modem->HangingUp())) {
      return;
    }
    if (!loop.Step(served, &launcher)) return;
  }
}

// annc-line's end: STOPPING=1 unless it failed, and the announcer ended.
int End(int code, const LineSystem& system, EventLoop& loop, Launcher& launcher) {
  if (code == 0) system.output.Stopping();
  launcher.Stop(loop);
  return code;
}

}  // namespace

std::string CallLogFile(const LineOptions& options) {
  if (!options.log.empty()) return options.log;
  return ChangeExtension(RealPathOr(options.annc), "log");
}

int RunLine(const LineOptions& options, const LineSystem& system) {
  EventLoop loop(system.clock, system.waiter, system.signals);
  loop.KeepWatchdog(system.output, system.output.WatchdogInterval());
  LineSources sources;
  if (std::string error = BuildSources(options, system, &sources); !error.empty()) {
    system.output.Status(error);
    return kExitFatal;
  }
  LauncherParts parts;
  if (std::string error = BuildLauncher(options, system, sources, loop, &parts); !error.empty()) {
    system.output.Status(error);
    return kExitFatal;
  }
  Launcher& launcher = *parts.launcher;
  ServiceStatus service(system.output, sources.list.size());
  ConnectOutputs(options, system, launcher, service, sources);
  int code = 0;
  if (StartUp(options, system, loop, sources, launcher, &code)) RunCalls(options, loop, sources, launcher, &code);
  return End(code, system, loop, launcher);
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
  if (!options.importLog.empty()) {
    PosixLineSystem posix;
    return ImportLog(options, posix.files, posix.output);
  }
  if (options.annc.empty()) options.annc = FolderOf(ExecutablePath()) + "annc";
  // The console in place of standard input and output before anything
  // looks at them; a service without one fails at once, and says which.
  if (!options.console.empty()) {
    if (int error = TakeConsole(options.console); error != 0) {
      (void)WriteAll(STDERR_FILENO,
                     "annc-line: " + CannotText("open the console " + CaretNotation(options.console, "", options.charset),
                                                error) + "\n");
      return kExitNoConsole;
    }
  }

  PosixLineSystem posix;
  posix.announcers.errorsToConsole = !options.console.empty();
  if (int error = posix.signals.Open(); error != 0) {
    posix.output.Status(CannotText("watch signals", error));
    return kExitFatal;
  }
  if (!options.check) {
    if (std::optional<std::string> problem = SetupProblem(options, CallLogFile(options), posix.files)) {
      posix.output.Status(*problem);
      return kExitFatal;
    }
  }
  if (std::optional<std::string> sound = DefaultSoundDeviceProblem()) {
    posix.output.Status(*sound + ": calls will be beeps");
  }
  // Names are spoken by annc-name, beside annc-line's own executable.
  posix.processes.speaker = FolderOf(ExecutablePath()) + "annc-name";
  return RunLine(options, posix.system());
}

}  // namespace annc
