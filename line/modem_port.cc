#include "line/modem_port.h"

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "line/line_classifier.h"
#include "platform/files.h"
#include "posix/serial_port.h"
#include "text/caseless.h"

namespace annc {
namespace {

constexpr const char* kCallerIdCommands[] = {"AT+VCID=1", "AT#CID=1", "AT%CCID=1"};

// An --init command that sets the caller-ID mode itself (AT+VCID=2 for the
// raw packet, say): once the modem took it, annc-line leaves the mode alone.
bool SetsCallerIdMode(std::string_view command) {
  for (std::string_view prefix : {"AT+VCID=", "AT#CID=", "AT%CCID="}) {
    if (command.size() > prefix.size() && SameAsciiIgnoringCase(command.substr(0, prefix.size()), prefix)) return true;
  }
  return false;
}
constexpr std::size_t kMaxAnswerLines = 32;

long long NowMs() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

bool EndRequested(const SignalPipe& signals) {
  return signals.Seen(SIGINT) || signals.Seen(SIGTERM) || signals.Seen(SIGHUP);
}

}  // namespace

ModemSetup ModemPort::Open() {
  Close();
  ModemSetup setup;
  char resolved[PATH_MAX];
  if (::realpath(options_.device.c_str(), resolved) == nullptr) {
    setup.error = errno;
    setup.step = "open";
    return setup;
  }
  LockOutcome locked = lock_.Acquire(options_.lockDir, UucpLockName(resolved));
  if (locked.kind == LockOutcome::kInUse) {
    setup.kind = ModemSetup::kInUse;
    setup.owner = locked.owner;
    return setup;
  }
  if (locked.kind == LockOutcome::kFailed) {
    setup.kind = ModemSetup::kLockFailed;
    setup.error = locked.error;
    return setup;
  }
  SerialPortOpen port = OpenSerialPort(resolved, options_.speed);
  if (port.fd < 0) {
    lock_.Release();
    setup.error = port.error;
    setup.step = port.step;
    if (port.error == EWOULDBLOCK || port.error == EBUSY) setup.kind = ModemSetup::kInUse;
    return setup;
  }
  fd_ = port.fd;
  reader_.Reset();
  leftover_.clear();
  setup = Initialise();
  if (setup.kind != ModemSetup::kReady) Close();
  return setup;
}

ModemSetup ModemPort::Initialise() {
  ModemSetup setup;
  auto stopped = [&setup](const ModemAnswer& answer) {
    if (answer.kind == ModemAnswer::kLost) setup.kind = ModemSetup::kLost;
    if (answer.kind == ModemAnswer::kInterrupted) setup.kind = ModemSetup::kInterrupted;
    return answer.kind == ModemAnswer::kLost || answer.kind == ModemAnswer::kInterrupted;
  };
  (void)::tcflush(fd_, TCIFLUSH);
  ModemAnswer reset = Command("ATZ", true);
  if (reset.kind == ModemAnswer::kNone) reset = Command("ATZ", true);
  if (stopped(reset)) return setup;
  if (reset.kind == ModemAnswer::kNone) {
    setup.kind = ModemSetup::kNoAnswer;
    return setup;
  }

  std::vector<std::string> commands = {"ATE0V1Q0"};
  commands.insert(commands.end(), options_.init.begin(), options_.init.end());
  for (const std::string& command : commands) {
    ModemAnswer answer = Command(command);
    if (stopped(answer)) return setup;
    if (answer.kind == ModemAnswer::kError) setup.warnings.push_back("the modem refused " + command);
    if (answer.kind == ModemAnswer::kNone) setup.warnings.push_back("no answer to " + command);
    if (answer.kind == ModemAnswer::kOk && SetsCallerIdMode(command)) setup.callerIdCommand = command;
  }
  for (const char* command : kCallerIdCommands) {
    if (!setup.callerIdCommand.empty()) break;
    ModemAnswer answer = Command(command);
    if (stopped(answer)) return setup;
    if (answer.kind == ModemAnswer::kOk) {
      setup.callerIdCommand = command;
      break;
    }
  }
  setup.kind = ModemSetup::kReady;
  return setup;
}

void ModemPort::Close() {
  if (fd_ >= 0) CloseSerialPort(fd_);
  fd_ = -1;
  reader_.Reset();
  leftover_.clear();
  lock_.Release();
}

bool ModemPort::Send(std::string_view bytes) { return WriteAll(fd_, bytes) == 0; }

ModemAnswer ModemPort::Command(std::string_view command, bool numericResults) {
  ModemAnswer answer;
  if (fd_ < 0) {
    answer.kind = ModemAnswer::kLost;
    return answer;
  }
  reader_.Reset();
  leftover_.clear();
  if (!Send(std::string(command) + "\r")) {
    answer.kind = ModemAnswer::kLost;
    return answer;
  }
  bool answered = false;
  auto onLine = [&](std::string_view line) {
    if (answered) {
      leftover_.emplace_back(line);
      return;
    }
    if (line == command) return;  // the modem's echo
    ClassifiedLine classified = ClassifyLine(line);
    if (classified.kind == ClassifiedLine::kOk || (numericResults && line == "0")) {
      answer.kind = ModemAnswer::kOk;
      answered = true;
    } else if (classified.kind == ClassifiedLine::kError || (numericResults && line == "4")) {
      answer.kind = ModemAnswer::kError;
      answered = true;
    } else if (answer.lines.size() < kMaxAnswerLines) {
      answer.lines.emplace_back(line);
    }
  };

  const long long deadline = NowMs() + kAnswerMs;
  while (!answered) {
    long long left = deadline - NowMs();
    if (left <= 0) break;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {signals_.fd(), POLLIN, 0}};
    int ready = ::poll(fds, 2, static_cast<int>(left));
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents & POLLIN) {
      signals_.Take();
      if (EndRequested(signals_)) {
        answer.kind = ModemAnswer::kInterrupted;
        return answer;
      }
    }
    if (fds[0].revents == 0) continue;
    char buffer[ModemPort::kMaxLine];
    ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      answer.kind = ModemAnswer::kLost;
      return answer;
    }
    reader_.Feed(std::string_view(buffer, static_cast<std::size_t>(n)), onLine);
  }
  return answer;
}

void ModemPort::TakeLeftover(const std::function<void(std::string_view)>& onLine) {
  while (!leftover_.empty()) {
    std::string line = std::move(leftover_.front());
    leftover_.pop_front();
    onLine(line);
  }
}

bool ModemPort::ReadLines(const std::function<void(std::string_view)>& onLine) {
  TakeLeftover(onLine);
  if (fd_ < 0) return false;
  char buffer[ModemPort::kMaxLine];
  ssize_t n = ::read(fd_, buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (n <= 0) return false;
  reader_.Feed(std::string_view(buffer, static_cast<std::size_t>(n)), onLine);
  return true;
}

}  // namespace annc
