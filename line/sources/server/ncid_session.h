// One connection to an NCID server as annc-line reads it: bytes in, lines
// and call events out.
#ifndef ANNC_LINE_NCID_SESSION_H_
#define ANNC_LINE_NCID_SESSION_H_

#include <cstddef>
#include <string_view>
#include <vector>

#include "line/sources/call_filter.h"
#include "line/sources/call_source.h"
#include "line/sources/server/ncid_line.h"
#include "line/sources/server/server_session.h"

namespace annc {

// The call events one line from the server gives once the start-up is over:
// a call is its number, its name (none for NCID's "-" and "NO NAME") and the
// end of its caller-ID record, all at once; CIDINFO gives a ring or the end
// of the call; each names the phone line the server gave.
std::vector<CallEvent> NcidCallEvents(const NcidEvent& event);

class NcidSession : public ServerSession {
 public:
  // `filter`: the calls to announce; with --only-line, the events of other
  // lines (CID and CIDINFO alike) never reach the tracker.
  explicit NcidSession(CallFilter filter = {}) : filter_(std::move(filter)) {}

  // Once the start-up has ended with "300 End of connection startup", each
  // line's call events go to out.event: the greeting and the call history
  // before it are never announced. Feed() returns true for the bytes that
  // ended the start-up.
  bool Live() const override { return live_; }
  // The first line of a connection is the server's "200 ..." greeting; a
  // server whose first line is anything else (a web server's "HTTP/1.1
  // 400") is no NCID server.
  bool Greeted() const override { return greeted_; }

 protected:
  // A new connection: the server's start-up comes again.
  void OnReset() override;
  bool OnLine(std::string_view line, const SourceOutput& out) override;

 private:
  CallFilter filter_;
  bool live_ = false;
  bool greeted_ = false;
};

}  // namespace annc

#endif  // ANNC_LINE_NCID_SESSION_H_
