// annc-line's system over POSIX: the monotonic clock, poll, the signal
// pipe, standard error and output, serial ports under UUCP locks, TCP
// sockets, and annc run on a pseudo-terminal of its own.
#ifndef ANNC_POSIX_POSIX_LINE_SYSTEM_H_
#define ANNC_POSIX_POSIX_LINE_SYSTEM_H_

#include <termios.h>

#include <map>
#include <memory>

#include "posix/line_system.h"
#include "posix/pseudo_terminal.h"
#include "posix/signal_pipe.h"
#include "posix/uucp_lock.h"

namespace annc {

class PosixClock : public Clock {
 public:
  Millis Now() override;
  int MinuteOfDay() override;
  std::int64_t WallMicros() override;
};

class PollWaiter : public Waiter {
 public:
  explicit PollWaiter(Clock& clock) : clock_(clock) {}
  void Wait(std::vector<Watch>* watches, std::optional<Millis> deadline) override;

 private:
  Clock& clock_;
};

// SIGINT, SIGTERM, SIGHUP and SIGCHLD through a pipe; SIGPIPE ignored, so
// that a closed standard error shows as a failed write.
class PipeSignals : public Signals {
 public:
  // Returns 0 or an errno value.
  int Open();
  int handle() const override { return pipe_.fd(); }
  void Take() override { pipe_.Take(); }
  bool Seen(int signal) const override { return pipe_.Seen(signal); }
  void Clear(int signal) override { pipe_.Clear(signal); }

 private:
  SignalPipe pipe_;
};

// Status lines never hold annc-line up: each is written whole without
// waiting, on a description of standard error of annc-line's own (the
// announcer shares the original, which stays blocking); what does not fit
// (a pipe nobody reads, a console stopped with Ctrl-S) is dropped, and the
// count is said once lines flow again.
class StandardStreams : public StatusOutput {
 public:
  StandardStreams();
  ~StandardStreams() override;
  void Status(std::string_view text) override;
  void Print(std::string_view line) override;
  void AnnouncerLeftLine() override;
  void Service(std::string_view status, bool ready) override;
  void Stopping() override;
  Millis WatchdogInterval() const override;
  void Watchdog() override;

 private:
  struct Stream {
    int fd = -1;
    bool own = false;       // opened here, non-blocking
    bool socket = false;    // sent with MSG_DONTWAIT instead
    std::size_t dropped = 0;
    bool midLine = false;  // a line was cut short
  };
  static Stream Open(int fd);
  static void Write(Stream& stream, std::string line);

  Stream error_;
  Stream output_;
  bool sharesScreen_ = false;  // standard error shows where the announcer writes
  bool newLine_ = false;
};

class SerialModemPorts : public ModemPorts {
 public:
  ~SerialModemPorts() override;
  PortOpening Open(const std::string& device, int speed, const std::string& lockDir) override;
  void DiscardInput(int handle) override;
  bool Write(int handle, std::string_view bytes) override;
  ReadResult Read(int handle, char* buffer, std::size_t size) override;
  void Close(int handle) override;

 private:
  std::map<int, std::unique_ptr<UucpLock>> locks_;  // one per open port
};

class TcpNetwork : public Network {
 public:
  int Resolve(const std::string& host, int port, std::vector<TcpAddress>* addresses, std::string* error) override;
  int StartConnect(const TcpAddress& address, int* handle, bool* done, std::string* failed) override;
  int FinishConnect(int handle) override;
  ReadResult Read(int handle, char* buffer, std::size_t size) override;
  bool Send(int handle, std::string_view bytes) override;
  void Close(int handle) override;
};

class PtyAnnouncers : public Announcers {
 public:
  PtyAnnouncers();
  ~PtyAnnouncers() override;
  int Start(const std::string& program, const std::string& number, const std::vector<std::string>& args) override;
  void WriteLine(std::string_view bytes) override;
  void Signal(int signal) override;
  bool Reap(ChildEnd* end) override;
  void RestoreConsole() override;
  void DiscardTypedKeys() override;

  // --console: the announcer's standard error is the console too (annc-line's
  // own stays where its status lines go).
  bool errorsToConsole = false;

 private:
  PseudoTerminal pty_;
  pid_t pid_ = -1;
  bool consoleSaved_ = false;
  termios console_{};
};

// annc's calls log, written with annc's own line format and lock.
class FileCallLog : public CallLog {
 public:
  int Append(const std::string& file, char mark, std::string_view message) override;
};

// The file system as it is.
class SystemFiles : public Files {
 public:
  int Inspect(const std::string& path, FileInfo* info) override;
  int CanUse(const std::string& path, Use use) override;
  int Read(const std::string& path, std::size_t maxBytes, std::string* text, FileStamp* stamp) override;
  int List(const std::string& folder, std::vector<FolderEntry>* entries) override;
  int Remove(const std::string& path) override;
  int MakeFolders(const std::string& folder, unsigned mode) override;
  void Touch(const std::string& path) override;
  std::int64_t FileTimeNow() override;
};

// Children forked from annc-line, each executing a program: names are
// spoken by `speaker`, which annc-line's main sets (annc-name beside its
// own executable; eSpeak NG never comes into annc-line's process).
class ForkedProcesses : public Processes {
 public:
  ~ForkedProcesses() override;
  std::string speaker;

  pid_t StartSpeaking(const std::string& text, const std::string& voice, const std::string& path,
                      int* error) override;
  bool Reap(pid_t child, std::string* failure) override;
  void Kill(pid_t child) override;

  // Programs run beside annc-line.
  pid_t RunProgram(const std::string& program, const std::vector<std::string>& environment,
                   const std::string& dropPrefix, int* output, int* error) override;
  ReadResult ReadProgramOutput(int output, char* buffer, std::size_t size) override;
  void CloseProgramOutput(int output) override;
  void SignalProgram(pid_t program, int signal) override;
  bool ReapProgram(pid_t program, ChildEnd* end) override;
  void EndPrograms(const std::vector<pid_t>& programs, Millis graceMs) override;

 private:
  // The reading end of each speaking child's output, for its failure.
  std::map<pid_t, int> speaking_;
};

// All of them, for annc-line's main.
struct PosixLineSystem {
  PosixClock clock;
  PollWaiter waiter{clock};
  PipeSignals signals;
  StandardStreams output;
  SerialModemPorts ports;
  TcpNetwork network;
  PtyAnnouncers announcers;
  FileCallLog log;
  SystemFiles files;
  ForkedProcesses processes;

  LineSystem system() {
    return LineSystem{clock, waiter, signals, output, ports, network, announcers, log, files, processes};
  }
};

}  // namespace annc

#endif  // ANNC_POSIX_POSIX_LINE_SYSTEM_H_
