// Everything annc-line asks of the system, in its own words: the clock, the
// wait for something to happen, the signals, the status output, the modem's
// port, the network, the announcer's process, files and folders, and the
// children that speak callers' names and run the user's programs. The event loop and the
// call sources are handed these explicitly; posix_line_system.h has the real
// implementation and fake_line_system.h the one the unit tests script.
#ifndef ANNC_POSIX_LINE_SYSTEM_H_
#define ANNC_POSIX_LINE_SYSTEM_H_

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "posix/child_process.h"
#include "posix/clock.h"
#include "posix/tcp_client.h"

namespace annc {

// A handle the loop waits on, for reading or for writing; Wait() sets
// `ready` when it is (or reports a hang-up or an error).
struct Watch {
  int handle = -1;
  bool forWriting = false;
  bool ready = false;
};

class Waiter {
 public:
  virtual ~Waiter() = default;
  // Returns when a watched handle is ready or `deadline` has come (at once
  // when it has passed); without a deadline it waits for a handle.
  virtual void Wait(std::vector<Watch>* watches, std::optional<Millis> deadline) = 0;
};

// The signals annc-line handles (SIGINT, SIGTERM, SIGHUP, SIGCHLD), turned
// into a handle that becomes readable when one has come.
class Signals {
 public:
  virtual ~Signals() = default;
  virtual int handle() const = 0;
  // Takes what has come; afterwards Seen() tells which signals did.
  virtual void Take() = 0;
  virtual bool Seen(int signal) const = 0;
  virtual void Clear(int signal) = 0;
};

// Status lines (standard error, "annc-line: " before each) and the lines
// --check prints (standard output).
class StatusOutput {
 public:
  virtual ~StatusOutput() = default;
  virtual void Status(std::string_view text) = 0;
  virtual void Print(std::string_view line) = 0;
  // The announcer has left the screen in the middle of a line (its echo of
  // the modem's "NO CARRIER" and CR): the next status line starts on a
  // line of its own.
  virtual void AnnouncerLeftLine() = 0;
  // What a service manager shows (systemd's STATUS=); `ready` once the
  // source has been set up or connected the first time (READY=1).
  virtual void Service(std::string_view status, bool ready) = 0;
  // annc-line ends as asked (STOPPING=1).
  virtual void Stopping() = 0;
  // How often the service manager wants to hear that annc-line's loop still
  // turns (systemd's WatchdogSec=, WATCHDOG=1); 0 when it does not.
  virtual Millis WatchdogInterval() const { return 0; }
  virtual void Watchdog() {}
};

// What one read gave: bytes (n > 0), the end (n == 0: unplugged, closed by
// the peer) or an error (n < 0, `error` its errno value; EAGAIN and EINTR
// mean nothing now).
struct ReadResult {
  long n = 0;
  int error = 0;
  bool Nothing() const { return n < 0 && (error == 0 || error == EAGAIN || error == EINTR); }
};

// How opening the modem's port went.
struct PortOpening {
  enum Kind {
    kOpen,        // handle
    kOpenFailed,  // error, step: the device cannot be opened or set up
    kInUse,       // owner: the process holding the lock (0 when unknown)
    kLockFailed,  // error: the UUCP lock file cannot be made
  };
  Kind kind = kOpenFailed;
  int handle = -1;
  int error = 0;
  const char* step = "";
  pid_t owner = 0;
};

// The caller-ID modem's serial port, locked the way other modem programs
// expect while it is open.
class ModemPorts {
 public:
  virtual ~ModemPorts() = default;
  // Resolves the device's path, takes the UUCP lock in `lockDir`, opens and
  // sets the port up (raw 8N1 at `speed`) and discards what came before.
  virtual PortOpening Open(const std::string& device, int speed, const std::string& lockDir) = 0;
  // Throws away what the modem sent and nobody read yet.
  virtual void DiscardInput(int handle) = 0;
  virtual bool Write(int handle, std::string_view bytes) = 0;
  // Call it when the handle is ready: it does not wait.
  virtual ReadResult Read(int handle, char* buffer, std::size_t size) = 0;
  // Closes the port (the modem hangs up) and removes the lock.
  virtual void Close(int handle) = 0;
};

// TCP connections to a caller-ID server.
class Network {
 public:
  virtual ~Network() = default;
  // The addresses of `host` at `port`; 0, or the resolver's error code with
  // its text in *error.
  virtual int Resolve(const std::string& host, int port, std::vector<TcpAddress>* addresses, std::string* error) = 0;
  // Starts connecting without waiting: 0 with *handle set and *done telling
  // whether the connection is made already (else wait for the handle to be
  // writable and call FinishConnect), or an errno value with *failed
  // naming the step that failed ("connect", "set SO_KEEPALIVE").
  virtual int StartConnect(const TcpAddress& address, int* handle, bool* done, std::string* failed) = 0;
  virtual int FinishConnect(int handle) = 0;
  virtual ReadResult Read(int handle, char* buffer, std::size_t size) = 0;
  // Sends without waiting; false when the connection is gone or the bytes
  // did not fit.
  virtual bool Send(int handle, std::string_view bytes) = 0;
  virtual void Close(int handle) = 0;
};

// The announcer: one annc process at a time, each with a pseudo-terminal of
// its own as its modem line.
class Announcers {
 public:
  virtual ~Announcers() = default;
  // Starts `program NUMBER /H:N ARGS...`, N being the pseudo-terminal's
  // slave, which the announcer alone inherits. Returns 0 or an errno value
  // (the program is missing or cannot be run).
  virtual int Start(const std::string& program, const std::string& number, const std::vector<std::string>& args) = 0;
  // Writes `bytes` into the announcer's line, without waiting.
  virtual void WriteLine(std::string_view bytes) = 0;
  virtual void Signal(int signal) = 0;
  // Reaps the announcer when it has ended: true then, with `end` filled.
  virtual bool Reap(ChildEnd* end) = 0;
  // Puts the console back as it was before any announcer changed it (one
  // that was killed could not do so itself).
  virtual void RestoreConsole() = 0;
  // Throws away keys typed on the console while no announcer ran, so that
  // the next one does not take them for a key that stops it.
  virtual void DiscardTypedKeys() = 0;
};

// The calls log annc writes, for the calls annc-line logs itself.
class CallLog {
 public:
  virtual ~CallLog() = default;
  // Appends one line to the log `file` as annc writes its call lines, under
  // the same lock: `mark`, a blank, the time, a blank and `message` (the
  // number, " - " and the name, fit for a terminal). Returns 0 or an errno
  // value.
  virtual int Append(const std::string& file, char mark, std::string_view message) = 0;
};

// What tells a changed file from the one read before.
struct FileStamp {
  std::int64_t modifiedNs = 0;  // since the epoch, as the file system keeps it
  std::int64_t size = -1;
  bool operator==(const FileStamp&) const = default;
};

// What is at a path (after its symbolic links, or, in a folder's listing,
// the entry itself).
struct FileInfo {
  enum Kind { kRegular, kFolder, kOther };
  Kind kind = kOther;
  FileStamp stamp;
  // The permission bits (0640): who may read a file of secrets.
  unsigned mode = 0;
};

// One entry of a folder.
struct FolderEntry {
  std::string name;
  FileInfo info;  // the entry itself: a symbolic link is kOther
};

// Files and folders: the lists, the phone book, the name cache and what the
// start checks look at.
class Files {
 public:
  // How a path is to be used.
  enum Use {
    kRun,       // executed
    kRead,      // opened for reading (without waiting for a FIFO's writer)
    kWrite,     // written to
    kMakeIn,    // a folder that files can be made in
  };
  virtual ~Files() = default;
  // What is at `path`; 0 or an errno value.
  virtual int Inspect(const std::string& path, FileInfo* info) = 0;
  // 0 when `path` can be used so, or an errno value.
  virtual int CanUse(const std::string& path, Use use) = 0;
  // A regular file's whole text and the stamp of what was read; 0 or an
  // errno value: EISDIR for a folder, EINVAL for anything else that is not
  // a regular file (a FIFO is turned down without waiting for its writer),
  // EFBIG past `maxBytes`.
  virtual int Read(const std::string& path, std::size_t maxBytes, std::string* text, FileStamp* stamp) = 0;
  // The entries of `folder` but "." and ".."; 0 or an errno value. An entry
  // that goes away while the folder is read may be missing or be kOther.
  virtual int List(const std::string& folder, std::vector<FolderEntry>* entries) = 0;
  // 0 or an errno value.
  virtual int Remove(const std::string& path) = 0;
  // Makes `folder` and the folders above it that are missing, each with
  // `mode`; 0 (also when it is there already) or an errno value (ENOTDIR
  // when something else is in the way).
  virtual int MakeFolders(const std::string& folder, unsigned mode) = 0;
  // Sets the file's modification time to now.
  virtual void Touch(const std::string& path) = 0;
  // Now, on the clock the file system stamps files with (nanoseconds since
  // the epoch).
  virtual std::int64_t FileTimeNow() = 0;
};

// Work that annc-line must not wait for, each piece in a child process of
// its own: the names of callers spoken into recordings, and the programs
// the user has run for each call.
class Processes {
 public:
  virtual ~Processes() = default;
  // Starts speaking `text` in eSpeak NG's voice `voice` into the WAV file
  // `path`: the program annc-name in a child of its own, which writes
  // `path`.tmpID (ID the child's id) and renames it into place. The child
  // holds none of annc-line's descriptors, its signal handling starts
  // afresh, and it gives way to the announcer. Returns the child's id
  // (> 0), or -1 with *error set (also when the program cannot be
  // executed).
  virtual pid_t StartSpeaking(const std::string& text, const std::string& voice, const std::string& path,
                              int* error) = 0;
  // Reaps the child when it has ended, without waiting: true then (and for
  // a child that is not there), *failure being "" when it wrote the
  // recording, else what went wrong in one line (the program's own, as it
  // said it, or how it ended).
  virtual bool Reap(pid_t child, std::string* failure) = 0;
  // Ends the child at once and reaps it.
  virtual void Kill(pid_t child) = 0;

