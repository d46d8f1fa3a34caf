#include "posix/fake_line_system.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace annc {
namespace {

// A command as the trace shows it: without its CR.
std::string Shown(std::string_view bytes) {
  std::string text(bytes);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text;
}

}  // namespace

FakeLineSystem::FakeLineSystem() {
  modem = [this](const std::string& command) {
    std::string reply = echo ? command + "\r" : std::string();
    if (command.rfind("ATE0", 0) == 0) echo = false;
    return reply + "\r\nOK\r\n";
  };
}

void FakeLineSystem::Record(const std::string& what) { trace.push_back(std::to_string(now) + what); }

void FakeLineSystem::At(Millis at, std::function<void()> what) { script_.emplace(at, std::move(what)); }

void FakeLineSystem::Raise(int signal) { pending_.insert(signal); }

void FakeLineSystem::ModemSends(const std::string& bytes) {
  if (portOpen_) portInput_ += bytes;
}

void FakeLineSystem::Unplug() {
  plugged_ = false;
  if (portOpen_) portGone_ = true;
}

void FakeLineSystem::Plug() { plugged_ = true; }

void FakeLineSystem::ServerSends(const std::string& bytes) {
  if (socketOpen_) socketInput_ += bytes;
}

void FakeLineSystem::ServerCloses() {
  if (socketOpen_) socketClosed_ = true;
}

void FakeLineSystem::ConnectionMade() {
  if (!connecting_ || connectOutcome_) return;
  connectOutcome_ = 0;
  Accepted();
}

void FakeLineSystem::ConnectionFails(int error) {
  if (connecting_ && !connectOutcome_) connectOutcome_ = error;
}

void FakeLineSystem::ServerDown(int error) {
  down_ = error;
  ServerCloses();
}

void FakeLineSystem::Accepted() {
  socketOpen_ = true;
  socketClosed_ = false;
  socketInput_.clear();
  if (onConnect) onConnect();
}

void FakeLineSystem::AnnouncerExits(int code) { Ended(ChildEnd{true, code, 0}); }

void FakeLineSystem::AnnouncerKilled(int signal) { Ended(ChildEnd{false, 0, signal}); }

void FakeLineSystem::Ended(ChildEnd end) {
  if (!running_) return;
  running_ = false;
  ended_ = end;
  pending_.insert(SIGCHLD);
}

bool FakeLineSystem::MarkReady(std::vector<Watch>* watches) const {
  bool any = false;
  for (Watch& watch : *watches) {
    if (watch.handle == kSignalHandle) watch.ready = !pending_.empty();
    if (watch.handle == kPortHandle) watch.ready = portOpen_ && (portGone_ || !portInput_.empty());
    if (watch.handle == kSocketHandle) {
      if (watch.forWriting) {
        watch.ready = connecting_ ? connectOutcome_.has_value() : socketOpen_;
      } else {
        watch.ready = socketOpen_ && (socketClosed_ || !socketInput_.empty());
      }
    }
    if (ProgramOutputReady(watch.handle)) watch.ready = true;
    any = any || watch.ready;
  }
  return any;
}

void FakeLineSystem::RunDue() {
  while (!script_.empty() && script_.begin()->first <= now) {
    auto what = std::move(script_.begin()->second);
    script_.erase(script_.begin());
    what();
  }
}

void FakeLineSystem::Wait(std::vector<Watch>* watches, std::optional<Millis> deadline) {
  for (;;) {
    RunDue();
    if (MarkReady(watches)) return;
    if (deadline && *deadline <= now) return;
    std::optional<Millis> next = deadline;
    if (!script_.empty() && (!next || script_.begin()->first < *next)) next = script_.begin()->first;
    if (!next || *next > kGiveUpAfter) throw std::runtime_error("the program waits for something that never comes");
    now = std::max(now, *next);
  }
}

void FakeLineSystem::Take() {
  seen_.insert(pending_.begin(), pending_.end());
  pending_.clear();
}

