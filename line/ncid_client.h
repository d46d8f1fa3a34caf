// annc-line as a client of an NCID server: calls come over TCP; a lost
// connection is made again, with a wait that grows from 1 s to 60 s.
#ifndef ANNC_LINE_NCID_CLIENT_H_
#define ANNC_LINE_NCID_CLIENT_H_

#include <string>
#include <vector>

#include "line/call_source.h"
#include "line/ncid_line.h"
#include "line/ncid_session.h"
#include "posix/tcp_client.h"

namespace annc {

class NcidClient : public CallSource {
 public:
  // One address's connection is made within this time or given up.
  static constexpr Millis kConnectMs = 10000;

  // `version`: annc-line's, for the greeting.
  NcidClient(NcidSource server, std::string_view version);
  ~NcidClient() { CloseSocket(); }
  NcidClient(const NcidClient&) = delete;
  NcidClient& operator=(const NcidClient&) = delete;

  // The first attempt: afterwards Connecting() until it has been made or
  // has failed (then LastError() says why, and the next attempt waits).
  void Begin(Millis now);
  bool Connecting() const { return state_ == kConnecting; }
  bool Connected() const { return state_ == kConnected; }
  // Why the last attempt failed, in one line: "cannot connect: ..." or
  // "cannot find the host: ...".
  const std::string& LastError() const { return lastError_; }

  int fd() const override { return fd_; }
  bool WantsWritable() const override { return state_ == kConnecting; }
  std::optional<Millis> NextAttempt() const override;
  void OnReady(Millis now, const SourceOutput& out) override;
  void OnTimer(Millis now, const SourceOutput& out) override;

 private:
  enum State { kWaiting, kConnecting, kConnected };

  void TryAddress(Millis now);
  void OnConnected();
  void Failed(Millis now);
  void Lost(Millis now, const SourceOutput& out, const std::string& why);
  void ReadSome(Millis now, const SourceOutput& out);
  void CloseSocket();

  NcidSource server_;
  std::string shown_;  // HOST:PORT, an IPv6 address in brackets
  std::string hello_;
  State state_ = kWaiting;
  int fd_ = -1;
  std::vector<TcpAddress> addresses_;
  std::size_t next_ = 0;  // the address tried now
  Millis deadline_ = 0;   // kWaiting: the next attempt; kConnecting: this address is given up
  Backoff backoff_;
  NcidSession session_;
  std::string lastError_;
  bool outageReported_ = false;  // the loss was said; quiet until live again
};

}  // namespace annc

#endif  // ANNC_LINE_NCID_CLIENT_H_
