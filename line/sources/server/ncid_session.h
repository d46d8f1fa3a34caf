// One connection to an NCID server as annc-line reads it: bytes in, lines
// and call events out; and how long to wait before connecting again.
#ifndef ANNC_LINE_NCID_SESSION_H_
#define ANNC_LINE_NCID_SESSION_H_

#include <cstddef>
#include <string_view>
#include <vector>

#include "line/sources/call_filter.h"
#include "line/sources/call_source.h"
#include "line/sources/line_reader.h"
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
  // Lines longer than this are cut here and the rest of them dropped.
  static constexpr std::size_t kMaxLine = 1024;

  // `filter`: the calls to announce; with --only-line, the events of other
  // lines (CID and CIDINFO alike) never reach the tracker.
  explicit NcidSession(CallFilter filter = {}) : filter_(std::move(filter)) {}

  // A new connection: the server's start-up comes again.
  void Reset() override;
  // Cuts `bytes` into lines (ending in CR LF, CR or LF), hands each to
  // out.line and, once the start-up has ended with "300 End of connection
  // startup", each line's call events to out.event: the greeting and the
  // call history before it are never announced. Returns true when these
  // bytes ended the start-up.
  bool Feed(std::string_view bytes, const SourceOutput& out) override;
  bool Live() const override { return live_; }
  std::size_t pending() const override { return reader_.pending(); }
  std::size_t lines() const override { return lines_; }
  // The first line of a connection is the server's "200 ..." greeting; a
  // server whose first line is anything else (a web server's "HTTP/1.1
  // 400") is no NCID server.
  bool Greeted() const override { return greeted_; }

 private:
  CallFilter filter_;
  LineReader reader_{kMaxLine};
  bool live_ = false;
  bool greeted_ = false;
  std::size_t lines_ = 0;
};

// The wait before the next attempt to connect: 1 s, doubling up to 60 s;
// back to 1 s once a connection has worked.
class Backoff {
 public:
  static constexpr Millis kFirst = 1000;
  static constexpr Millis kLongest = 60000;

  Millis Next();
  void Reset() { next_ = kFirst; }

 private:
  Millis next_ = kFirst;
};

}  // namespace annc

#endif  // ANNC_LINE_NCID_SESSION_H_
