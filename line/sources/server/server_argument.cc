#include "line/sources/server/server_argument.h"

#include "line/sources/server/fritz_line.h"
#include "line/sources/server/ncid_line.h"
#include "text/parse_integer.h"
#include "text/terminal_text.h"

namespace annc {
namespace {

constexpr std::size_t kLongestHost = 253;  // the longest DNS name

bool IsHostNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_';
}

// Hexadecimal groups with ':' (an IPv4 tail allowed), then optionally '%'
// and a zone such as an interface name. The resolver has the last word.
bool LooksLikeIpv6(std::string_view address) {
  std::size_t percent = address.find('%');
  std::string_view zone = percent == std::string_view::npos ? std::string_view() : address.substr(percent + 1);
  address = address.substr(0, percent);
  if (percent != std::string_view::npos && zone.empty()) return false;
  for (char c : zone) {
    if (!IsHostNameChar(c)) return false;
  }
  std::size_t colons = 0;
  for (char c : address) {
    if (c == ':') {
      ++colons;
    } else if (HexDigit(c) < 0 && c != '.') {
      return false;
    }
  }
  return colons >= 2;
}

// 1 to 65535 in decimal digits alone.
std::optional<int> ParsePort(std::string_view text) {
  std::optional<long long> value = ParseDecimal(text, 5);
  if (!value || *value < 1 || *value > 65535) return std::nullopt;
  return static_cast<int>(*value);
}

ParsedServerSource Failure(std::string_view argument, Charset charset, std::string_view problem) {
  ParsedServerSource parsed;
  parsed.error = CaretNotation(argument, "", charset) + ": " + std::string(problem);
  return parsed;
}

bool HasPrefix(std::string_view argument, const ServerKind& kind) {
  return argument.substr(0, kind.prefix.size()) == kind.prefix;
}

}  // namespace

const ServerKind kNcidServer{ServerKind::kNcid, "ncid:", "an NCID server", "NCID server", kNcidDefaultPort, "",
                             NcidHello};
const ServerKind kFritzBox{ServerKind::kFritz, "fritz:", "a FRITZ!Box", "FRITZ!Box", kFritzDefaultPort,
                           kFritzRefusedHint, nullptr};

const ServerKind* ServerKindOf(std::string_view argument) {
  for (const ServerKind* kind : {&kNcidServer, &kFritzBox}) {
    if (HasPrefix(argument, *kind)) return kind;
  }
  return nullptr;
}

ParsedServerSource ParseServerSource(std::string_view argument, const ServerKind& kind, Charset charset) {
  const std::string prefix(kind.prefix);
  const std::string expected = "expected " + prefix + "HOST[:PORT]";
  if (!HasPrefix(argument, kind)) return Failure(argument, charset, "not " + std::string(kind.noun) + "; " + expected);
  std::string_view rest = argument.substr(kind.prefix.size());
  std::string_view host;
  std::optional<std::string_view> port;
  if (!rest.empty() && rest.front() == '[') {
    std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return Failure(argument, charset, "no ']' after the IPv6 address");
    host = rest.substr(1, close - 1);
    std::string_view after = rest.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return Failure(argument, charset, "expected ':PORT' or nothing after ']'");
      port = after.substr(1);
    }
    if (host.empty()) return Failure(argument, charset, "no host; " + expected);
    if (!LooksLikeIpv6(host)) return Failure(argument, charset, "not an IPv6 address in the brackets");
  } else {
    std::size_t colon = rest.find(':');
    host = rest.substr(0, colon);
    if (colon != std::string_view::npos) {
      port = rest.substr(colon + 1);
      if (port->find(':') != std::string_view::npos) {
        return Failure(
            argument, charset,
            "an IPv6 address goes in brackets, as in " + prefix + "[::1]:" + std::to_string(kind.defaultPort));
      }
    }
    if (host.empty()) return Failure(argument, charset, "no host; " + expected);
    for (char c : host) {
      if (!IsHostNameChar(c)) return Failure(argument, charset, "not a host name or address");
    }
  }
  if (host.size() > kLongestHost) return Failure(argument, charset, "host name too long");

  ServerSource server;
  server.kind = &kind;
  server.host = host;
  server.port = kind.defaultPort;
  if (port) {
    if (port->empty()) return Failure(argument, charset, "no port after ':'");
    std::optional<int> number = ParsePort(*port);
    if (!number) return Failure(argument, charset, "the port must be a number from 1 to 65535");
    server.port = *number;
  }
  ParsedServerSource parsed;
  parsed.source = server;
  return parsed;
}

}  // namespace annc