void FakeLineSystem::Status(std::string_view text) { Record(": " + std::string(text)); }

void FakeLineSystem::Print(std::string_view line) { Record("| " + std::string(line)); }

void FakeLineSystem::AnnouncerLeftLine() { Record(" new line"); }

void FakeLineSystem::Service(std::string_view status, bool ready) {
  Record(std::string(ready ? " ready " : " service ") + std::string(status));
}

void FakeLineSystem::Stopping() { Record(" stopping"); }

void FakeLineSystem::Watchdog() { Record(" watchdog"); }

PortOpening FakeLineSystem::Open(const std::string& /*device*/, int /*speed*/, const std::string& /*lockDir*/) {
  Record(" open");
  PortOpening opening;
  if (!openings.empty()) {
    opening = openings.front();
    openings.pop_front();
  } else if (!plugged_) {
    opening.error = ENOENT;
    opening.step = "open";
  } else {
    opening.kind = PortOpening::kOpen;
  }
  if (opening.kind != PortOpening::kOpen) return opening;
  opening.handle = kPortHandle;
  portOpen_ = true;
  portGone_ = false;
  portInput_.clear();
  echo = true;
  return opening;
}

void FakeLineSystem::DiscardInput(int /*handle*/) { portInput_.clear(); }

bool FakeLineSystem::Write(int /*handle*/, std::string_view bytes) {
  if (!portOpen_ || portGone_) return false;
  Record(" > " + Shown(bytes));
  portInput_ += modem(Shown(bytes));
  return true;
}

ReadResult FakeLineSystem::Read(int handle, char* buffer, std::size_t size) {
  ReadResult result;
  bool gone = handle == kPortHandle ? portGone_ : socketClosed_;
  std::string& input = handle == kPortHandle ? portInput_ : socketInput_;
  if (!input.empty()) {
    std::size_t n = std::min(size, input.size());
    std::memcpy(buffer, input.data(), n);
    input.erase(0, n);
    result.n = static_cast<long>(n);
  } else if (gone) {
    result.n = 0;
  } else {
    result.n = -1;
    result.error = EAGAIN;
  }
  return result;
}

void FakeLineSystem::Close(int handle) {
  if (handle == kPortHandle) {
    Record(" close");
    portOpen_ = false;
    portGone_ = false;
    portInput_.clear();
  } else {
    Record(" disconnect");
    socketOpen_ = false;
    socketClosed_ = false;
    socketInput_.clear();
    connecting_ = false;
    connectOutcome_.reset();
  }
}

int FakeLineSystem::Resolve(const std::string& /*host*/, int port, std::vector<TcpAddress>* addresses,
                            std::string* error) {
  if (resolveError) {
    *error = *resolveError;
    return -2;
  }
  for (int i = 0; i < addressCount; ++i) {
    TcpAddress address;
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(static_cast<std::uint16_t>(port));
    in.sin_addr.s_addr = htonl(0xC0000201u + static_cast<std::uint32_t>(i));  // 192.0.2.1 on
    std::memcpy(&address.storage, &in, sizeof in);
    address.length = sizeof in;
    address.family = AF_INET;
    addresses->push_back(address);
  }
  return 0;
}

int FakeLineSystem::StartConnect(const TcpAddress& address, int* handle, bool* done, std::string* /*failed*/) {
  std::string shown;
  if (addressCount > 1) {
    char text[INET_ADDRSTRLEN] = "";
    sockaddr_in in{};
    std::memcpy(&in, &address.storage, sizeof in);
    ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    shown = std::string(" ") + text;
  }
  Record(" connect" + shown);
  int result = 0;
  if (!connects.empty()) {
    result = connects.front();
    connects.pop_front();
  } else if (down_) {
    result = *down_;
  }
  if (result > 0) return result;
  *handle = kSocketHandle;
  *done = result == 0;
  connecting_ = result == kInProgress;
  connectOutcome_.reset();
  if (*done) {
    Accepted();
  } else {
    socketOpen_ = false;
  }
  return 0;
}

