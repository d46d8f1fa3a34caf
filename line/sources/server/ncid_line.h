// The NCID protocol as a client sees it: lines from the server (TCP, lines
// end in CR LF), the greeting the client sends, and the ncid:HOST[:PORT]
// argument that names a server.
#ifndef ANNC_LINE_NCID_LINE_H_
#define ANNC_LINE_NCID_LINE_H_

#include <optional>
#include <string>
#include <string_view>

#include "text/terminal_text.h"

namespace annc {

// What one line from the server means to annc-line.
struct NcidEvent {
  enum Kind {
    kIgnored,      // greetings, history, messages, other line types, malformed lines
    kStartupDone,  // "300 End of connection startup": what follows is live
    kCall,         // "CID:": a call, with its line, number and name
    kRing,         // "CIDINFO:" with RING above 0: a ring of the call on that line
    kCallEnded,    // "CIDINFO:" with RING 0, -1, -2 or -3: the call on that line is over
  };
  Kind kind = kIgnored;
  std::string lineId;  // LINE: which phone line, when the server has several
  std::string number;  // NMBR as sent (unknown markers included)
  std::string name;    // NAME as sent ("NO NAME", "-" included)
  int ring = 0;        // RING of a CIDINFO line
};

// Reads one line from the server, its CR LF already taken off. Fields are
// "*KEY*value*" pairs in any order; the first of each key counts, unknown
// keys are skipped, and a pair without its closing '*' is left out.
NcidEvent ParseNcidLine(std::string_view line);

// The two lines a client sends right after connecting, each ending in CR LF:
// "HELLO: IDENT: client annc-line VERSION" and "HELLO: CMD: no_log" (the
// server then sends no call history beyond its start-up).
std::string NcidHello(std::string_view version);

inline constexpr int kNcidDefaultPort = 3333;

// An NCID server named on the command line.
struct NcidSource {
  std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
  int port = kNcidDefaultPort;
};

struct ParsedNcidSource {
  std::optional<NcidSource> source;
  std::string error;  // when source is empty: the argument and what is wrong with it, one line
};

// Whether a command-line argument names an NCID server ("ncid:...") rather
// than a device.
bool IsNcidSource(std::string_view argument);

// Parses "ncid:HOST[:PORT]": HOST a name, an IPv4 address, or an IPv6
// address in brackets ("ncid:[::1]:3333"); PORT 1 to 65535, 3333 when left
// out.
ParsedNcidSource ParseNcidSource(std::string_view argument, Charset charset);

}  // namespace annc

#endif  // ANNC_LINE_NCID_LINE_H_
