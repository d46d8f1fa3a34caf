// annc-line's system for unit tests: a clock that moves only when the
// program waits, and a modem, a caller-ID server and an announcer that a
// test scripts. Everything the program does to them is written to a trace,
// one line each, led by the time: "3000 > ATZ" (a command to the modem),
// "3000 start 5551234 /L:x.log", "3000 nocarrier", "3000 signal 15",
// "3000: status text", "3000| a printed line", "3000 console restored".
#ifndef ANNC_POSIX_FAKE_LINE_SYSTEM_H_
#define ANNC_POSIX_FAKE_LINE_SYSTEM_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "posix/line_system.h"

namespace annc {

class FakeLineSystem : public Clock,
                       public Waiter,
                       public Signals,
                       public StatusOutput,
                       public ModemPorts,
                       public Network,
                       public Announcers,
                       public CallLog,
                       public Files,
                       public Processes {
 public:
  static constexpr int kSignalHandle = 3;
  static constexpr int kPortHandle = 10;
  static constexpr int kSocketHandle = 20;
  // A program still waiting this long after the scripted events is stuck.
  static constexpr Millis kGiveUpAfter = 24LL * 3600 * 1000;

  FakeLineSystem();

  LineSystem system() { return LineSystem{*this, *this, *this, *this, *this, *this, *this, *this, *this, *this}; }

  // Runs `what` when the clock reaches `at`.
  void At(Millis at, std::function<void()> what);
  void Raise(int signal);

  // The modem. `modem` gives the bytes it answers a command with (no CR);
  // the default echoes until ATE0 and answers OK to everything.
  std::function<std::string(const std::string& command)> modem;
  bool echo = true;
  std::deque<PortOpening> openings;  // what the next Open calls give; then kOpen
  void ModemSends(const std::string& bytes);
  void Unplug();  // the port reads its end, and opening it fails with ENOENT
  void Plug();

  // The server. Each connection attempt takes the front of `connects` (0:
  // accepted; kInProgress: left in progress until the script calls
  // ConnectionMade or ConnectionFails, or for ever; an errno value:
  // refused); when empty, attempts are accepted, or refused while the
  // server is down.
  static constexpr int kInProgress = -1;
  std::deque<int> connects;
  std::optional<std::string> resolveError;  // the host cannot be found
  // The host's addresses: 192.0.2.1, 192.0.2.2 and so on. With more than
  // one, each "connect" in the trace names its address
  // ("3000 connect 192.0.2.2").
  int addressCount = 1;
  std::function<void()> onConnect;  // the server's greeting, say
  void ServerSends(const std::string& bytes);
  void ServerCloses();
  // The attempt in progress ends: its handle becomes writable, and
  // FinishConnect gives 0 (made) or `error`.
  void ConnectionMade();
  void ConnectionFails(int error);
  // The server goes away: it closes the connection, and attempts fail with
  // `error` until it is back.
  void ServerDown(int error);
  void ServerBack() { down_.reset(); }

  // The announcer. Each start takes the front of `startErrors` (0: it
  // starts); when empty, starts work. A running announcer ends with 99
  // `exitAfterNoCarrier` ms after NO CARRIER and with the signal 10 ms after
  // SIGTERM or SIGKILL, unless `hung` (then only SIGKILL ends it).
  // A NO CARRIER written within `deafAfterStart` ms of the start is lost
  // (annc throws away what waits on its line when it takes the line over).
  std::deque<int> startErrors;
  bool hung = false;
  Millis exitAfterNoCarrier = 50;
  Millis deafAfterStart = 0;
  void AnnouncerExits(int code);
  void AnnouncerKilled(int signal);
  bool AnnouncerRunning() const { return running_; }

  Millis now = 0;
  std::vector<std::string> trace;

  // Clock, Waiter, Signals, StatusOutput
  Millis Now() override { return now; }
  // The local time of day at `now` == 0, in minutes; it moves with `now`.
  int startMinute = 12 * 60;
  int MinuteOfDay() override { return static_cast<int>((startMinute + now / 60000) % 1440); }
  // The calendar's time at `now` == 0, in microseconds; it moves with `now`.
  std::int64_t startWallMicros = 1796846400LL * 1000000;  // 2026-12-09 20:00 UTC
  std::int64_t WallMicros() override { return startWallMicros + now * 1000; }
  void Wait(std::vector<Watch>* watches, std::optional<Millis> deadline) override;
  int handle() const override { return kSignalHandle; }
  void Take() override;
  bool Seen(int signal) const override { return seen_.count(signal) != 0; }
  void Clear(int signal) override { seen_.erase(signal); }
  void Status(std::string_view text) override;
  void Print(std::string_view line) override;
  void AnnouncerLeftLine() override;
  void Service(std::string_view status, bool ready) override;
  void Stopping() override;
  // The watchdog's interval as the service manager would give it; each
  // WATCHDOG=1 is traced as "TIME watchdog".
  Millis watchdogMs = 0;
  Millis WatchdogInterval() const override { return watchdogMs; }
  void Watchdog() override;
  // ModemPorts
  PortOpening Open(const std::string& device, int speed, const std::string& lockDir) override;
  void DiscardInput(int handle) override;
  bool Write(int handle, std::string_view bytes) override;
  ReadResult Read(int handle, char* buffer, std::size_t size) override;
  void Close(int handle) override;
  // Network
  int Resolve(const std::string& host, int port, std::vector<TcpAddress>* addresses, std::string* error) override;
  int StartConnect(const TcpAddress& address, int* handle, bool* done, std::string* failed) override;
  int FinishConnect(int handle) override;
  bool Send(int handle, std::string_view bytes) override;
  // Announcers
  int Start(const std::string& program, const std::string& number, const std::vector<std::string>& args) override;
  void WriteLine(std::string_view bytes) override;
  void Signal(int signal) override;
  bool Reap(ChildEnd* end) override;
  void RestoreConsole() override;
  void DiscardTypedKeys() override;
  // CallLog: "TIME log FILE MARK NUMBER - NAME"; `logError` fails it.
  int logError = 0;
  int Append(const std::string& file, char mark, std::string_view message) override;

  // Files and folders, by path. A file's stamp is the file time when it
  // was last written; Touch() moves it to now. `readError`, `inspectError`
  // and `useError` make it fail in those ways; `cannotRun` paths cannot be
  // executed. Folders are only known when made or listed here.
  struct FakeFile {
    std::string text;
    std::int64_t modifiedNs = 0;
    int readError = 0;
    int inspectError = 0;
    unsigned mode = 0600;
  };
  std::map<std::string, FakeFile> files;
  std::set<std::string> folders;
  std::set<std::string> cannotRun;
  // The file time at `now` == 0; it moves with `now`, a millisecond a step.
  std::int64_t fileTimeAtStart = 1700000000LL * 1000000000;
  // Writes (or rewrites) a file, stamped now and with a new size.
  void WriteFile(const std::string& path, const std::string& text);
  // Files
  int Inspect(const std::string& path, FileInfo* info) override;
  int CanUse(const std::string& path, Use use) override;
  int Read(const std::string& path, std::size_t maxBytes, std::string* text, FileStamp* stamp) override;
  int List(const std::string& folder, std::vector<FolderEntry>* entries) override;
  int Remove(const std::string& path) override;
  int MakeFolders(const std::string& folder, unsigned mode) override;
  void Touch(const std::string& path) override;
  std::int64_t FileTimeNow() override { return fileTimeAtStart + now * 1000000; }

  // Names spoken: each StartSpeaking takes the front of `children` (when
  // empty: one that ends) and appends its text, voice and path to `spoken`
  // ("TEXT|VOICE|PATH"). A child that ends does so `childTakes` ms after its
  // start (SIGCHLD), having written "RIFF" into its path, or else failed
  // with `speakError`, which Reap gives; one that hangs never ends until
  // killed; one that cannot start fails with ENOMEM. The trace shows "TIME
  // child N start", "TIME child N reaped" and "TIME child N killed".
  enum ChildScript { kChildEnds, kChildHangs, kChildCannotStart };
  std::deque<ChildScript> children;
  Millis childTakes = 200;
  std::string speakError;
  std::vector<std::string> spoken;
  std::size_t ChildrenLeft() const { return children_.size(); }
  // Processes
  pid_t StartSpeaking(const std::string& text, const std::string& voice, const std::string& path,
                      int* error) override;
  bool Reap(pid_t child, std::string* failure) override;
  void Kill(pid_t child) override;

  // Programs run beside annc-line. Each run takes the front of `programs`
  // (when empty: one that writes nothing and ends with 0). A run writes its
  // `output` at once and ends `takes` ms after its start with `exitCode`
  // (never, when `takes` < 0); a signal to its group ends it 10 ms later,
  // unless it ignores SIGTERM. The trace shows "TIME run 4243 PROGRAM
  // ANNC_EVENT=call" (the event only; `programEnvironments` has the whole
  // environment given, `programDropPrefixes` what of annc-line's own was
  // to be left out), "TIME kill -15 group 4243" and "TIME run 4243
  // reaped"; a run that cannot start fails with ENOENT.
  struct ProgramScript {
    std::string output;
    Millis takes = 100;
    int exitCode = 0;
    bool ignoresTerm = false;
    bool cannotStart = false;
  };
  std::deque<ProgramScript> programs;
  std::map<pid_t, std::vector<std::string>> programEnvironments;
  std::map<pid_t, std::string> programDropPrefixes;
  // What the script has a running program do.
  void ProgramWrites(pid_t program, const std::string& bytes);
  void ProgramEnds(pid_t program, ChildEnd end);
  std::size_t ProgramsRunning() const;
  pid_t RunProgram(const std::string& program, const std::vector<std::string>& environment,
                   const std::string& dropPrefix, int* output, int* error) override;
  ReadResult ReadProgramOutput(int output, char* buffer, std::size_t size) override;
  void CloseProgramOutput(int output) override;
  void SignalProgram(pid_t program, int signal) override;
  bool ReapProgram(pid_t program, ChildEnd* end) override;
  void EndPrograms(const std::vector<pid_t>& programs, Millis graceMs) override;

 private:
  // A program's run: its pipe (open until closed here), what waits in it,
  // and its end once it came.
  struct ProgramRun {
    int output = -1;
    std::string written;
    bool ignoresTerm = false;
    bool pipeOpen = true;
    std::optional<ChildEnd> end;
    bool reaped = false;  // its pipe may still be read
  };
  bool ProgramOutputReady(int handle) const;

  void Record(const std::string& what);
  bool MarkReady(std::vector<Watch>* watches) const;
  void RunDue();
  void Ended(ChildEnd end);
  // The server takes the connection: it is open, and onConnect runs.
  void Accepted();

  std::multimap<Millis, std::function<void()>> script_;
  std::set<int> pending_;
  std::set<int> seen_;
  // The modem's port.
  bool plugged_ = true;
  bool portOpen_ = false;
  bool portGone_ = false;
  std::string portInput_;
  // The connection.
  bool socketOpen_ = false;
  bool socketClosed_ = false;
  std::string socketInput_;
  bool connecting_ = false;            // an attempt in progress
  std::optional<int> connectOutcome_;  // how it ended, once it did
  std::optional<int> down_;            // the error attempts fail with
  // The announcer.
  bool running_ = false;
  std::optional<ChildEnd> ended_;
  long long generation_ = 0;  // which announcer a scheduled end is for
  Millis startedAt_ = 0;
  // The children: which have not been reaped, and which of them ended.
  // Each child's end: none while it runs, else its failure ("" when it spoke).
  std::map<pid_t, std::optional<std::string>> children_;
  pid_t lastChild_ = 100;
  // The programs' runs, by id.
  std::map<pid_t, ProgramRun> runs_;
  pid_t lastRun_ = 4242;
  int lastOutput_ = 1000;
};

// Whether `wanted` appear in `trace` in this order (others may come between).
bool InOrder(const std::vector<std::string>& trace, const std::vector<std::string>& wanted);
// The trace one line an entry, for a failing test's message.
std::string Shown(const std::vector<std::string>& trace);

}  // namespace annc

#endif  // ANNC_POSIX_FAKE_LINE_SYSTEM_H_