int FakeLineSystem::FinishConnect(int /*handle*/) {
  if (!connecting_) return 0;
  int outcome = connectOutcome_.value_or(EINPROGRESS);
  connecting_ = false;
  connectOutcome_.reset();
  return outcome;
}

bool FakeLineSystem::Send(int /*handle*/, std::string_view bytes) {
  if (!socketOpen_ || socketClosed_) return false;
  Record(" send " + Shown(bytes.substr(0, bytes.find('\n'))));
  return true;
}

int FakeLineSystem::Start(const std::string& /*program*/, const std::string& number,
                          const std::vector<std::string>& args) {
  std::string shown = " start " + number;
  for (const std::string& arg : args) shown += " " + arg;
  Record(shown);
  int error = 0;
  if (!startErrors.empty()) {
    error = startErrors.front();
    startErrors.pop_front();
  }
  if (error != 0) return error;
  running_ = true;
  startedAt_ = now;
  ended_.reset();
  ++generation_;
  return 0;
}

void FakeLineSystem::WriteLine(std::string_view bytes) {
  if (!running_) return;
  Record(Shown(bytes) == "NO CARRIER" ? " nocarrier" : " write " + Shown(bytes));
  if (hung || now < startedAt_ + deafAfterStart) return;
  long long which = generation_;
  At(now + exitAfterNoCarrier, [this, which] {
    if (generation_ == which) AnnouncerExits(99);
  });
}

void FakeLineSystem::Signal(int signal) {
  if (!running_) return;
  Record(" signal " + std::to_string(signal));
  if (hung && signal != SIGKILL) return;
  long long which = generation_;
  At(now + 10, [this, which, signal] {
    if (generation_ == which) AnnouncerKilled(signal);
  });
}

bool FakeLineSystem::Reap(ChildEnd* end) {
  if (!ended_) return false;
  *end = *ended_;
  ended_.reset();
  return true;
}

void FakeLineSystem::RestoreConsole() { Record(" console restored"); }

void FakeLineSystem::DiscardTypedKeys() { Record(" keys discarded"); }

int FakeLineSystem::Append(const std::string& file, char mark, std::string_view message) {
  Record(" log " + file + " " + mark + " " + std::string(message));
  return logError;
}

// Files and folders.

void FakeLineSystem::WriteFile(const std::string& path, const std::string& text) {
  FakeFile& file = files[path];
  file.text = text;
  file.modifiedNs = FileTimeNow();
}

int FakeLineSystem::Inspect(const std::string& path, FileInfo* info) {
  if (folders.count(path) != 0) {
    *info = FileInfo{FileInfo::kFolder, FileStamp{0, 0}};
    return 0;
  }
  auto it = files.find(path);
  if (it == files.end()) return ENOENT;
  if (it->second.inspectError != 0) return it->second.inspectError;
  *info = FileInfo{FileInfo::kRegular,
                   FileStamp{it->second.modifiedNs, static_cast<std::int64_t>(it->second.text.size())}, it->second.mode};
  return 0;
}

int FakeLineSystem::CanUse(const std::string& path, Use use) {
  FileInfo info;
  if (int error = Inspect(path, &info); error != 0) return error;
  if (use == kRun && cannotRun.count(path) != 0) return EACCES;
  if (use == kRead && files.count(path) != 0) return files[path].readError;
  return 0;
}

int FakeLineSystem::Read(const std::string& path, std::size_t maxBytes, std::string* text, FileStamp* stamp) {
  text->clear();
  FileInfo info;
  if (int error = Inspect(path, &info); error != 0) return error;
  if (info.kind == FileInfo::kFolder) return EISDIR;
  const FakeFile& file = files[path];
  if (file.readError != 0) return file.readError;
  if (file.text.size() > maxBytes) return EFBIG;
  *text = file.text;
  *stamp = info.stamp;
  return 0;
}

