#include "posix/fake_line_system.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>

#include <algorithm>
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

}  // namespace annc
