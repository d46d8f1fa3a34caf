// A FRITZ!Box's call monitor as a client sees it: the lines the box sends
// (TCP, port 1012, lines ending in LF), and the fritz:HOST[:PORT] argument
// that names a box.
#ifndef ANNC_LINE_FRITZ_LINE_H_
#define ANNC_LINE_FRITZ_LINE_H_

#include <optional>
#include <string>
#include <string_view>

#include "line/calls/call_tracker.h"
#include "text/terminal_text.h"

namespace annc {

// What one line from the box means to annc-line. Lines are
// "DD.MM.YY HH:MM:SS;EVENT;ID;...;", fields separated by ';'.
struct FritzEvent {
  enum Kind {
    kIgnored,     // outgoing calls (CALL), other events, malformed lines
    kRing,        // RING;ID;CALLER;CALLED;TRUNK;: an incoming call
    kConnect,     // CONNECT;ID;EXTENSION;NUMBER;: somebody answered it
    kDisconnect,  // DISCONNECT;ID;SECONDS;: it is over
  };
  Kind kind = kIgnored;
  std::string connectionId;  // the box's own number for the call: several may ring at once
  std::string caller;        // RING: the caller's number; empty when withheld
  std::string called;        // RING: the own number the caller dialled
  std::string trunk;         // RING: the line it came in on (SIP0, ISDN, POTS...)
};

// Reads one line from the box, its line end already taken off. The event
// and the connection ID (decimal digits) must be there; a RING also needs
// its caller field (empty is fine: withheld). Fields the line ends before
// are empty, fields after the known ones are skipped, the ';' closing the
// last field may be missing, and blanks around a field are dropped.
FritzEvent ParseFritzLine(std::string_view line);

inline constexpr int kFritzDefaultPort = 1012;

// annc-line holds a call back this long after its RING: a call the box
// rejects itself is over by then.
inline constexpr Millis kFritzHoldBackMs = 1000;

// The box reports no rings between a call's RING and its end: without
// --ring-timeout, a call whose CONNECT or DISCONNECT never comes ends this
// long after its RING (a modem's 8 s would cut every announcement short).
inline constexpr int kFritzRingTimeoutMs = 120000;

// Said after "cannot connect: ..." when the box refused the connection: its
// call monitor is off.
inline constexpr char kFritzRefusedHint[] =
    "switch the call monitor on by dialling #96*5* on a phone connected to the box";

// A FRITZ!Box named on the command line.
struct FritzSource {
  std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
  int port = kFritzDefaultPort;
};

struct ParsedFritzSource {
  std::optional<FritzSource> source;
  std::string error;  // when source is empty: the argument and what is wrong with it, one line
};

// Whether a command-line argument names a FRITZ!Box ("fritz:...").
bool IsFritzSource(std::string_view argument);

// Parses "fritz:HOST[:PORT]" as ParseNcidSource does "ncid:...": HOST a
// name, an IPv4 address, or an IPv6 address in brackets; PORT 1012 when
// left out.
ParsedFritzSource ParseFritzSource(std::string_view argument, Charset charset);

}  // namespace annc

#endif  // ANNC_LINE_FRITZ_LINE_H_