int FakeLineSystem::List(const std::string& folder, std::vector<FolderEntry>* entries) {
  entries->clear();
  if (folders.count(folder) == 0) return files.count(folder) != 0 ? ENOTDIR : ENOENT;
  std::string prefix = folder + "/";
  for (const auto& [path, file] : files) {
    if (path.rfind(prefix, 0) != 0 || path.find('/', prefix.size()) != std::string::npos) continue;
    FolderEntry entry;
    entry.name = path.substr(prefix.size());
    (void)Inspect(path, &entry.info);
    entries->push_back(std::move(entry));
  }
  for (const std::string& path : folders) {
    if (path.rfind(prefix, 0) != 0 || path.find('/', prefix.size()) != std::string::npos) continue;
    entries->push_back(FolderEntry{path.substr(prefix.size()), FileInfo{FileInfo::kFolder, FileStamp{0, 0}}});
  }
  return 0;
}

int FakeLineSystem::Remove(const std::string& path) {
  if (files.erase(path) == 0) return ENOENT;
  Record(" remove " + path);
  return 0;
}

int FakeLineSystem::MakeFolders(const std::string& folder, unsigned) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    std::string part = folder.substr(0, slash);
    if (files.count(part) != 0) return ENOTDIR;
    if (!part.empty()) folders.insert(part);
    if (slash == std::string::npos) return 0;
  }
}

void FakeLineSystem::Touch(const std::string& path) {
  if (auto it = files.find(path); it != files.end()) it->second.modifiedNs = FileTimeNow();
}

// Children.

pid_t FakeLineSystem::StartSpeaking(const std::string& text, const std::string& voice, const std::string& path,
                                    int* error) {
  ChildScript script = kChildEnds;
  if (!children.empty()) {
    script = children.front();
    children.pop_front();
  }
  if (script == kChildCannotStart) {
    *error = ENOMEM;
    return -1;
  }
  pid_t child = ++lastChild_;
  children_[child] = std::nullopt;
  spoken.push_back(text + "|" + voice + "|" + path);
  Record(" child " + std::to_string(child) + " start");
  if (script == kChildEnds) {
    At(now + childTakes, [this, child, path] {
      auto it = children_.find(child);
      if (it == children_.end()) return;  // killed before
      if (speakError.empty()) WriteFile(path, "RIFF");
      it->second = speakError;
      pending_.insert(SIGCHLD);
    });
  }
  return child;
}

bool FakeLineSystem::Reap(pid_t child, std::string* failure) {
  failure->clear();
  auto it = children_.find(child);
  if (it == children_.end()) return true;
  if (!it->second) return false;
  *failure = *it->second;
  children_.erase(it);
  Record(" child " + std::to_string(child) + " reaped");
  return true;
}

void FakeLineSystem::Kill(pid_t child) {
  if (children_.erase(child) == 0) return;
  Record(" child " + std::to_string(child) + " killed");
}

// Programs run beside annc-line.

pid_t FakeLineSystem::RunProgram(const std::string& program, const std::vector<std::string>& environment,
                                 const std::string& dropPrefix, int* output, int* error) {
  ProgramScript script;
  if (!programs.empty()) {
    script = programs.front();
    programs.pop_front();
  }
  std::string event;
  for (const std::string& entry : environment) {
    if (entry.rfind("ANNC_EVENT=", 0) == 0) event = " " + entry;
  }
  if (script.cannotStart) {
    Record(" run failed " + program + event);
    *error = ENOENT;
    return -1;
  }
  pid_t pid = ++lastRun_;
  Record(" run " + std::to_string(pid) + " " + program + event);
  programEnvironments[pid] = environment;
  programDropPrefixes[pid] = dropPrefix;
  ProgramRun& run = runs_[pid];
  run.output = ++lastOutput_;
  run.written = script.output;
  run.ignoresTerm = script.ignoresTerm;
  *output = run.output;
  if (script.takes >= 0) {
    At(now + script.takes, [this, pid, code = script.exitCode] { ProgramEnds(pid, ChildEnd{true, code, 0}); });
  }
  return pid;
}

