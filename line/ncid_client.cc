#include "line/ncid_client.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "text/terminal_text.h"

namespace annc {
namespace {

constexpr std::size_t kReadBytes = 4096;

}  // namespace

NcidClient::NcidClient(NcidSource server, std::string_view version)
    : server_(std::move(server)), hello_(NcidHello(version)) {
  std::string host = CaretNotation(server_.host, "");
  if (server_.host.find(':') != std::string::npos) host = "[" + host + "]";
  shown_ = host + ":" + std::to_string(server_.port);
}

void NcidClient::Begin(Millis now) {
  CloseSocket();
  addresses_.clear();
  next_ = 0;
  std::string error;
  if (ResolveTcp(server_.host, server_.port, &addresses_, &error) != 0) {
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
    if (int error = StartTcpConnect(addresses_[next_], &fd, &done); error != 0) {
      lastError_ = std::string("cannot connect: ") + std::strerror(error);
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
  session_.Reset();
  // The server waits only a few milliseconds for the greeting. It fits any
  // socket buffer: a short send means the connection is already gone, which
  // the next read reports.
  (void)::send(fd_, hello_.data(), hello_.size(), MSG_NOSIGNAL);
}

void NcidClient::Failed(Millis now) {
  CloseSocket();
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

std::optional<Millis> NcidClient::NextAttempt() const {
  if (state_ == kConnected) return std::nullopt;
  return deadline_;
}

void NcidClient::OnReady(Millis now, const SourceOutput& out) {
  if (state_ == kConnecting) {
    if (int error = FinishTcpConnect(fd_); error != 0) {
      lastError_ = std::string("cannot connect: ") + std::strerror(error);
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
  ssize_t n = ::read(fd_, buffer, sizeof buffer);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    Lost(now, out, n == 0 ? "closed by the server" : std::strerror(errno));
    return;
  }
  if (session_.Feed(std::string_view(buffer, static_cast<std::size_t>(n)), out)) {
    backoff_.Reset();
    outageReported_ = false;
    out.status("connected to NCID server " + shown_);
  }
}

void NcidClient::OnTimer(Millis now, const SourceOutput& /*out*/) {
  if (state_ == kConnected || now < deadline_) return;
  if (state_ == kWaiting) {
    Begin(now);
  } else if (state_ == kConnecting) {
    lastError_ = std::string("cannot connect: ") + std::strerror(ETIMEDOUT);
    CloseSocket();
    ++next_;
    TryAddress(now);
  }
}

void NcidClient::CloseSocket() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace annc
