#include "posix/posix_line_system.h"

#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <string_view>

#include "log/log_writer.h"
#include "platform/files.h"
#include "posix/console.h"
#include "posix/serial_port.h"
#include "posix/systemd_notify.h"

namespace annc {

Millis PosixClock::Now() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<Millis>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

int PosixClock::MinuteOfDay() {
  time_t now = ::time(nullptr);
  tm local{};
  if (::localtime_r(&now, &local) == nullptr) return 0;
  return local.tm_hour * 60 + local.tm_min;
}

std::int64_t PosixClock::WallMicros() {
  timespec t{};
  ::clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

void PollWaiter::Wait(std::vector<Watch>* watches, std::optional<Millis> deadline) {
  int timeout = -1;
  if (deadline) {
    Millis left = *deadline - clock_.Now();
    timeout = left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
  }
  std::vector<pollfd> fds;
  fds.reserve(watches->size());
  for (const Watch& watch : *watches) {
    fds.push_back(pollfd{watch.handle, static_cast<short>(watch.forWriting ? POLLOUT : POLLIN), 0});
  }
  int ready = ::poll(fds.data(), static_cast<nfds_t>(fds.size()), timeout);
  for (std::size_t i = 0; i < fds.size(); ++i) (*watches)[i].ready = ready > 0 && fds[i].revents != 0;
}

int PipeSignals::Open() {
  if (int error = pipe_.Open({SIGINT, SIGTERM, SIGHUP, SIGCHLD}); error != 0) return error;
  ::signal(SIGPIPE, SIG_IGN);
  return 0;
}

StandardStreams::StandardStreams() {
  error_ = Open(STDERR_FILENO);
  output_ = Open(STDOUT_FILENO);
  struct stat err {}, out {};
  if (::fstat(STDERR_FILENO, &err) == 0 && ::fstat(STDOUT_FILENO, &out) == 0) {
    sharesScreen_ = (err.st_dev == out.st_dev && err.st_ino == out.st_ino) ||
                    (S_ISCHR(err.st_mode) && S_ISCHR(out.st_mode) && err.st_rdev == out.st_rdev);
  }
}

StandardStreams::~StandardStreams() {
  for (Stream* stream : {&error_, &output_}) {
    if (stream->own) ::close(stream->fd);
  }
}

// A regular file never blocks: written as it is. A pipe or a terminal gets
// a description of its own, opened anew through /proc, so that O_NONBLOCK
// touches nobody else's; a socket is sent to without waiting.
StandardStreams::Stream StandardStreams::Open(int fd) {
  Stream stream;
  stream.fd = fd;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISREG(st.st_mode)) return stream;
  if (S_ISSOCK(st.st_mode)) {
    stream.socket = true;
    return stream;
  }
  std::string path = "/proc/self/fd/" + std::to_string(fd);
  int own = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_APPEND);
  if (own >= 0) {
    stream.fd = own;
    stream.own = true;
  }
  return stream;
}

void StandardStreams::Write(Stream& stream, std::string line) {
  if (stream.midLine) line.insert(0, "\n");
  if (stream.dropped > 0) {
    line.insert(stream.midLine ? 1 : 0, "annc-line: " + std::to_string(stream.dropped) +
                                            " status lines dropped while standard error was blocked\n");
  }
  ssize_t n = stream.socket ? ::send(stream.fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL)
              : stream.own  ? ::write(stream.fd, line.data(), line.size())
                            : (WriteAll(stream.fd, line) == 0 ? static_cast<ssize_t>(line.size()) : -1);
  if (n == static_cast<ssize_t>(line.size())) {
    stream.dropped = 0;
    stream.midLine = false;
    return;
  }
  ++stream.dropped;
  if (n > 0) stream.midLine = true;
}

void StandardStreams::Status(std::string_view text) {
  std::string line = newLine_ ? "\n" : "";
  newLine_ = false;
  line += "annc-line: ";
  line.append(text);
  line += '\n';
  Write(error_, std::move(line));
}

void StandardStreams::Print(std::string_view text) {
  std::string line(text);
  line += '\n';
  Write(output_, std::move(line));
}