void FakeLineSystem::ProgramWrites(pid_t program, const std::string& bytes) {
  auto it = runs_.find(program);
  if (it != runs_.end() && !it->second.end) it->second.written += bytes;
}

void FakeLineSystem::ProgramEnds(pid_t program, ChildEnd end) {
  auto it = runs_.find(program);
  if (it == runs_.end() || it->second.end) return;
  it->second.end = end;
  pending_.insert(SIGCHLD);
}

std::size_t FakeLineSystem::ProgramsRunning() const {
  return static_cast<std::size_t>(std::count_if(runs_.begin(), runs_.end(), [](const auto& run) {
    return !run.second.end;
  }));
}

bool FakeLineSystem::ProgramOutputReady(int handle) const {
  for (const auto& [pid, run] : runs_) {
    if (run.output == handle && run.pipeOpen) return !run.written.empty() || run.end.has_value();
  }
  return false;
}

ReadResult FakeLineSystem::ReadProgramOutput(int output, char* buffer, std::size_t size) {
  ReadResult result{-1, EBADF};
  for (auto& [pid, run] : runs_) {
    if (run.output != output || !run.pipeOpen) continue;
    if (!run.written.empty()) {
      std::size_t n = std::min(size, run.written.size());
      std::memcpy(buffer, run.written.data(), n);
      run.written.erase(0, n);
      return ReadResult{static_cast<long>(n), 0};
    }
    return run.end ? ReadResult{0, 0} : ReadResult{-1, EAGAIN};
  }
  return result;
}

void FakeLineSystem::CloseProgramOutput(int output) {
  for (auto& [pid, run] : runs_) {
    if (run.output == output) run.pipeOpen = false;
  }
}

void FakeLineSystem::SignalProgram(pid_t program, int signal) {
  auto it = runs_.find(program);
  if (it == runs_.end() || it->second.reaped) {
    throw std::logic_error("a signal to the group of a program already reaped");
  }
  Record(" kill -" + std::to_string(signal) + " group " + std::to_string(program));
  if (it->second.end || (signal != SIGKILL && it->second.ignoresTerm)) return;
  At(now + 10, [this, program, signal] { ProgramEnds(program, ChildEnd{false, 0, signal}); });
}

bool FakeLineSystem::ReapProgram(pid_t program, ChildEnd* end) {
  auto it = runs_.find(program);
  if (it == runs_.end() || it->second.reaped || !it->second.end) return false;
  *end = *it->second.end;
  it->second.reaped = true;
  Record(" run " + std::to_string(program) + " reaped");
  return true;
}

void FakeLineSystem::EndPrograms(const std::vector<pid_t>& programs, Millis /*graceMs*/) {
  // The grace passes at once: what SIGTERM ends has ended by its end.
  for (pid_t program : programs) {
    auto it = runs_.find(program);
    if (it == runs_.end() || it->second.reaped) continue;
    Record(" kill -15 group " + std::to_string(program));
    if (!it->second.ignoresTerm && !it->second.end) it->second.end = ChildEnd{false, 0, SIGTERM};
  }
  for (pid_t program : programs) {
    auto it = runs_.find(program);
    if (it == runs_.end() || it->second.reaped) continue;
    Record(" kill -9 group " + std::to_string(program));
    if (!it->second.end) it->second.end = ChildEnd{false, 0, SIGKILL};
    it->second.reaped = true;
    Record(" run " + std::to_string(program) + " reaped");
  }
}

// Whether `wanted` appear in `trace` in this order (others may come between).
bool InOrder(const std::vector<std::string>& trace, const std::vector<std::string>& wanted) {
  auto at = trace.begin();
  for (const std::string& line : wanted) {
    at = std::find(at, trace.end(), line);
    if (at == trace.end()) return false;
    ++at;
  }
  return true;
}

std::string Shown(const std::vector<std::string>& trace) {
  std::string text;
  for (const std::string& line : trace) text += "  " + line + "\n";
  return text;
}

}  // namespace annc
