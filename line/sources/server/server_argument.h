// A network server named on annc-line's command line as PREFIX:HOST[:PORT]
// (ncid:, fritz:), and what sets each kind of server apart.
#ifndef ANNC_LINE_SERVER_ARGUMENT_H_
#define ANNC_LINE_SERVER_ARGUMENT_H_

#include <optional>
#include <string>
#include <string_view>

#include "text/terminal_text.h"

namespace annc {

// One kind of caller-ID server: how it is named on the command line and in
// status lines, and how a client greets it.
struct ServerKind {
  enum Protocol { kNcid, kFritz };
  Protocol protocol;
  std::string_view prefix;  // "ncid:"
  std::string_view noun;    // "an NCID server", for "not ..."
  std::string_view name;    // "NCID server": in status lines
  int defaultPort;
  std::string_view refusedHint;  // added to "Connection refused"; may be empty
  // The bytes sent right after connecting, given annc-line's version; null
  // when the server expects nothing.
  std::string (*hello)(std::string_view version);
};

// An NCID server (port 3333) and a FRITZ!Box's call monitor (port 1012).
extern const ServerKind kNcidServer;
extern const ServerKind kFritzBox;

// A server named on the command line.
struct ServerSource {
  const ServerKind* kind = &kNcidServer;
  std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
  int port = 0;
};

struct ParsedServerSource {
  std::optional<ServerSource> source;
  std::string error;  // when source is empty: the argument and what is wrong with it, one line
};

// The kind of server whose prefix `argument` begins with; null for anything
// else (a device, "./ncid:1" included).
const ServerKind* ServerKindOf(std::string_view argument);

// Parses "PREFIX:HOST[:PORT]": HOST a name, an IPv4 address, or an IPv6
// address in brackets ("[::1]:3333"), at most 253 bytes; PORT 1 to 65535,
// the kind's default when left out. The error shows the argument in caret
// notation under `charset`.
ParsedServerSource ParseServerSource(std::string_view argument, const ServerKind& kind, Charset charset);

}  // namespace annc

#endif  // ANNC_LINE_SERVER_ARGUMENT_H_
