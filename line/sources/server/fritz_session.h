// One connection to a FRITZ!Box's call monitor as annc-line reads it: bytes
// in, lines and call events out.
#ifndef ANNC_LINE_FRITZ_SESSION_H_
#define ANNC_LINE_FRITZ_SESSION_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "line/sources/call_filter.h"
#include "line/sources/server/fritz_line.h"
#include "line/sources/server/server_session.h"

namespace annc {

// Each call is one phone line of the call tracker, named by its connection
// ID. A RING gives the caller's number as sent (empty when withheld, which
// the tracker announces as unknown) and the end of its caller-ID record at
// once; CONNECT gives kAnswered, DISCONNECT kCallEnded, both only for a
// connection annc-line saw ring and kept. A RING the filter drops (--only-to,
// --only-line on the trunk) is never seen, so nothing of that call reaches
// the tracker. The tracker holds each call back kFritzHoldBackMs, so that a
// call the box rejects (RING and DISCONNECT in the same second) is never
// announced.
class FritzSession : public ServerSession {
 public:
  // Connections followed at once; the oldest is forgotten for a new one
  // (its DISCONNECT was lost; the tracker has timed the call out).
  static constexpr std::size_t kMaxConnections = 16;

  explicit FritzSession(CallFilter filter = {}) : filter_(std::move(filter)) {}

  // A box's connection is live from the start: Feed() never makes it so.
  bool Live() const override { return true; }

 protected:
  // A new connection: the calls the box reported on the last one are over
  // (the client reports kSourceLost for them).
  void OnReset() override { ringing_.clear(); }
  bool OnLine(std::string_view line, const SourceOutput& out) override;

 private:
  // Forgets the connection; false when it was not followed.
  bool Forget(const std::string& id);

  CallFilter filter_;
  std::vector<std::string> ringing_;  // connections seen ringing and kept, oldest first
};

}  // namespace annc

#endif  // ANNC_LINE_FRITZ_SESSION_H_
