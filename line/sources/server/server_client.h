// annc-line as a client of a caller-ID server (an NCID server, a FRITZ!Box's
// call monitor): calls come over TCP; a lost connection is made again, with
// a wait that grows from 1 s to 60 s.
#ifndef ANNC_LINE_SERVER_CLIENT_H_
#define ANNC_LINE_SERVER_CLIENT_H_

#include <string>
#include <string_view>
#include <vector>

#include "line/sources/call_source.h"
#include "line/sources/server/backoff.h"
#include "line/sources/server/server_argument.h"
#include "line/sources/server/server_session.h"
#include "posix/line_system.h"
#include "text/terminal_text.h"

namespace annc {

class ServerClient : public CallSource {
 public:
  // One address's connection is made within this time or given up.
  static constexpr Millis kConnectMs = 10000;
  // A server with a start-up ends it within this time, or is taken for
  // gone: annc-line says so and connects again.
  static constexpr Millis kStartupMs = 10000;
  // Failed attempts in a row are said every this many.
  static constexpr int kSayAttemptsEvery = 10;

  // `server`: its kind, host and port; `device`: the source as given on the
  // command line (ncid:HOST...), for the line that ends annc-line at start;
  // `version`: annc-line's, for a greeting that names the client; `charset`:
  // the locale's, for the host and the device in status lines.
  ServerClient(ServerSource server, std::string device, std::string_view version, Charset charset,
               ServerSession& session, Network& network);
  ~ServerClient() override { CloseSocket(); }
  ServerClient(const ServerClient&) = delete;
  ServerClient& operator=(const ServerClient&) = delete;

  // The first attempt: started once the server has shown it is one (its
  // greeting, or the end of the time for its start-up); failed when it
  // cannot be reached or is none (FailureText() then says why: "cannot
  // connect: ...", "cannot find the host: ...", "not an NCID server").
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

  void Connect(Millis now, const SourceOutput& out);
  void TryAddress(Millis now, const SourceOutput& out);
  void OnConnected(Millis now, const SourceOutput& out);
  void Failed(Millis now, const SourceOutput& out);
  void Lost(Millis now, const SourceOutput& out, const std::string& why);
  // The connection is live: calls come, and a later loss is news again.
  void Live(const SourceOutput& out);
  // "NCID server HOST:PORT", for status lines.
  std::string Named() const;
  // "cannot connect: ...", with the kind's hint when refused.
  std::string ConnectFailure(const std::string& step, int error) const;
  void ReadSome(Millis now, const SourceOutput& out);
  void CloseSocket();

  ServerSource server_;
  std::string device_;
  Charset charset_;
  std::string hello_;  // sent right after connecting; may be empty
  ServerSession& session_;
  Network& network_;
  std::string shown_;  // HOST:PORT, an IPv6 address in brackets
  Startup startup_ = kStarting;
  State state_ = kWaiting;
  int fd_ = -1;
  std::vector<TcpAddress> addresses_;
  std::size_t next_ = 0;  // the address tried now
  Millis deadline_ = 0;   // kWaiting: the next attempt; kConnecting: this address is given up
  std::optional<Millis> startupDeadline_;  // kConnected, before the start-up's end
  Backoff backoff_;
  std::string lastError_;
  int attempts_ = 0;             // failed in a row
  bool outageReported_ = false;     // the loss was said; quiet until live again
  bool notServerReported_ = false;  // likewise a peer that is no such server
};

}  // namespace annc

#endif  // ANNC_LINE_SERVER_CLIENT_H_