void StandardStreams::AnnouncerLeftLine() { newLine_ = sharesScreen_; }

void StandardStreams::Service(std::string_view status, bool ready) {
  if (ready) {
    NotifyReady(status);
  } else {
    NotifyStatus(status);
  }
}

void StandardStreams::Stopping() { NotifyStopping(); }

Millis StandardStreams::WatchdogInterval() const { return NotifyWatchdogInterval(); }

void StandardStreams::Watchdog() { NotifyWatchdog(); }

SerialModemPorts::~SerialModemPorts() {
  while (!locks_.empty()) Close(locks_.begin()->first);
}

PortOpening SerialModemPorts::Open(const std::string& device, int speed, const std::string& lockDir) {
  PortOpening opening;
  char resolved[PATH_MAX];
  if (::realpath(device.c_str(), resolved) == nullptr) {
    opening.error = errno;
    opening.step = "open";
    return opening;
  }
  auto lock = std::make_unique<UucpLock>();
  LockOutcome locked = lock->Acquire(lockDir, UucpLockName(resolved));
  if (locked.kind == LockOutcome::kInUse) {
    opening.kind = PortOpening::kInUse;
    opening.owner = locked.owner;
    return opening;
  }
  if (locked.kind == LockOutcome::kFailed) {
    opening.kind = PortOpening::kLockFailed;
    opening.error = locked.error;
    return opening;
  }
  SerialPortOpen port = OpenSerialPort(resolved, speed);
  if (port.fd < 0) {
    opening.error = port.error;
    opening.step = port.step;
    if (port.error == EWOULDBLOCK || port.error == EBUSY) opening.kind = PortOpening::kInUse;
    return opening;  // the lock goes with `lock`
  }
  opening.kind = PortOpening::kOpen;
  opening.handle = port.fd;
  locks_[port.fd] = std::move(lock);
  return opening;
}

void SerialModemPorts::DiscardInput(int handle) { (void)::tcflush(handle, TCIFLUSH); }

bool SerialModemPorts::Write(int handle, std::string_view bytes) { return WriteAll(handle, bytes) == 0; }

ReadResult SerialModemPorts::Read(int handle, char* buffer, std::size_t size) {
  ReadResult result;
  result.n = static_cast<long>(::read(handle, buffer, size));
  result.error = result.n < 0 ? errno : 0;
  return result;
}

void SerialModemPorts::Close(int handle) {
  CloseSerialPort(handle);
  locks_.erase(handle);  // releases the lock
}

int TcpNetwork::Resolve(const std::string& host, int port, std::vector<TcpAddress>* addresses, std::string* error) {
  return ResolveTcp(host, port, addresses, error);
}

int TcpNetwork::StartConnect(const TcpAddress& address, int* handle, bool* done, std::string* failed) {
  return StartTcpConnect(address, handle, done, failed);
}

int TcpNetwork::FinishConnect(int handle) { return FinishTcpConnect(handle); }

ReadResult TcpNetwork::Read(int handle, char* buffer, std::size_t size) {
  ReadResult result;
  result.n = static_cast<long>(::read(handle, buffer, size));
  result.error = result.n < 0 ? errno : 0;
  return result;
}

bool TcpNetwork::Send(int handle, std::string_view bytes) {
  ssize_t n = ::send(handle, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  return n == static_cast<ssize_t>(bytes.size());
}

void TcpNetwork::Close(int handle) { ::close(handle); }

PtyAnnouncers::PtyAnnouncers() {
  consoleSaved_ = ::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &console_) == 0;
}

PtyAnnouncers::~PtyAnnouncers() { ClosePseudoTerminal(&pty_); }

