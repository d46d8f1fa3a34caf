#include "line/ncid_line.h"

#include "text/parse_integer.h"
#include "text/terminal_text.h"

namespace annc {

namespace {

constexpr std::string_view kCallLabel = "CID:";
constexpr std::string_view kCallInfoLabel = "CIDINFO:";
constexpr std::string_view kStartupDoneCode = "300";
constexpr std::string_view kSourcePrefix = "ncid:";
constexpr std::size_t kLongestHost = 253;  // the longest DNS name

// A ring count or a port: at most 9 digits, so that the value always fits
// an int.
constexpr std::size_t kMostFieldDigits = 9;

// The fields of a CID or CIDINFO line: the *KEY*value* pairs from the first
// '*' on. Returns the value of the first pair with the key, if any.
struct Fields {
  std::string_view text;  // from the first '*'

  std::optional<std::string_view> Find(std::string_view key) const {
    std::size_t pos = 0;  // at the '*' before a key
    while (pos < text.size()) {
      std::size_t keyEnd = text.find('*', pos + 1);
      if (keyEnd == std::string_view::npos) break;
      std::size_t valueEnd = text.find('*', keyEnd + 1);
      if (valueEnd == std::string_view::npos) break;
      if (text.substr(pos + 1, keyEnd - pos - 1) == key) return text.substr(keyEnd + 1, valueEnd - keyEnd - 1);
      pos = valueEnd;
    }
    return std::nullopt;
  }

  std::string Get(std::string_view key) const { return std::string(Find(key).value_or("")); }
};

Fields FieldsAfter(std::string_view rest) {
  std::size_t star = rest.find('*');
  return Fields{star == std::string_view::npos ? std::string_view() : rest.substr(star)};
}

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

ParsedNcidSource Failure(std::string_view argument, std::string_view problem) {
  ParsedNcidSource parsed;
  parsed.error = CaretNotation(argument, "") + ": " + std::string(problem);
  return parsed;
}

}  // namespace

NcidEvent ParseNcidLine(std::string_view line) {
  line = TrimBlanks(line);
  NcidEvent event;
  if (line.substr(0, kStartupDoneCode.size()) == kStartupDoneCode &&
      (line.size() == kStartupDoneCode.size() || line[kStartupDoneCode.size()] == ' ')) {
    event.kind = NcidEvent::kStartupDone;
  } else if (line.substr(0, kCallLabel.size()) == kCallLabel) {
    Fields fields = FieldsAfter(line.substr(kCallLabel.size()));
    event.kind = NcidEvent::kCall;
    event.lineId = fields.Get("LINE");
    event.number = fields.Get("NMBR");
    event.name = fields.Get("NAME");
  } else if (line.substr(0, kCallInfoLabel.size()) == kCallInfoLabel) {
    Fields fields = FieldsAfter(line.substr(kCallInfoLabel.size()));
    std::optional<long long> ring = ParseDecimal(fields.Find("RING").value_or(""), kMostFieldDigits, true);
    if (ring && *ring > 0) {
      event.kind = NcidEvent::kRing;
    } else if (ring && *ring >= -3) {
      event.kind = NcidEvent::kCallEnded;
    } else {
      return event;  // no ring count, or one that means nothing yet
    }
    event.ring = static_cast<int>(*ring);
    event.lineId = fields.Get("LINE");
  }
  return event;
}

std::string NcidHello(std::string_view version) {
  std::string ident = "HELLO: IDENT: client annc-line";
  std::string shown = WithoutControlBytes(TrimBlanks(version));
  if (!shown.empty()) ident += " " + shown;
  return ident + "\r\nHELLO: CMD: no_log\r\n";
}

bool IsNcidSource(std::string_view argument) { return argument.substr(0, kSourcePrefix.size()) == kSourcePrefix; }

ParsedNcidSource ParseNcidSource(std::string_view argument) {
  if (!IsNcidSource(argument)) return Failure(argument, "not an NCID server; expected ncid:HOST[:PORT]");
  std::string_view rest = argument.substr(kSourcePrefix.size());
  std::string_view host;
  std::optional<std::string_view> port;
  if (!rest.empty() && rest.front() == '[') {
    std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return Failure(argument, "no ']' after the IPv6 address");
    host = rest.substr(1, close - 1);
    std::string_view after = rest.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return Failure(argument, "expected ':PORT' or nothing after ']'");
      port = after.substr(1);
    }
    if (host.empty()) return Failure(argument, "no host; expected ncid:HOST[:PORT]");
    if (!LooksLikeIpv6(host)) return Failure(argument, "not an IPv6 address in the brackets");
  } else {
    std::size_t colon = rest.find(':');
    host = rest.substr(0, colon);
    if (colon != std::string_view::npos) {
      port = rest.substr(colon + 1);
      if (port->find(':') != std::string_view::npos) {
        return Failure(argument, "an IPv6 address goes in brackets, as in ncid:[::1]:3333");
      }
    }
    if (host.empty()) return Failure(argument, "no host; expected ncid:HOST[:PORT]");
    for (char c : host) {
      if (!IsHostNameChar(c)) return Failure(argument, "not a host name or address");
    }
  }
  if (host.size() > kLongestHost) return Failure(argument, "host name too long");

  NcidSource source;
  source.host = host;
  if (port) {
    if (port->empty()) return Failure(argument, "no port after ':'");
    std::optional<long long> number = ParseDecimal(*port, kMostFieldDigits);
    if (!number || *number < 1 || *number > 65535) {
      return Failure(argument, "the port must be a number from 1 to 65535");
    }
    source.port = static_cast<int>(*number);
  }
  ParsedNcidSource parsed;
  parsed.source = source;
  return parsed;
}

}  // namespace annc
