// annc-line as a client of an NCID server: calls come over TCP; a lost
// connection is made again, with a wait that grows from 1 s to 60 s.
#ifndef ANNC_LINE_NCID_CLIENT_H_
#define ANNC_LINE_NCID_CLIENT_H_

#include <string>
#include <vector>

#include "line/call_source.h"
#include "line/ncid_line.h"
#include "line/ncid_session.h"
#include "posix/line_system.h"

namespace annc {

class NcidClient : public CallSource {
 public:
  // One address's connection is made within this time or given up.
  static constexpr Millis kConnectMs = 10000;

  // `device`: the source as given on the command line (ncid:HOST...);
  // `version`: annc-line's, for the greeting.
  NcidClient(NcidSource server, std::string device, std::string_view version, Network& network);
  ~NcidClient() { CloseSocket(); }
  NcidClient(const NcidClient&) = delete;
  NcidClient& operator=(const NcidClient&) = delete;

  // The first attempt: started once a connection is made; failed when it
  // cannot be (FailureText() then says why: "cannot connect: ..." or
  // "cannot find the host: ...").
  void Begin(Millis now, const SourceOutput& out) override;
  Startup startup() const override { return startup_; }
  std::string FailureText() const override;

  int handle() const override { return fd_; }
  bool WantsWritable() const override { return state_ == kConnecting; }
  std::optional<Millis> NextDeadline() const override;
  void OnReady(Millis now, const SourceOutput& out) override;
  void OnTimer(Millis now, const SourceOutput& out) override;

 private:
  enum State { kWaiting, kConnecting, kConnected };

  void Connect(Millis now);
  void TryAddress(Millis now);
  void OnConnected();
  void Failed(Millis now);
  void Lost(Millis now, const SourceOutput& out, const std::string& why);
  void ReadSome(Millis now, const SourceOutput& out);
  void CloseSocket();

  NcidSource server_;
  std::string device_;
  Network& network_;
  Startup startup_ = kStarting;
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