int PtyAnnouncers::Start(const std::string& program, const std::string& number, const std::vector<std::string>& args) {
  if (pid_ > 0) return EBUSY;
  if (int error = OpenPseudoTerminal(&pty_); error != 0) return error;
  std::vector<std::string> argv = {program, number, "/H:" + std::to_string(pty_.slave)};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_t pid = -1;
  int error = SpawnWithDescriptor(argv, pty_.slave, &pid, errorsToConsole);
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

void PtyAnnouncers::WriteLine(std::string_view bytes) {
  // The master does not block: an announcer that reads nothing cannot hold
  // annc-line up, and the few bytes always fit.
  if (pty_.master >= 0) (void)!::write(pty_.master, bytes.data(), bytes.size());
}

void PtyAnnouncers::Signal(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
}

bool PtyAnnouncers::Reap(ChildEnd* end) {
  if (pid_ <= 0 || !ReapChild(pid_, end)) return false;
  pid_ = -1;
  ClosePseudoTerminal(&pty_);
  return true;
}

void PtyAnnouncers::DiscardTypedKeys() {
  // From the background the terminal is not annc-line's to touch (and the
  // next announcer does not read it before it is in front either).
  if (::isatty(STDIN_FILENO) == 1 && ConsoleInFront()) (void)::tcflush(STDIN_FILENO, TCIFLUSH);
}

void PtyAnnouncers::RestoreConsole() {
  // Only while annc-line is in the foreground: a background process that
  // touches the terminal is stopped.
  if (consoleSaved_ && ConsoleInFront()) (void)::tcsetattr(STDIN_FILENO, TCSANOW, &console_);
}

}  // namespace annc

namespace annc {

int FileCallLog::Append(const std::string& file, char mark, std::string_view message) {
  return AppendCallLogLine(file, mark, message);
}

namespace {

FileInfo InfoOf(const struct stat& st) {
  FileInfo info;
  info.kind = S_ISREG(st.st_mode) ? FileInfo::kRegular : S_ISDIR(st.st_mode) ? FileInfo::kFolder : FileInfo::kOther;
  info.stamp = FileStamp{static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                         static_cast<std::int64_t>(st.st_size)};
  info.mode = static_cast<unsigned>(st.st_mode & 07777);
  return info;
}

int ReadOpen(int fd, std::size_t maxBytes, std::string* text, FileStamp* stamp) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) return EFBIG;
  *stamp = InfoOf(st).stamp;
  // A file that grows while it is read is read up to the limit and one
  // byte beyond, which tells that it went past it.
  text->resize(static_cast<std::size_t>(st.st_size) + 1);
  std::size_t got = 0;
  for (;;) {
    if (got == text->size()) {
      if (text->size() > maxBytes) return EFBIG;
      text->resize(std::min(text->size() * 2, maxBytes + 1));
    }
    ssize_t n = ::read(fd, text->data() + got, text->size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  text->resize(got);
  return 0;
}

}  // namespace

int SystemFiles::Inspect(const std::string& path, FileInfo* info) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno;
  *info = InfoOf(st);
  return 0;
}

int SystemFiles::CanUse(const std::string& path, Use use) {
  if (use == kRead) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno;
    ::close(fd);
    return 0;
  }
  int mode = use == kRun ? X_OK : use == kWrite ? W_OK : W_OK | X_OK;
  return ::access(path.c_str(), mode) == 0 ? 0 : errno;
}

int SystemFiles::Read(const std::string& path, std::size_t maxBytes, std::string* text, FileStamp* stamp) {
  text->clear();
  // O_NONBLOCK: a FIFO must not wait for a writer before it is turned down.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return errno;
  int error = ReadOpen(fd, maxBytes, text, stamp);
  ::close(fd);
  if (error != 0) text->clear();
  return error;
}

int SystemFiles::List(const std::string& folder, std::vector<FolderEntry>* entries) {
  entries->clear();
  std::error_code error;
  std::filesystem::directory_iterator it(folder, error);
  if (error) return error.value();
  for (std::filesystem::directory_iterator end; it != end; it.increment(error)) {
    if (error) return error.value();
    FolderEntry entry;
    entry.name = it->path().filename().string();
    // The entry itself, not what a link points to; one gone meanwhile
    // stays kOther.
    struct stat st;
    if (::lstat(it->path().c_str(), &st) == 0) entry.info = InfoOf(st);
    entries->push_back(std::move(entry));
  }
  return error.value();
}

int SystemFiles::Remove(const std::string& path) {
  std::error_code error;
  if (std::filesystem::remove(path, error)) return 0;
  return error ? error.value() : ENOENT;
}

