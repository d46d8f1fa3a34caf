// One connection to a caller-ID server as its client reads it, whatever the
// protocol (NCID, a FRITZ!Box's call monitor): the client holds the socket
// and connects again; the session turns the bytes it reads into lines and
// call events.
#ifndef ANNC_LINE_SERVER_SESSION_H_
#define ANNC_LINE_SERVER_SESSION_H_

#include <cstddef>
#include <string_view>

#include "line/sources/call_source.h"

namespace annc {

class ServerSession {
 public:
  virtual ~ServerSession() = default;

  // A new connection: what the last one left half-read is forgotten.
  virtual void Reset() = 0;
  // Hands every line in `bytes` to out.line and, once the connection is
  // live, their call events to out.event. Returns true when these bytes
  // made it live.
  virtual bool Feed(std::string_view bytes, const SourceOutput& out) = 0;
  // Whether calls are reported: after a server's start-up, or (a protocol
  // without one) from the connection on, that is right after Reset().
  virtual bool Live() const = 0;
  // Bytes of a line not yet ended: never more than one bounded line.
  virtual std::size_t pending() const = 0;
  // How many lines this connection has given so far.
  virtual std::size_t lines() const = 0;
  // Whether the peer has shown it speaks the protocol (a protocol without
  // a greeting: always). False after a first line that is no greeting.
  virtual bool Greeted() const { return true; }
};

}  // namespace annc

#endif  // ANNC_LINE_SERVER_SESSION_H_
