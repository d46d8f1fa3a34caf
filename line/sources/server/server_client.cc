#include "line/sources/server/server_client.h"

#include <cerrno>

#include "platform/errors.h"
#include "text/terminal_text.h"

namespace annc {
namespace {

constexpr std::size_t kReadBytes = 4096;

}  // namespace

ServerClient::ServerClient(ServerSource server, std::string device, std::string_view version, Charset charset,
                           ServerSession& session, Network& network)
    : server_(std::move(server)), device_(std::move(device)), charset_(charset), session_(session), network_(network) {
  if (server_.kind->hello != nullptr) hello_ = server_.kind->hello(version);
  std::string shown = CaretNotation(server_.host, "", charset_);
  if (server_.host.find(':') != std::string::npos) shown = "[" + shown + "]";
  shown_ = shown + ":" + std::to_string(server_.port);
}

void ServerClient::Begin(Millis now, const SourceOutput& out) { Connect(now, out); }

std::string ServerClient::FailureText() const {
  return CaretNotation(device_, "", charset_) + ": " + lastError_;
}

void ServerClient::Connect(Millis now, const SourceOutput& out) {
  CloseSocket();
  addresses_.clear();
  next_ = 0;
  std::string error;
  if (network_.Resolve(server_.host, server_.port, &addresses_, &error) != 0) {
    lastError_ = "cannot find the host: " + error;
    Failed(now, out);
    return;
  }
  TryAddress(now, out);
}

// Tries the addresses from next_ on until one connects or is in progress.
void ServerClient::TryAddress(Millis now, const SourceOutput& out) {
  for (; next_ < addresses_.size(); ++next_) {
    bool done = false;
    int fd = -1;
    std::string failed = "connect";
    if (int error = network_.StartConnect(addresses_[next_], &fd, &done, &failed); error != 0) {
      lastError_ = ConnectFailure(failed, error);
      continue;
    }
    fd_ = fd;
    if (done) {
      OnConnected(now, out);
    } else {
      state_ = kConnecting;
      deadline_ = now + kConnectMs;
    }
    return;
  }
  Failed(now, out);
}

void ServerClient::OnConnected(Millis now, const SourceOutput& out) {
  state_ = kConnected;
  session_.Reset();
  // An NCID server waits only a few milliseconds for the greeting. It fits
  // any socket buffer: a short send means the connection is already gone,
  // which the next read reports.
  if (!hello_.empty()) (void)network_.Send(fd_, hello_);
  if (session_.Live()) {
    Live(out);  // nothing to wait for: calls come from the connection on
  } else {
    startupDeadline_ = now + kStartupMs;
  }
}

void ServerClient::Live(const SourceOutput& out) {
  startupDeadline_.reset();
  startup_ = kStarted;
  backoff_.Reset();
  attempts_ = 0;
  outageReported_ = false;
  notServerReported_ = false;
  out.status("connected to " + Named());
  out.service("connected to " + shown_, true);
}

std::string ServerClient::Named() const { return std::string(server_.kind->name) + " " + shown_; }

std::string ServerClient::ConnectFailure(const std::string& step, int error) const {
  std::string text = CannotText(step, error);
  std::string_view hint = server_.kind->refusedHint;
  if (error == ECONNREFUSED && !hint.empty()) text += "; " + std::string(hint);
  return text;
}

void ServerClient::Failed(Millis now, const SourceOutput& out) {
  CloseSocket();
  state_ = kWaiting;
  if (startup_ == kStarting) {
    startup_ = kFailed;
    return;
  }
  deadline_ = now + backoff_.Next();
  if (++attempts_ % kSayAttemptsEvery == 0) {
    out.status("still trying " + Named() + ", attempt " + std::to_string(attempts_) + " (" + lastError_ + ")");
  }
}

void ServerClient::Lost(Millis now, const SourceOutput& out, const std::string& why) {
  if (startup_ == kStarting) startup_ = kStarted;  // reached once: from now on it is tried again
  if (!outageReported_) {
    out.status("connection to " + Named() + " lost (" + why + "); connecting again");
    out.service("connecting again to " + shown_, false);
    outageReported_ = true;
  }
  out.event(CallEvent{CallEvent::kSourceLost, {}, {}});
  lastError_ = why;
  Failed(now, out);
}

std::optional<Millis> ServerClient::NextDeadline() const {
  if (startup_ == kFailed) return std::nullopt;
  if (state_ == kConnected) return startupDeadline_;
  return deadline_;
}

void ServerClient::OnReady(Millis now, const SourceOutput& out) {
  if (state_ == kConnecting) {
    if (int error = network_.FinishConnect(fd_); error != 0) {
      lastError_ = ConnectFailure("connect", error);
      CloseSocket();
      ++next_;
      TryAddress(now, out);
    } else {
      OnConnected(now, out);
    }
    return;
  }
  if (state_ == kConnected) ReadSome(now, out);
}

void ServerClient::ReadSome(Millis now, const SourceOutput& out) {
  char buffer[kReadBytes];
  ReadResult read = network_.Read(fd_, buffer, sizeof buffer);
  if (read.Nothing()) return;
  if (read.n <= 0) {
    Lost(now, out, read.n == 0 ? "closed by the server" : SystemErrorText(read.error));
    return;
  }
  std::size_t before = session_.lines();
  std::size_t cutBefore = session_.cutLines();
  bool wentLive = session_.Feed(std::string_view(buffer, static_cast<std::size_t>(read.n)), out);
  if (cutBefore == 0 && session_.cutLines() > 0) {
    // Said once a connection: a server that sends nothing but long lines
    // does not fill the screen.
    out.status(Named() + " sent a line longer than " + std::to_string(ServerSession::kMaxLine) +
               " bytes; it was cut there (later ones on this connection are cut without a word)");
  }
  if (before == 0 && session_.lines() > 0 && !session_.Greeted()) {
    lastError_ = "not " + std::string(server_.kind->noun) + " (its first line is no greeting)";
    if (startup_ == kStarting) {
      CloseSocket();
      startup_ = kFailed;
      return;
    }
    if (!notServerReported_)
      out.status(CaretNotation(device_, "", charset_) + ": " + lastError_ + "; connecting again");
    notServerReported_ = true;
    out.event(CallEvent{CallEvent::kSourceLost, {}, {}});
    Failed(now, out);
    return;
  }
  if (session_.lines() > 0 && startup_ == kStarting) startup_ = kStarted;
  if (wentLive) Live(out);
}

void ServerClient::OnTimer(Millis now, const SourceOutput& out) {
  if (startup_ == kFailed) return;
  if (state_ == kConnected) {
    if (startupDeadline_ && now >= *startupDeadline_) {
      startupDeadline_.reset();
      Lost(now, out, "it said nothing for " + std::to_string(kStartupMs / 1000) + " s");
    }
    return;
  }
  if (now < deadline_) return;
  if (state_ == kWaiting) {
    Connect(now, out);
  } else if (state_ == kConnecting) {
    lastError_ = CannotText("connect", ETIMEDOUT);
    CloseSocket();
    ++next_;
    TryAddress(now, out);
  }
}

void ServerClient::CloseSocket() {
  if (fd_ >= 0) network_.Close(fd_);
  fd_ = -1;
}

}  // namespace annc
