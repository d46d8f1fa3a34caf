// A network server named on annc-line's command line as PREFIX:HOST[:PORT]
// (ncid:, fritz:): the part both kinds of server share.
#ifndef ANNC_LINE_SERVER_ARGUMENT_H_
#define ANNC_LINE_SERVER_ARGUMENT_H_

#include <optional>
#include <string>
#include <string_view>

#include "text/terminal_text.h"

namespace annc {

// How one kind of server is named, for the parsing and its error texts.
struct ServerKind {
  std::string_view prefix;  // "ncid:"
  std::string_view noun;    // "an NCID server", for "not ..."
  int defaultPort;
};

struct ServerArgument {
  std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
  int port = 0;
};

struct ParsedServerArgument {
  std::optional<ServerArgument> server;
  std::string error;  // when server is empty: the argument and what is wrong with it, one line
};

// Whether `argument` begins with the kind's prefix.
bool HasServerPrefix(std::string_view argument, const ServerKind& kind);

// Parses "PREFIX:HOST[:PORT]": HOST a name, an IPv4 address, or an IPv6
// address in brackets ("[::1]:3333"), at most 253 bytes; PORT 1 to 65535,
// the kind's default when left out. The error shows the argument in caret
// notation.
ParsedServerArgument ParseServerArgument(std::string_view argument, const ServerKind& kind, Charset charset);

}  // namespace annc

#endif  // ANNC_LINE_SERVER_ARGUMENT_H_
