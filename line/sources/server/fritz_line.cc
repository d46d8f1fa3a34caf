#include "line/sources/server/fritz_line.h"

#include <vector>

#include "line/sources/server/server_argument.h"
#include "text/terminal_text.h"

namespace annc {
namespace {

const ServerKind kFritzKind{"fritz:", "a FRITZ!Box", kFritzDefaultPort};

// Field numbers: 0 the time, 1 the event, 2 the connection ID, then the
// event's own.
constexpr std::size_t kEventField = 1;
constexpr std::size_t kIdField = 2;
constexpr std::size_t kCallerField = 3;
constexpr std::size_t kCalledField = 4;
constexpr std::size_t kTrunkField = 5;
constexpr std::size_t kLongestId = 9;

// The line cut at each ';'; the empty field after a closing ';' is not one.
std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (start <= line.size()) {
    std::size_t end = line.find(';', start);
    if (end == std::string_view::npos) {
      if (start < line.size()) fields.push_back(TrimBlanks(line.substr(start)));
      break;
    }
    fields.push_back(TrimBlanks(line.substr(start, end - start)));
    start = end + 1;
  }
  return fields;
}

bool IsConnectionId(std::string_view id) {
  if (id.empty() || id.size() > kLongestId) return false;
  for (char c : id) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

FritzEvent ParseFritzLine(std::string_view line) {
  std::vector<std::string_view> fields = SplitFields(line);
  FritzEvent event;
  if (fields.size() <= kIdField || !IsConnectionId(fields[kIdField])) return event;
  auto field = [&fields](std::size_t i) { return i < fields.size() ? std::string(fields[i]) : std::string(); };
  std::string_view name = fields[kEventField];
  if (name == "RING") {
    if (fields.size() <= kCallerField) return event;
    event.kind = FritzEvent::kRing;
    event.caller = field(kCallerField);
    event.called = field(kCalledField);
    event.trunk = field(kTrunkField);
  } else if (name == "CONNECT") {
    event.kind = FritzEvent::kConnect;
  } else if (name == "DISCONNECT") {
    event.kind = FritzEvent::kDisconnect;
  } else {
    return event;  // CALL (outgoing) and anything else
  }
  event.connectionId = fields[kIdField];
  return event;
}

bool IsFritzSource(std::string_view argument) { return HasServerPrefix(argument, kFritzKind); }

ParsedFritzSource ParseFritzSource(std::string_view argument, Charset charset) {
  ParsedServerArgument server = ParseServerArgument(argument, kFritzKind, charset);
  ParsedFritzSource parsed;
  parsed.error = std::move(server.error);
  if (server.server) parsed.source = FritzSource{std::move(server.server->host), server.server->port};
  return parsed;
}

}  // namespace annc
