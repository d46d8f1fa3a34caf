// annc-line's command line.
#ifndef ANNC_LINE_OPTIONS_H_
#define ANNC_LINE_OPTIONS_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line/calls/call_tracker.h"
#include "line/mqtt/mqtt_url.h"
#include "line/sources/call_filter.h"
#include "line/sources/server/server_argument.h"
#include "line/screening/screening.h"

namespace annc {

struct LineOptions {
  // One source of calls as given on the command line.
  struct SourceArgument {
    std::string device;                  // as given: a device path, ncid:, fritz:, mqtt: or mqtts:HOST[:PORT]
    std::optional<ServerSource> server;  // an NCID server's or a FRITZ!Box's
    std::optional<MqttBroker> mqttSource;
    int ringTimeoutMs = TrackerSettings::kDefaultRingTimeout;  // --ring-timeout, or the source's default
  };
  // Every source, in the order given; device and server below describe the
  // first, mqttSource the mqtt: source among them. Empty (options made by
  // hand): the one source the fields below describe.
  std::vector<SourceArgument> sources;
  std::string device;                // as given: a device path, ncid:, fritz:, mqtt: or mqtts:HOST[:PORT]
  std::optional<ServerSource> server;  // set when calls come from an NCID server or a FRITZ!Box's call monitor
  // mqtt:HOST[:PORT] or mqtts:HOST[:PORT]: the broker on which the calls
  // other annc-lines publish are followed, under the prefixes of
  // --mqtt-follow (kDefaultFollow when not given).
  std::optional<MqttBroker> mqttSource;
  std::vector<std::string> mqttFollow;
  CallFilter filter;                 // --only-to, --only-line: never given for a modem
  std::string annc;  // empty: annc beside annc-line's own executable
  std::string log;   // empty: annc's default log
  // --console: the terminal the announcer shows calls on and reads keys
  // from, opened by annc-line (empty: annc-line's own standard input and
  // output).
  std::string console;
  int ringTimeoutMs = TrackerSettings::kDefaultRingTimeout;
  int speed = 115200;
  std::vector<std::string> init;
  std::string lockDir = "/var/lock";
  bool once = false;
  bool check = false;
  bool sayNames = false;   // give annc a recording of the caller's name (/N:)
  std::string voice = "en";  // eSpeak NG's voice for synthesized names
  std::string nameCache;     // empty: DefaultNameCacheFolder()
  ScreeningSettings screening;  // --block, --allow, --quiet, --repeat-window
  // What a blocked call gets on a modem: hung up, or left to ring unannounced.
  enum BlockMode { kHangUp, kIgnore };
  BlockMode blockMode = kHangUp;
  // The call history: empty for the default place (DefaultHistoryFile), or
  // "none" for none.
  std::string history;
  std::string importLog;  // --import-log: read this calls log into the history and end
  std::string onCall;     // a program run for each call decided and ended
  // --mqtt: the broker calls are published to; --mqtt-topic (empty:
  // DefaultTopicPrefix) only with it; --mqtt-ca and --mqtt-credentials
  // (files) with it or an mqtt: source, and serve both.
  std::optional<MqttBroker> mqtt;
  std::string mqttCa;
  std::string mqttCredentials;
  std::string mqttTopic;
  // --mqtt-discovery: Home Assistant's configs, under --mqtt-discovery-prefix
  // (empty: "homeassistant").
  bool mqttDiscovery = false;
  std::string mqttDiscoveryPrefix;
  // How the locale encodes text: what the C1 controls in text shown on the
  // terminal and written to the calls log look like.
  Charset charset = Charset::kSingleByte;
};

struct ParsedCommandLine {
  enum Kind { kRun, kHelp, kVersion, kUsageError };
  Kind kind = kRun;
  LineOptions options;
  std::string error;  // for kUsageError: what is wrong, in one line
};

// Options come as "--name VALUE" or "--name=VALUE"; "--" ends them; one
// or more sources (none with --import-log), each a device, ncid:HOST[:PORT],
// fritz:HOST[:PORT], mqtt:HOST[:PORT] or mqtts:HOST[:PORT], none given
// twice, at most one device and one mqtt: source, and one source alone
// with --check. --help and --version win over everything after them.
// --speed, --init and --lock-dir are a modem's: without a device among the
// sources they are a usage error. --only-line (may be repeated) is for a
// server; --only-to (may be repeated) for a FRITZ!Box alone, as an NCID
// server does not say which own number was called. --mqtt-follow (may be
// repeated) is for an mqtt: source. An option is refused only when no
// source given takes it.
// --block, --allow and --quiet may be given several times. `charset` is the
// locale's: the options' copy of it, and the one its errors are shown in.
ParsedCommandLine ParseLineCommandLine(const std::vector<std::string_view>& args, Charset charset);

// "--ring-timeout" values: seconds with up to three decimals ("8", "0.5"),
// more than 0 and at most a day; in milliseconds, or -1 when malformed.
int ParseSeconds(std::string_view text);

// "--voice" values: an eSpeak NG voice name such as "en", "en-us", "de",
// "en+f3" or "gmw/en": letters, digits and "-", "+", "_", "/", at most 40
// characters, no "..".
bool IsVoiceName(std::string_view text);

extern const char kLineUsage[];  // one line
extern const char kLineHelp[];   // the whole --help text

}  // namespace annc

#endif  // ANNC_LINE_OPTIONS_H_
