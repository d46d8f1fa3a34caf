#include "line/ncid_client.h"

#include <cerrno>
#include <cstring>

#include "platform/errors.h"
#include "text/terminal_text.h"

namespace annc {
namespace {

constexpr std::size_t kReadBytes = 4096;

}  // namespace

NcidClient::NcidClient(NcidSource server, std::string device, std::string_view version, Network& network)
    : server_(std::move(server)), device_(std::move(device)), network_(network), hello_(NcidHello(version)) {
  std::string host = CaretNotation(server_.host, "");
  if (server_.host.find(':') != std::string::npos) host = "[" + host + "]";
  shown_ = host + ":" + std::to_string(server_.port);
}

void NcidClient::Begin(Millis now, const SourceOutput& /*out*/) { Connect(now); }

std::string NcidClient::FailureText() const { return CaretNotation(device_, "") + ": " + lastError_; }

void NcidClient::Connect(Millis now) {
  CloseSocket();
  addresses_.clear();
  next_ = 0;
  std::string error;
  if (network_.Resolve(server_.host, server_.port, &addresses_, &error) != 0) {
    lastError_ = "cannot find the host: " + error;
    Failed(now);
    return;
  }
  TryAddress(now);
}

// Tries the addresses from next_ on until one connects or is in progress.
void NcidClient::TryAddress(Millis now) {
  for (; next_ < addresses_.size(); ++next_) {
    bool done = false;
    int fd = -1;
    if (int error = network_.StartConnect(addresses_[next_], &fd, &done); error != 0) {
      lastError_ = CannotText("connect", error);
      continue;
    }
    fd_ = fd;
    if (done) {
      OnConnected();
    } else {
      state_ = kConnecting;
      deadline_ = now + kConnectMs;
    }
    return;
  }
  Failed(now);
}

void NcidClient::OnConnected() {
  state_ = kConnected;
  startup_ = kStarted;
  session_.Reset();
  // The server waits only a few milliseconds for the greeting. It fits any
  // socket buffer: a short send means the connection is already gone, which
  // the next read reports.
  (void)network_.Send(fd_, hello_);
}

void NcidClient::Failed(Millis now) {
  CloseSocket();
  if (startup_ == kStarting) startup_ = kFailed;
  state_ = kWaiting;
  deadline_ = now + backoff_.Next();
}

void NcidClient::Lost(Millis now, const SourceOutput& out, const std::string& why) {
  if (!outageReported_) {
    out.status("connection to NCID server " + shown_ + " lost (" + why + "); connecting again");
    outageReported_ = true;
  }
  out.event(CallEvent{CallEvent::kSourceLost, {}, {}});
  Failed(now);
}

std::optional<Millis> NcidClient::NextDeadline() const {
  if (state_ == kConnected || startup_ == kFailed) return std::nullopt;
  return deadline_;
}

void NcidClient::OnReady(Millis now, const SourceOutput& out) {
  if (state_ == kConnecting) {
    if (int error = network_.FinishConnect(fd_); error != 0) {
      lastError_ = CannotText("connect", error);
      CloseSocket();
      ++next_;
      TryAddress(now);
    } else {
      OnConnected();
    }
    return;
  }
  if (state_ == kConnected) ReadSome(now, out);
}

void NcidClient::ReadSome(Millis now, const SourceOutput& out) {
  char buffer[kReadBytes];
  ReadResult read = network_.Read(fd_, buffer, sizeof buffer);
  if (read.Nothing()) return;
  if (read.n <= 0) {
    Lost(now, out, read.n == 0 ? "closed by the server" : SystemErrorText(read.error));
    return;
  }
  if (session_.Feed(std::string_view(buffer, static_cast<std::size_t>(read.n)), out)) {
    backoff_.Reset();
    outageReported_ = false;
    out.status("connected to NCID server " + shown_);
  }
}

void NcidClient::OnTimer(Millis now, const SourceOutput& /*out*/) {
  if (state_ == kConnected || startup_ == kFailed || now < deadline_) return;
  if (state_ == kWaiting) {
    Connect(now);
  } else if (state_ == kConnecting) {
    lastError_ = CannotText("connect", ETIMEDOUT);
    CloseSocket();
    ++next_;
    TryAddress(now);
  }
}

void NcidClient::CloseSocket() {
  if (fd_ >= 0) network_.Close(fd_);
  fd_ = -1;
}

}  // namespace annc
