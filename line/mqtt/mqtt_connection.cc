#include "line/mqtt/mqtt_connection.h"

#include <mosquitto.h>
#include <netdb.h>
#include <poll.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <utility>

#include "line/mqtt/mosquitto_library.h"
#include "platform/errors.h"

namespace annc {
namespace {

// The CONNACK codes (MQTT 3.1.1) that no second try can change.
constexpr int kBadUserOrPassword = 4;
constexpr int kNotAuthorised = 5;

}  // namespace

MqttConnection::MqttConnection(MqttSettings settings, StatusOutput& output, Handlers handlers)
    : settings_(std::move(settings)), output_(output), handlers_(std::move(handlers)) {
  library_ = Mosquitto(&libraryError_);
  shown_ = "MQTT broker " + BrokerName(settings_.broker, settings_.charset);
}

MqttConnection::~MqttConnection() { Destroy(); }

void MqttConnection::Destroy() {
  if (mosq_ != nullptr) library_->destroy(mosq_);  // closes the socket, says nothing to the broker
  mosq_ = nullptr;
  unacked_.clear();
  connack_.reset();
}

int MqttConnection::Socket() const { return mosq_ != nullptr ? library_->socket(mosq_) : -1; }

void MqttConnection::OnConnectThunk(mosquitto*, void* self, int rc) {
  static_cast<MqttConnection*>(self)->connack_ = rc;
}

void MqttConnection::OnPublishThunk(mosquitto*, void* self, int mid) {
  auto* connection = static_cast<MqttConnection*>(self);
  if (connection->unacked_.erase(mid) != 0 && connection->handlers_.published) connection->handlers_.published(mid);
}

void MqttConnection::OnMessageThunk(mosquitto*, void* self, const mosquitto_message* message) {
  auto* connection = static_cast<MqttConnection*>(self);
  if (!connection->handlers_.message || message->topic == nullptr) return;
  std::string_view payload(static_cast<const char*>(message->payload),
                           message->payload != nullptr ? static_cast<std::size_t>(message->payloadlen) : 0);
  connection->handlers_.message(message->topic, payload);
}

// libmosquitto says why TLS failed only in its log.
void MqttConnection::OnLogThunk(mosquitto*, void* self, int level, const char* text) {
  std::string_view line = text != nullptr ? text : "";
  if (level == MOSQ_LOG_ERR && line.starts_with("OpenSSL Error")) {
    std::string& error = static_cast<MqttConnection*>(self)->tlsError_;
    if (error.empty()) error = line.substr(0, 300);
  }
}

void MqttConnection::Begin(Millis now) { Attempt(now); }

void MqttConnection::Subscribe(const std::string& topic, int qos) {
  subscriptions_.emplace_back(topic, qos);
  if (state_ == kConnected) (void)library_->subscribe(mosq_, nullptr, topic.c_str(), qos);
}

void MqttConnection::Attempt(Millis now) {
  // A fresh client each time: nothing of the broken connection is sent
  // again by libmosquitto itself, which would repeat what the caller
  // publishes again in its own order.
  if (library_ == nullptr) {
    Fatal("cannot connect to the " + shown_ + ": " + libraryError_);
    return;
  }
  Destroy();
  tlsError_.clear();
  state_ = kConnecting;
  mosq_ = library_->new_client(settings_.clientId.empty() ? nullptr : settings_.clientId.c_str(), true, this);
  if (mosq_ == nullptr) {
    Broken(CannotText("make an MQTT client", errno), now);
    return;
  }
  (void)library_->int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  // No limit of libmosquitto's own on the QoS-1 messages awaiting their
  // PUBACK: the events queued through an outage go out at once, not 20 a
  // round trip; annc-line's queue bounds them.
  (void)library_->int_option(mosq_, MOSQ_OPT_SEND_MAXIMUM, 65535);
  library_->connect_callback_set(mosq_, &OnConnectThunk);
  library_->publish_callback_set(mosq_, &OnPublishThunk);
  library_->message_callback_set(mosq_, &OnMessageThunk);
  library_->log_callback_set(mosq_, &OnLogThunk);
  int rc = MOSQ_ERR_SUCCESS;
  if (settings_.will) {
    const MqttMessage& will = *settings_.will;
    rc = library_->will_set(mosq_, will.topic.c_str(), static_cast<int>(will.payload.size()), will.payload.data(), 1,
                            will.retain);
  }
  if (rc == MOSQ_ERR_SUCCESS && settings_.credentials) {
    rc = library_->username_pw_set(mosq_, settings_.credentials->user.c_str(),
                                   settings_.credentials->password.c_str());
  }
  if (rc == MOSQ_ERR_SUCCESS && settings_.broker.tls) {
    // The peer's certificate is checked, its name included (libmosquitto
    // checks the host name unless told to be insecure).
    if (settings_.caFile.empty()) {
      rc = library_->int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    } else {
      rc = library_->tls_set(mosq_, settings_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
    if (rc == MOSQ_ERR_SUCCESS) rc = library_->tls_opts_set(mosq_, 1, nullptr, nullptr);
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    Broken(ErrorText(rc, errno), now);
    return;
  }
  // Resolves the name first, blocking (see the header); the TCP connection
  // itself is made without waiting.
  errno = 0;
  rc = library_->connect_async(mosq_, settings_.broker.host.c_str(), settings_.broker.port,
                               settings_.keepaliveSeconds);
  int error = errno;
  if (rc != MOSQ_ERR_SUCCESS) {
    Failure(rc, error, now);  // a broker on this host may have refused its certificate already
    return;
  }
  deadline_ = now + kConnectMs;
  miscAt_ = now + kMiscMs;
}

std::string MqttConnection::ErrorText(int rc, int error) const {
  switch (rc) {
    case MOSQ_ERR_ERRNO:
      return SystemErrorText(error);
    case MOSQ_ERR_EAI:
      return std::string("cannot find the host: ") + ::gai_strerror(error);
    case MOSQ_ERR_TLS:
      return tlsError_.empty() ? std::string("TLS failed") : "TLS failed: " + tlsError_;
    case MOSQ_ERR_CONN_LOST:
      return "closed by the broker";
    case MOSQ_ERR_KEEPALIVE:
      return "no answer within the keepalive";
    default:
      return library_->strerror(rc);
  }
}

void MqttConnection::Settle(int rc, int error, Millis now) {
  if (state_ != kConnecting && state_ != kConnected) return;
  if (std::optional<int> code = std::exchange(connack_, std::nullopt)) {
    if (*code != 0) {
      std::string why = library_->connack_string(*code);
      if ((*code == kBadUserOrPassword || *code == kNotAuthorised) && !everConnected_) {
        Fatal("the " + shown_ + " refused the connection: " + why);
      } else {
        Broken("refused: " + why, now);
      }
      return;
    }
    state_ = kConnected;
    everConnected_ = true;
    backoff_.Reset();
    attempts_ = 0;
    outageSaid_ = false;
    output_.Status("connected to the " + shown_);
    for (const auto& [topic, qos] : subscriptions_) (void)library_->subscribe(mosq_, nullptr, topic.c_str(), qos);
    if (handlers_.connected) handlers_.connected();
    // What the handler published may have broken the connection.
    if (Socket() < 0) Broken("closed by the broker", now);
    return;
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    Failure(rc, error, now);
  } else if (Socket() < 0) {
    Broken("closed by the broker", now);
  }
}

void MqttConnection::Failure(int rc, int error, Millis now) {
  if (rc == MOSQ_ERR_TLS && !everConnected_ && tlsError_.find("certificate verify failed") != std::string::npos) {
    Fatal("the " + shown_ + " has a certificate that is not trusted: " + tlsError_);
  } else {
    Broken(ErrorText(rc, error), now);
  }
}

void MqttConnection::Broken(const std::string& why, Millis now) {
  bool wasConnected = state_ == kConnected;
  Destroy();
  state_ = kWaiting;
  deadline_ = now + backoff_.Next();
  if (wasConnected) {
    output_.Status("connection to the " + shown_ + " lost (" + why + "); connecting again");
    outageSaid_ = true;
    if (handlers_.lost) handlers_.lost();
    return;
  }
  ++attempts_;
  if (!outageSaid_) {
    output_.Status("cannot connect to the " + shown_ + " (" + why + "); trying again");
    outageSaid_ = true;
  } else if (attempts_ % kSayAttemptsEvery == 0) {
    output_.Status("still trying the " + shown_ + ", attempt " + std::to_string(attempts_) + " (" + why + ")");
  }
}

void MqttConnection::Fatal(const std::string& why) {
  Destroy();
  state_ = kFailed;
  output_.Status(CaretNotation(why, "", settings_.charset));
}

std::optional<int> MqttConnection::Publish(const MqttMessage& message, int qos) {
  if (state_ != kConnected) return std::nullopt;
  int mid = 0;
  int rc = library_->publish(mosq_, &mid, message.topic.c_str(), static_cast<int>(message.payload.size()),
                             message.payload.data(), qos, message.retain);
  if (rc != MOSQ_ERR_SUCCESS) return std::nullopt;
  if (qos > 0) unacked_.insert(mid);
  return mid;
}

std::optional<Millis> MqttConnection::NextDeadline() const {
  switch (state_) {
    case kWaiting:
      return deadline_;
    case kConnecting:
      return std::min(deadline_, miscAt_);
    case kConnected:
      return miscAt_;
    case kFailed:
    case kClosed:
      break;
  }
  return std::nullopt;
}

void MqttConnection::OnTimer(Millis now) {
  if (state_ == kWaiting && now >= deadline_) {
    Attempt(now);
    return;
  }
  if (state_ == kConnecting && now >= deadline_) {
    Broken("no answer within " + std::to_string(kConnectMs / 1000) + " s", now);
    return;
  }
  if ((state_ == kConnecting || state_ == kConnected) && now >= miscAt_) {
    miscAt_ = now + kMiscMs;
    errno = 0;
    int rc = library_->loop_misc(mosq_);
    Settle(rc, errno, now);
  }
}

void MqttConnection::AddWatches(std::vector<Watch>* watches) const {
  if (state_ != kConnecting && state_ != kConnected) return;
  int fd = Socket();
  if (fd < 0) return;
  watches->push_back(Watch{fd, false, false});
  if (library_->want_write(mosq_)) watches->push_back(Watch{fd, true, false});
}

void MqttConnection::OnReady(const std::vector<Watch>& watches, Millis now) {
  int fd = Socket();
  if (fd < 0 || (state_ != kConnecting && state_ != kConnected)) return;
  bool readable = false;
  bool writable = false;
  for (const Watch& watch : watches) {
    if (watch.handle == fd && watch.ready) (watch.forWriting ? writable : readable) = true;
  }
  if (writable) {
    errno = 0;
    int rc = library_->loop_write(mosq_, 1);
    Settle(rc, errno, now);
  }
  if (readable && Socket() == fd) {
    errno = 0;
    int rc = library_->loop_read(mosq_, 1);
    Settle(rc, errno, now);
  }
}

void MqttConnection::Close(const std::optional<MqttMessage>& last, Millis waitMs) {
  if (state_ != kConnected) {
    Destroy();
    if (state_ != kFailed) state_ = kClosed;
    return;
  }
  if (last) (void)Publish(*last, 1);
  // The loop is over: the socket alone is waited on, for at most waitMs.
  using Steady = std::chrono::steady_clock;
  const Steady::time_point end = Steady::now() + std::chrono::milliseconds(waitMs);
  while (!unacked_.empty() && Socket() >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Steady::now()).count();
    if (left <= 0) break;
    pollfd fd{Socket(), static_cast<short>(POLLIN | (library_->want_write(mosq_) ? POLLOUT : 0)), 0};
    if (::poll(&fd, 1, static_cast<int>(left)) < 0 && errno != EINTR) break;
    if ((fd.revents & POLLOUT) != 0 && library_->loop_write(mosq_, 1) != MOSQ_ERR_SUCCESS) break;
    if ((fd.revents & (POLLIN | POLLHUP | POLLERR)) != 0 && library_->loop_read(mosq_, 1) != MOSQ_ERR_SUCCESS) break;
  }
  if (Socket() >= 0) {
    (void)library_->disconnect(mosq_);  // written at once: nothing is held back outside a callback
  }
  Destroy();
  state_ = kClosed;
}

}  // namespace annc