int SystemFiles::MakeFolders(const std::string& folder, unsigned mode) {
  if (folder.empty()) return ENOENT;
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    std::string part = folder.substr(0, slash);
    if (!part.empty() && ::mkdir(part.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) return errno;
    if (slash == std::string::npos) break;
  }
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

void SystemFiles::Touch(const std::string& path) { (void)::utimensat(AT_FDCWD, path.c_str(), nullptr, 0); }

std::int64_t SystemFiles::FileTimeNow() {
  timespec t{};
  ::clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

namespace {

// A child's work gives way to annc, which must speak in time.
constexpr int kChildNiceness = 10;

}  // namespace

// Programs run beside annc-line.

namespace {

// Runs in the child between fork and exec: system calls only.
[[noreturn]] void ExecProgram(char* const* argv, char* const* envp, int input, int output, int report, pid_t parent) {
  // A group of its own: a signal to it reaches what the program started.
  ::setpgid(0, 0);
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != parent) ::_exit(127);
  // Handlers go at exec by themselves; what annc-line ignores (SIGPIPE) or
  // blocks must not carry over.
  for (int sig = 1; sig < NSIG; ++sig) ::signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (::dup2(input, STDIN_FILENO) < 0 || ::dup2(output, STDOUT_FILENO) < 0 || ::dup2(output, STDERR_FILENO) < 0) {
    int error = errno;
    (void)!::write(report, &error, sizeof error);
    ::_exit(127);
  }
  // Everything else goes, but the report pipe, which closes itself at exec.
  if (report > 3) (void)::close_range(3, static_cast<unsigned>(report) - 1, 0);
  (void)::close_range(static_cast<unsigned>(report) + 1, ~0U, 0);
  (void)::setpriority(PRIO_PROCESS, 0, kChildNiceness);
  ::execve(argv[0], argv, envp);
  int error = errno;
  (void)!::write(report, &error, sizeof error);
  ::_exit(127);
}

// Starts argv[0] in a child of its own with `envp`, standard input
// /dev/null and standard output and error into a pipe whose reading end,
// which does not block, is *output. The writing end does not block either
// when `dropWhenFull`: a child that says more than the pipe holds loses
// the rest rather than waiting. Returns the child's id, or -1 with *error
// set (also when the program cannot be executed).
pid_t StartChild(char* const* argv, char* const* envp, bool dropWhenFull, int* output, int* error) {
  int out[2] = {-1, -1};
  int report[2] = {-1, -1};
  int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (input < 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(report, O_CLOEXEC) != 0 ||
      (dropWhenFull && ::fcntl(out[1], F_SETFL, ::fcntl(out[1], F_GETFL) | O_NONBLOCK) != 0)) {
    *error = errno;
    for (int fd : {input, out[0], out[1], report[0], report[1]}) {
      if (fd >= 0) ::close(fd);
    }
    return -1;
  }
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) ExecProgram(argv, envp, input, out[1], report[1], parent);
  int forkError = errno;
  for (int fd : {input, out[1], report[1]}) ::close(fd);
  if (pid < 0) {
    ::close(out[0]);
    ::close(report[0]);
    *error = forkError;
    return -1;
  }
  // Both sides set the group, so that it is there whichever runs first (the
  // child's own exec makes this one fail, harmlessly).
  (void)::setpgid(pid, pid);
  int execError = 0;
  ssize_t n;
  while ((n = ::read(report[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  if (n == static_cast<ssize_t>(sizeof execError)) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    ::close(out[0]);
    *error = execError != 0 ? execError : ENOEXEC;
    return -1;
  }
  ::fcntl(out[0], F_SETFL, ::fcntl(out[0], F_GETFL) | O_NONBLOCK);
  *output = out[0];
  return pid;
}

}  // namespace

pid_t ForkedProcesses::RunProgram(const std::string& program, const std::vector<std::string>& environment,
                                  const std::string& dropPrefix, int* output, int* error) {
  // Everything the child needs is made before the fork.
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    if (!dropPrefix.empty() && text.substr(0, dropPrefix.size()) == dropPrefix) continue;
    entries.emplace_back(text);
  }
  entries.insert(entries.end(), environment.begin(), environment.end());
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string path = program;
  char* argv[] = {path.data(), nullptr};
  return StartChild(argv, envp.data(), false, output, error);
}

// Names spoken by annc-name.

namespace {

// What annc-name says before its one line of failure.
constexpr std::string_view kSpeakerPrefix = "annc-name: ";
// The most of a failing child's output read.
constexpr std::size_t kFailureBytes = 512;

// The failure of a speaking child that ended as `end`, from what it wrote.
std::string SpeakingFailure(const ChildEnd& end, std::string_view said) {
  if (end.exited && end.code == 0) return {};
  std::string_view line = said.substr(0, said.find('\n'));
  if (line.substr(0, kSpeakerPrefix.size()) == kSpeakerPrefix) line.remove_prefix(kSpeakerPrefix.size());
  if (!line.empty()) return std::string(line);
  if (end.exited) return "annc-name ended with exit code " + std::to_string(end.code);
  return "annc-name was ended by signal " + std::to_string(end.signal);
}

}  // namespace

ForkedProcesses::~ForkedProcesses() {
  for (auto& [child, output] : speaking_) ::close(output);
}

pid_t ForkedProcesses::StartSpeaking(const std::string& text, const std::string& voice, const std::string& path,
                                     int* error) {
  // "--" first: a name that begins with "-" is still a name.
  std::vector<std::string> args = {speaker, "--voice", voice, "--", text, path};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int output = -1;
  pid_t child = StartChild(argv.data(), environ, true, &output, error);
  if (child > 0) speaking_[child] = output;
  return child;
}

bool ForkedProcesses::Reap(pid_t child, std::string* failure) {
  failure->clear();
  if (child <= 0) return true;
  int status = 0;
  pid_t got;
  while ((got = ::waitpid(child, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (got == 0) return false;
  ChildEnd end;  // a child that is not there counts as one that spoke
  end.exited = got != child || WIFEXITED(status);
  if (got == child) {
    end.code = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
    end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  std::string said;
  if (auto it = speaking_.find(child); it != speaking_.end()) {
    said.resize(kFailureBytes);
    ssize_t n;
    while ((n = ::read(it->second, said.data(), said.size())) < 0 && errno == EINTR) {
    }
    said.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    ::close(it->second);
    speaking_.erase(it);
  }
  *failure = SpeakingFailure(end, said);
  return true;
}

void ForkedProcesses::Kill(pid_t child) {
  if (child <= 0) return;
  ::kill(child, SIGKILL);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (auto it = speaking_.find(child); it != speaking_.end()) {
    ::close(it->second);
    speaking_.erase(it);
  }
}

ReadResult ForkedProcesses::ReadProgramOutput(int output, char* buffer, std::size_t size) {
  ReadResult result;
  result.n = static_cast<long>(::read(output, buffer, size));
  result.error = result.n < 0 ? errno : 0;
  return result;
}

void ForkedProcesses::CloseProgramOutput(int output) {
  if (output >= 0) ::close(output);
}

void ForkedProcesses::SignalProgram(pid_t program, int signal) {
  // The group is there from the start (both sides of the fork set it); the
  // program alone is signalled should it have left it.
  if (program > 0 && ::kill(-program, signal) != 0 && errno == ESRCH) ::kill(program, signal);
}

bool ForkedProcesses::ReapProgram(pid_t program, ChildEnd* end) { return program > 0 && ReapChild(program, end); }

void ForkedProcesses::EndPrograms(const std::vector<pid_t>& programs, Millis graceMs) {
  for (pid_t program : programs) SignalProgram(program, SIGTERM);
  // Waited for without reaping: a program that has ended stays a zombie,
  // which keeps its group's id from going to another process until the
  // SIGKILL below has reached what is left of the group.
  auto ended = [](pid_t program) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(program), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
           info.si_pid != 0;
  };
  for (Millis waited = 0; waited < graceMs; waited += 10) {
    if (std::all_of(programs.begin(), programs.end(), ended)) break;
    timespec step{0, 10 * 1000000};
    ::nanosleep(&step, nullptr);
  }
  for (pid_t program : programs) SignalProgram(program, SIGKILL);
  for (pid_t program : programs) {
    while (program > 0 && ::waitpid(program, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

}  // namespace annc