  // Programs the user has annc-line run beside it (--on-call). Each is one
  // executable, run directly with no arguments and no shell, in a process
  // group of its own (its id is the program's), so that what it starts in
  // turn is ended with it. Its environment is annc-line's own without the
  // variables whose names begin with `dropPrefix`, and `environment`
  // (NAME=VALUE each) after it; standard input is /dev/null, standard
  // output and error go into one pipe whose reading end, which does not
  // block, is *output. Returns the program's id (> 0), or -1 with *error
  // set (also when it cannot be executed).
  virtual pid_t RunProgram(const std::string& program, const std::vector<std::string>& environment,
                           const std::string& dropPrefix, int* output, int* error) = 0;
  // Reads what a program wrote; call it when `output` is ready.
  virtual ReadResult ReadProgramOutput(int output, char* buffer, std::size_t size) = 0;
  virtual void CloseProgramOutput(int output) = 0;
  // Sends `signal` to the program's process group; only while the program
  // has not been reaped.
  virtual void SignalProgram(pid_t program, int signal) = 0;
  // Reaps the program when it has ended, without waiting: true then, with
  // `end` filled.
  virtual bool ReapProgram(pid_t program, ChildEnd* end) = 0;
  // For annc-line's end: SIGTERM to the groups of `programs`, at most
  // `graceMs` for them to end, then SIGKILL to the groups of all of them;
  // returns with every one reaped.
  virtual void EndPrograms(const std::vector<pid_t>& programs, Millis graceMs) = 0;
};

// The whole system, handed to annc-line's run as one bundle of references.
struct LineSystem {
  Clock& clock;
  Waiter& waiter;
  Signals& signals;
  StatusOutput& output;
  ModemPorts& ports;
  Network& network;
  Announcers& announcers;
  CallLog& log;
  Files& files;
  Processes& processes;
};

}  // namespace annc

#endif  // ANNC_POSIX_LINE_SYSTEM_H_
