// One connection to a caller-ID server as its client reads it, whatever the
// protocol (NCID, a FRITZ!Box's call monitor): the client holds the socket
// and connects again; the session turns the bytes it reads into lines and
// call events.
#ifndef ANNC_LINE_SERVER_SESSION_H_
#define ANNC_LINE_SERVER_SESSION_H_

#include <cstddef>
#include <string_view>

#include "line/sources/call_source.h"
#include "line/sources/line_reader.h"

namespace annc {

// Cuts what the server sends into lines (ending in CR LF, CR or LF) and
// counts them; each protocol reads the lines its own way.
class ServerSession {
 public:
  // Lines longer than this are cut here and the rest of them dropped.
  static constexpr std::size_t kMaxLine = 1024;

  virtual ~ServerSession() = default;

  // A new connection: what the last one left half-read is forgotten.
  void Reset();
  // Hands every line in `bytes` to out.line and, once the connection is
  // live, their call events to out.event. Returns true when these bytes
  // made it live.
  bool Feed(std::string_view bytes, const SourceOutput& out);
  // Bytes of a line not yet ended: never more than one bounded line.
  std::size_t pending() const { return reader_.pending(); }
  // How many lines this connection has given so far.
  std::size_t lines() const { return lines_; }
  // How many of this connection's lines were longer than kMaxLine, counted
  // when the cut comes, before the line's end.
  std::size_t cutLines() const { return cutLines_; }

  // Whether calls are reported: after a server's start-up, or (a protocol
  // without one) from the connection on, that is right after Reset().
  virtual bool Live() const = 0;
  // Whether the peer has shown it speaks the protocol (a protocol without
  // a greeting: always). False after a first line that is no greeting.
  virtual bool Greeted() const { return true; }

 protected:
  // The protocol's part of Reset().
  virtual void OnReset() = 0;
  // One line of the connection, already handed to out.line and counted in
  // lines(). Returns true when this line made the connection live.
  virtual bool OnLine(std::string_view line, const SourceOutput& out) = 0;

 private:
  LineReader reader_{kMaxLine};
  std::size_t lines_ = 0;
  std::size_t cutLines_ = 0;
};

}  // namespace annc

#endif  // ANNC_LINE_SERVER_SESSION_H_
