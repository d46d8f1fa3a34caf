#include "line/mqtt/mqtt_url.h"

#include <cstdint>

#include <cstdio>

#include "line/sources/server/server_argument.h"
#include "platform/errors.h"

namespace annc {
namespace {

// A broker is named as a server is, after its own prefix; only the fields
// ParseServerSource reads matter here (it looks at no protocol).
const ServerKind kPlainBroker{ServerKind::kNcid, "mqtt://", "an MQTT broker", "MQTT broker", kMqttPort, "", nullptr};
const ServerKind kTlsBroker{ServerKind::kNcid, "mqtts://", "an MQTT broker", "MQTT broker", kMqttTlsPort, "",
                            nullptr};
// The same as annc-line's source.
const ServerKind kPlainSource{ServerKind::kNcid, "mqtt:", "an MQTT broker", "MQTT broker", kMqttPort, "", nullptr};
const ServerKind kTlsSource{ServerKind::kNcid, "mqtts:", "an MQTT broker", "MQTT broker", kMqttTlsPort, "", nullptr};

// A credentials file is a line; more than this is something else.
constexpr std::size_t kMaxCredentialsBytes = 4096;

// What libmosquitto's mosquitto_validate_utf8 takes (without loading the
// library for it): well-formed UTF-8 of at most 65,536 bytes, no
// surrogates, no control characters (U+0000-U+001F, U+007F-U+009F) and no
// non-characters (U+FDD0-U+FDEF, U+xFFFE, U+xFFFF).
bool IsUtf8Text(std::string_view text) {
  if (text.size() > 65536) return false;
  std::size_t i = 0;
  while (i < text.size()) {
    auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    unsigned char lead = byte(i);
    std::size_t length;
    std::uint32_t code;
    if (lead < 0x80) {
      length = 1;
      code = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07u;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((byte(i + k) & 0xC0u) != 0x80) return false;
      code = (code << 6) | (byte(i + k) & 0x3Fu);
    }
    bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    if (code <= 0x1F || (code >= 0x7F && code <= 0x9F)) return false;
    if ((code >= 0xFDD0 && code <= 0xFDEF) || (code & 0xFFFEu) == 0xFFFEu) return false;
    i += length;
  }
  return true;
}

}  // namespace

ParsedMqttUrl ParseMqttUrl(std::string_view url, Charset charset) {
  ParsedMqttUrl parsed;
  const ServerKind* kind = url.starts_with(kTlsBroker.prefix)     ? &kTlsBroker
                           : url.starts_with(kPlainBroker.prefix) ? &kPlainBroker
                                                                  : nullptr;
  if (kind == nullptr) {
    parsed.error = CaretNotation(url, "", charset) + ": expected mqtt://HOST[:PORT] or mqtts://HOST[:PORT]";
    return parsed;
  }
  ParsedServerSource server = ParseServerSource(url, *kind, charset);
  if (!server.source) {
    parsed.error = server.error;
    return parsed;
  }
  parsed.broker = MqttBroker{server.source->host, server.source->port, kind == &kTlsBroker};
  return parsed;
}

bool IsMqttSource(std::string_view argument) {
  return argument.starts_with(kPlainSource.prefix) || argument.starts_with(kTlsSource.prefix);
}

ParsedMqttUrl ParseMqttSource(std::string_view argument, Charset charset) {
  ParsedMqttUrl parsed;
  const ServerKind& kind = argument.starts_with(kTlsSource.prefix) ? kTlsSource : kPlainSource;
  ParsedServerSource server = ParseServerSource(argument, kind, charset);
  if (!server.source) {
    parsed.error = server.error;
    return parsed;
  }
  parsed.broker = MqttBroker{server.source->host, server.source->port, &kind == &kTlsSource};
  return parsed;
}

std::string BrokerName(const MqttBroker& broker, Charset charset) {
  std::string host = CaretNotation(broker.host, "", charset);
  if (broker.host.find(':') != std::string::npos) host = "[" + host + "]";
  return host + ":" + std::to_string(broker.port);
}

std::string TopicPrefixProblem(std::string_view prefix) {
  if (prefix.empty()) return "is empty";
  if (prefix.size() > kMaxTopicPrefix) return "is longer than " + std::to_string(kMaxTopicPrefix) + " bytes";
  // Control characters are turned down as well.
  if (!IsUtf8Text(prefix)) return "is no UTF-8 text without control characters";
  if (prefix.find_first_of("+#") != std::string_view::npos) return "holds a wildcard (+ or #)";
  if (prefix.front() == '/' || prefix.back() == '/') return "begins or ends with /";
  return {};
}

std::string FollowPrefixProblem(std::string_view prefix) {
  if (prefix.empty()) return "is empty";
  if (prefix.size() > kMaxTopicPrefix) return "is longer than " + std::to_string(kMaxTopicPrefix) + " bytes";
  if (!IsUtf8Text(prefix)) return "is no UTF-8 text without control characters";
  if (prefix.front() == '/' || prefix.back() == '/') return "begins or ends with /";
  for (std::size_t start = 0;;) {
    std::size_t end = prefix.find('/', start);
    std::string_view level = prefix.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    bool last = end == std::string_view::npos;
    if (level.find_first_of("+#") != std::string_view::npos && level != "+" && !(level == "#" && last)) {
      return "holds a wildcard that is not a level of its own (+, or # as the last)";
    }
    if (last) return {};
    start = end + 1;
  }
}

std::string DefaultTopicPrefix(std::string_view hostName) {
  std::string prefix = "annc/" + std::string(hostName);
  if (hostName.empty() || hostName.find('/') != std::string_view::npos || !TopicPrefixProblem(prefix).empty()) {
    return "annc";
  }
  return prefix;
}

std::string ParseCredentials(std::string_view text, MqttCredentials* credentials) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  if (text.ends_with('\r')) text.remove_suffix(1);
  if (text.find_first_of("\r\n") != std::string_view::npos) return "holds more than one line";
  std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return "holds no user:password line";
  std::string_view user = text.substr(0, colon);
  std::string_view password = text.substr(colon + 1);
  if (user.empty()) return "names no user before ':'";
  if (!IsUtf8Text(user)) return "names a user that is no UTF-8 text without control characters";
  if (password.find('\0') != std::string_view::npos) return "holds a NUL byte in the password";
  credentials->user = user;
  credentials->password = password;
  return {};
}

ReadCredentials ReadCredentialsFile(const std::string& path, Files& files, Charset charset) {
  ReadCredentials read;
  const std::string shown = "the MQTT credentials " + CaretNotation(path, "", charset);
  FileInfo info;
  if (int error = files.Inspect(path, &info); error != 0) {
    read.error = CannotText("read " + shown, error);
    return read;
  }
  if (info.kind != FileInfo::kRegular) {
    read.error = shown + ": not a regular file";
    return read;
  }
  if ((info.mode & 0006) != 0) {
    char mode[16];
    std::snprintf(mode, sizeof mode, "%04o", info.mode);
    read.error = shown + ": every user may read or change it (mode " + mode + "); chmod o-rw it";
    return read;
  }
  std::string text;
  FileStamp stamp;
  if (int error = files.Read(path, kMaxCredentialsBytes, &text, &stamp); error != 0) {
    read.error = CannotText("read " + shown, error);
    return read;
  }
  MqttCredentials credentials;
  if (std::string problem = ParseCredentials(text, &credentials); !problem.empty()) {
    read.error = shown + " " + problem;
    return read;
  }
  read.credentials = std::move(credentials);
  return read;
}

}  // namespace annc
