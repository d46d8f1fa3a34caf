#include "line/options.h"

#include <getopt.h>

#include <algorithm>

#include "line/mqtt/followed_calls.h"
#include "line/sources/server/fritz_line.h"
#include "posix/serial_port.h"
#include "text/parse_integer.h"
#include "text/terminal_text.h"

namespace annc {

const char kLineUsage[] = "usage: annc-line [options] DEVICE|ncid:HOST[:PORT]|fritz:HOST[:PORT] ...\n";

const char kLineHelp[] =
    "usage: annc-line [options] DEVICE\n"
    "       annc-line [options] ncid:HOST[:PORT]\n"
    "       annc-line [options] fritz:HOST[:PORT]\n"
    "       annc-line [options] mqtt:HOST[:PORT]|mqtts:HOST[:PORT]\n"
    "       annc-line [options] SOURCE SOURCE...\n"
    "       annc-line --import-log FILE [--history DB]\n"
    "\n"
    "Holds a caller-ID modem on DEVICE (/dev/ttyACM0, /dev/ttyS0,\n"
    "/dev/serial/by-id/...), or takes the calls an NCID server reports (PORT 3333\n"
    "when left out) or a FRITZ!Box's call monitor (PORT 1012 when left out; switch\n"
    "it on by dialling #96*5*, off with #96*4*), HOST a name or an address, an IPv6\n"
    "address in brackets, and runs annc once per incoming call. With mqtt: (PORT\n"
    "1883) or mqtts: (TLS, 8883), announces the calls other annc-lines publish on\n"
    "that MQTT broker (their --mqtt).\n"
    "\n"
    "Several sources may be given at once (at most one DEVICE and one mqtt:\n"
    "source, none twice): their calls are announced one at a time, a newer call\n"
    "taking over from an older one, each logged with its own source. Each source\n"
    "is connected to again or set up again on its own; one that fails at start\n"
    "ends annc-line as it would alone. A source's own options apply to it: they\n"
    "are refused only when no source given takes them. --check takes one source.\n"
    "\n"
    "options:\n"
    "  --annc PATH            the announcer to run (default: annc beside annc-line)\n"
    "  --log FILE             passed to annc as /L:FILE\n"
    "  --console TTY          show calls on the terminal TTY (/dev/tty9) and read\n"
    "                         keys there: annc-line opens it for each announcer,\n"
    "                         beeps included, without taking it over or hanging\n"
    "                         it up; its own status lines stay on standard error\n"
    "  --ring-timeout SECONDS a call has ended when no ring came this long (default 8,\n"
    "                         with a FRITZ!Box or mqtt: 120; decimals allowed)\n"
    "  --speed BAUD           modem only: line speed, 8 data bits, no parity\n"
    "                         (default 115200)\n"
    "  --init COMMAND         modem only: an extra AT command sent after the reset\n"
    "                         and before caller ID is switched on; may be given\n"
    "                         several times; one that sets the caller-ID mode\n"
    "                         (AT+VCID=2 for the raw packet) replaces annc-line's\n"
    "                         own choice\n"
    "  --lock-dir DIR         modem only: where the UUCP lock file goes (default\n"
    "                         /var/lock)\n"
    "  --only-to NUMBER       FRITZ!Box only: announce only calls to this own number;\n"
    "                         may be given several times\n"
    "  --only-line LABEL      NCID server or FRITZ!Box only: announce only calls on\n"
    "                         this line (NCID's LINE, the box's trunk such as SIP0);\n"
    "                         may be given several times\n"
    "  --say-names            speak the caller's name too, before the number: the\n"
    "                         user's own recording Numvoice/names/NUMBER.wav, or one\n"
    "                         synthesized from the phone book's name or else the\n"
    "                         network's\n"
    "  --voice NAME           the eSpeak NG voice names are synthesized in (default\n"
    "                         en; the voice names tools/make_voice.sh takes)\n"
    "  --name-cache DIR       where synthesized names are kept (default:\n"
    "                         $CACHE_DIRECTORY/names for a service, else\n"
    "                         ~/.cache/annc/names, else /var/cache/annc/names)\n"
    "  --block FILE           a list of callers not to announce (may be given several\n"
    "                         times); on a modem they are hung up at once\n"
    "  --allow FILE           a list of callers always announced, whatever the block\n"
    "                         lists and quiet hours say (may be given several times)\n"
    "  --quiet HH:MM-HH:MM    quiet hours, local time, may span midnight (22:00-07:00;\n"
    "                         may be given several times): calls are shown and\n"
    "                         logged, not announced\n"
    "  --repeat-window MINUTES\n"
    "                         a number that calls again within this long is\n"
    "                         announced even in quiet hours (default 3; 0: never)\n"
    "  --block-mode hangup|ignore\n"
    "                         on a modem, hang a blocked call up (default) or let it\n"
    "                         ring unannounced (an NCID server's line cannot be hung\n"
    "                         up from here: its blocked calls are not announced)\n"
    "  --history FILE|none    the call history, an SQLite database with one row per\n"
    "                         call (default: $STATE_DIRECTORY/calls.db for a service,\n"
    "                         else $XDG_STATE_HOME/annc/calls.db or\n"
    "                         ~/.local/state/annc/calls.db); none: keep no history\n"
    "  --import-log FILE      read a calls log annc wrote (and its B and Q lines)\n"
    "                         into the history, then end; a line already there is\n"
    "                         not added again\n"
    "  --on-call PROGRAM      run PROGRAM (a path, no arguments, no shell) when a\n"
    "                         call is decided and when it ends, with the call in\n"
    "                         its environment: ANNC_EVENT=call or end, ANNC_NUMBER,\n"
    "                         ANNC_NAME, ANNC_DECISION... (see the README); its\n"
    "                         output lines are status lines; after 30 s it is\n"
    "                         ended; at most 4 run at once, more wait their turn\n"
    "  --mqtt URL             publish the calls to an MQTT broker, mqtt://HOST[:PORT]\n"
    "                         (PORT 1883) or with TLS mqtts://HOST[:PORT] (8883, the\n"
    "                         broker's certificate checked): PREFIX/call gets one\n"
    "                         JSON object when a call is decided and one when it\n"
    "                         ends; PREFIX/state (idle or ringing) and\n"
    "                         PREFIX/status (online or offline) are retained\n"
    "  --mqtt-ca FILE         mqtts only: the CA certificates the broker's is\n"
    "                         checked against (default: the system's); for\n"
    "                         --mqtt and an mqtts: source alike\n"
    "  --mqtt-credentials FILE\n"
    "                         the broker's user and password, one line\n"
    "                         user:password, in a file not every user may read;\n"
    "                         for --mqtt and an mqtt: source alike\n"
    "  --mqtt-topic PREFIX    the topics' prefix, no + or # (default annc/HOSTNAME)\n"
    "  --mqtt-discovery       publish Home Assistant's discovery configs (retained):\n"
    "                         a device \"annc on HOSTNAME\" with an event entity for\n"
    "                         the calls and a sensor of the last caller\n"
    "  --mqtt-discovery-prefix PREFIX\n"
    "                         where Home Assistant reads them (default homeassistant)\n"
    "  --mqtt-follow PREFIX   mqtt: only: announce the calls published under PREFIX\n"
    "                         (PREFIX/call, PREFIX/status); a level may be +, the\n"
    "                         last one #; may be given several times (default\n"
    "                         annc/+); calls under the own --mqtt-topic are left out\n"
    "  --once                 end after the first call has ended\n"
    "  --check                initialise the modem, show what it is, its country and\n"
    "                         which caller-ID command it took, then print every line\n"
    "                         it sends until Ctrl-C; starts no announcer. With an\n"
    "                         NCID server or a FRITZ!Box: print every line it sends\n"
    "  --help                 show this text\n"
    "  --version              show the version\n"
    "\n"
    "An NCID server's calls are announced from the end of its start-up on (its\n"
    "call history never); the server's CIDINFO lines give the rings and the end of\n"
    "a call, and without them a call ends --ring-timeout seconds after its CID\n"
    "line. A call on another phone line ends the announcement under way and is\n"
    "announced. A lost connection ends the call in progress and is made again\n"
    "after 1 s, then after waits that double up to 60 s.\n"
    "\n"
    "A FRITZ!Box's call is announced 1 s after its RING unless the box ended it\n"
    "first (a call the box rejects); its CONNECT (answered) ends the announcement\n"
    "and its DISCONNECT the call. Calls dropped by --only-to or --only-line are\n"
    "neither announced nor logged.\n"
    "\n"
    "With mqtt:, a call another annc-line decided to announce is announced (one it\n"
    "blocked or kept quiet is not), and this box's own lists and quiet hours apply\n"
    "too; its end, the publisher's offline status, a lost connection to the broker\n"
    "or --ring-timeout ends it. The broker is connected to again as with --mqtt.\n"
    "\n"
    "Lists are in the format of an NCID server's blacklist and whitelist, so an\n"
    "existing one works as it is (--block /etc/ncid/ncidd.blacklist). One entry a\n"
    "line; blank lines and lines starting with # are left out. An entry holds\n"
    "expressions separated by blanks, each a word or a \"quoted string\"; it\n"
    "matches a call whose number or name holds it (letter case counts); a leading\n"
    "^ matches only at the start. Text after #= is the entry's label, shown and\n"
    "logged for a call it blocks. A call without a number is matched as WITHHELD.\n"
    "\n"
    "    8005551212            #= Car warranty\n"
    "    ^1900 ^1976           #= Premium rate\n"
    "    \"CARD SERVICES\" SURVEY\n"
    "    ^WITHHELD             #= No number\n"
    "\n"
    "A list that cannot be read at start is an error; one edited while annc-line\n"
    "runs is read again at the next call. Blocked and quiet calls are logged by\n"
    "annc-line with B or Q in annc's calls log (--log, or annc's own default).\n"
    "\n"
    "exit codes: 0 ended by SIGINT, SIGTERM or SIGHUP, or after --once;\n"
    "            1 the device cannot be opened, is in use, or the modem does not\n"
    "              answer; the server or box cannot be found or reached at start;\n"
    "              a list cannot be read at start; annc, its sound folder, its\n"
    "              phone book, the calls log, the call history or the --on-call\n"
    "              program cannot be used; --import-log cannot read its log;\n"
    "              the MQTT credentials cannot be read; before its first\n"
    "              connection the MQTT broker refuses them or its certificate\n"
    "              is not trusted;\n"
    "            2 a usage error;\n"
    "            3 the --console terminal cannot be opened\n";

namespace {

// A switch's name shown in an error, without control bytes driving the
// terminal: in caret notation under the locale's `charset`.
std::string Shown(std::string_view text, Charset charset) { return CaretNotation(text, "", charset); }

}  // namespace

bool IsVoiceName(std::string_view text) {
  constexpr std::size_t kMaxVoiceName = 40;
  if (text.empty() || text.size() > kMaxVoiceName || text.find("..") != std::string_view::npos) return false;
  for (char c : text) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '+' ||
              c == '_' || c == '/';
    if (!ok) return false;
  }
  return text[0] != '/' && text[0] != '-';
}

int ParseSeconds(std::string_view text) {
  constexpr int kMaxSeconds = 86400;
  std::string_view whole = text;
  std::string_view fraction;
  long long thousandths = 0;
  if (std::size_t dot = text.find('.'); dot != std::string_view::npos) {
    whole = text.substr(0, dot);
    fraction = text.substr(dot + 1);
    std::optional<long long> digits = ParseDecimal(fraction, 3);
    if (!digits) return -1;
    thousandths = *digits;
    for (std::size_t i = fraction.size(); i < 3; ++i) thousandths *= 10;
  }
  if (whole.empty()) whole = "0";
  std::optional<long long> seconds = ParseDecimal(whole, 6);
  if (!seconds || *seconds > kMaxSeconds) return -1;
  long long ms = *seconds * 1000 + thousandths;
  if (ms <= 0 || ms > kMaxSeconds * 1000) return -1;
  return static_cast<int>(ms);
}

namespace {

// Which sources an option is for.
enum class For {
  kAnySource,
  kModem,
  kServer,  // an NCID server or a FRITZ!Box
  kFritz,   // a FRITZ!Box alone
  kMqtt,    // an MQTT broker's published calls
};

// Where the calls come from, as the device says.
enum class Source { kModem, kNcid, kFritz, kMqtt };

struct LineOption;

// The command line as read so far, with what the checks after the options need.
struct CommandLine {
  ParsedCommandLine parsed;
  std::vector<std::string_view> devices;  // in the order given
  // The first option given that only a modem takes, the first that only a
  // server takes, and the first that only a FRITZ!Box takes.
  const LineOption* modemOption = nullptr;
  const LineOption* serverOption = nullptr;
  const LineOption* fritzOption = nullptr;
  const LineOption* mqttOption = nullptr;  // the first for an mqtt: source alone
  bool ringTimeoutGiven = false;
  std::vector<Source> sources;  // each source's kind, in the order given
};

// One option's value on its way into the command line.
struct Taking {
  std::string_view name;   // as typed: "--annc"
  std::string_view value;  // empty for a switch
  CommandLine& line;
  LineOptions& o;
};

enum OptionValue { kSwitch, kValue };

struct LineOption {
  const char* name;  // without its leading "--"
  OptionValue value;
  For source;
  // Takes the value into the command line: what is wrong with it, or empty.
  std::string (*take)(const Taking&);
};

// "--speed needs a line speed such as 115200, not 'fast'".
std::string Needs(const Taking& t, std::string_view what) {
  return std::string(t.name) + " needs " + std::string(what) + ", not '" + Shown(t.value, t.o.charset) + "'";
}

std::string NeedsValue(const Taking& t) { return "option " + Shown(t.name, t.o.charset) + " needs a value"; }

std::string Ends(const Taking& t, ParsedCommandLine::Kind kind) {
  t.line.parsed.kind = kind;
  return {};
}

std::string Set(bool& flag) {
  flag = true;
  return {};
}

std::string SetText(const Taking& t, std::string& to) {
  if (t.value.empty()) return NeedsValue(t);
  to.assign(t.value);
  return {};
}

std::string AddText(const Taking& t, std::vector<std::string>& to) {
  if (t.value.empty()) return NeedsValue(t);
  to.emplace_back(t.value);
  return {};
}

std::string TakeRingTimeout(const Taking& t) {
  int ms = ParseSeconds(t.value);
  if (ms < 0) return Needs(t, "seconds above 0 (such as 8 or 0.5)");
  t.o.ringTimeoutMs = ms;
  t.line.ringTimeoutGiven = true;
  return {};
}

std::string TakeSpeed(const Taking& t) {
  int baud = static_cast<int>(ParseDecimal(t.value, 8).value_or(-1));
  if (!IsSupportedSpeed(baud)) return Needs(t, "a line speed such as 115200");
  t.o.speed = baud;
  return {};
}

std::string TakeOnlyTo(const Taking& t) {
  if (!IsOnlyToNumber(t.value)) return Needs(t, "an own number such as 5559876");
  t.o.filter.onlyTo.emplace_back(t.value);
  return {};
}

std::string TakeOnlyLine(const Taking& t) {
  std::string_view label = TrimBlanks(t.value);
  if (label.empty()) return std::string(t.name) + " needs a line label such as SIP0";
  t.o.filter.onlyLines.emplace_back(label);
  return {};
}

std::string TakeVoice(const Taking& t) {
  if (t.value.empty()) return NeedsValue(t);
  if (!IsVoiceName(t.value)) return Needs(t, "an eSpeak NG voice such as en or de");
  t.o.voice.assign(t.value);
  return {};
}

std::string TakeQuiet(const Taking& t) {
  std::optional<QuietWindow> window = ParseQuietWindow(t.value);
  if (!window) return Needs(t, "a time span such as 22:00-07:00");
  t.o.screening.quiet.push_back(*window);
  return {};
}

std::string TakeRepeatWindow(const Taking& t) {
  constexpr int kMaxMinutes = 1440;
  int minutes = static_cast<int>(ParseDecimal(t.value, 4).value_or(-1));
  if (minutes < 0 || minutes > kMaxMinutes) return Needs(t, "minutes from 0 to 1440");
  t.o.screening.repeatWindowMinutes = minutes;
  return {};
}

std::string TakeBlockMode(const Taking& t) {
  if (t.value != "hangup" && t.value != "ignore") return Needs(t, "hangup or ignore");
  t.o.blockMode = t.value == "hangup" ? LineOptions::kHangUp : LineOptions::kIgnore;
  return {};
}

std::string TakeMqtt(const Taking& t) {
  ParsedMqttUrl url = ParseMqttUrl(t.value, t.o.charset);
  if (!url.broker) return std::string(t.name) + ": " + url.error;
  t.o.mqtt = url.broker;
  return {};
}

std::string TakeMqttTopic(const Taking& t) {
  if (std::string problem = TopicPrefixProblem(t.value); !problem.empty()) {
    return std::string(t.name) + " '" + Shown(t.value, t.o.charset) + "' " + problem;
  }
  t.o.mqttTopic.assign(t.value);
  return {};
}

// Home Assistant's prefix is a topic prefix like ours: no wildcards.
std::string TakeDiscoveryPrefix(const Taking& t) {
  if (std::string problem = TopicPrefixProblem(t.value); !problem.empty()) {
    return std::string(t.name) + " '" + Shown(t.value, t.o.charset) + "' " + problem;
  }
  t.o.mqttDiscoveryPrefix.assign(t.value);
  return {};
}

std::string TakeMqttFollow(const Taking& t) {
  if (std::string problem = FollowPrefixProblem(t.value); !problem.empty()) {
    return std::string(t.name) + " '" + Shown(t.value, t.o.charset) + "' " + problem;
  }
  t.o.mqttFollow.emplace_back(t.value);
  return {};
}

// annc-line's options, in the order --help shows them.
const LineOption kOptions[] = {
    {"annc", kValue, For::kAnySource, [](const Taking& t) { return SetText(t, t.o.annc); }},
    {"log", kValue, For::kAnySource, [](const Taking& t) { return SetText(t, t.o.log); }},
    {"console", kValue, For::kAnySource, [](const Taking& t) { return SetText(t, t.o.console); }},
    {"ring-timeout", kValue, For::kAnySource, TakeRingTimeout},
    {"speed", kValue, For::kModem, TakeSpeed},
    {"init", kValue, For::kModem, [](const Taking& t) { return AddText(t, t.o.init); }},
    {"lock-dir", kValue, For::kModem, [](const Taking& t) { return SetText(t, t.o.lockDir); }},
    {"only-to", kValue, For::kFritz, TakeOnlyTo},
    {"only-line", kValue, For::kServer, TakeOnlyLine},
    {"say-names", kSwitch, For::kAnySource, [](const Taking& t) { return Set(t.o.sayNames); }},
    {"voice", kValue, For::kAnySource, TakeVoice},
    {"name-cache", kValue, For::kAnySource, [](const Taking& t) { return SetText(t, t.o.nameCache); }},
    {"block", kValue, For::kAnySource, [](const Taking& t) { return AddText(t, t.o.screening.blockLists); }},
    {"allow", kValue, For::kAnySource, [](const Taking& t) { return AddText(t, t.o.screening.allowLists); }},
    {"quiet", kValue, For::kAnySource, TakeQuiet},
    {"repeat-window", kValue, For::kAnySource, TakeRepeatWindow},
    {"block-mode", kValue, For::kAnySource, TakeBlockMode},
    {"history", kValue, For::kAnySource, [](const Taking& t) { return SetText(t, t.o.history); }},
    {"import-log", kValue, For::kAnySource, [](const Taking& t) { return SetText(t, t.o.importLog); }},
    {"on-call", kValue, For::kAnySource, [](const Taking& t) { return SetText(t, t.o.onCall); }},
    {"mqtt", kValue, For::kAnySource, TakeMqtt},
    {"mqtt-ca", kValue, For::kAnySource, [](const Taking& t) { return SetText(t, t.o.mqttCa); }},
    {"mqtt-credentials", kValue, For::kAnySource, [](const Taking& t) { return SetText(t, t.o.mqttCredentials); }},
    {"mqtt-topic", kValue, For::kAnySource, TakeMqttTopic},
    {"mqtt-discovery", kSwitch, For::kAnySource, [](const Taking& t) { return Set(t.o.mqttDiscovery); }},
    {"mqtt-discovery-prefix", kValue, For::kAnySource, TakeDiscoveryPrefix},
    {"mqtt-follow", kValue, For::kMqtt, TakeMqttFollow},
    {"once", kSwitch, For::kAnySource, [](const Taking& t) { return Set(t.o.once); }},
    {"check", kSwitch, For::kAnySource, [](const Taking& t) { return Set(t.o.check); }},
    {"help", kSwitch, For::kAnySource, [](const Taking& t) { return Ends(t, ParsedCommandLine::kHelp); }},
    {"version", kSwitch, For::kAnySource, [](const Taking& t) { return Ends(t, ParsedCommandLine::kVersion); }},
};

std::string Dashed(const LineOption& option) { return std::string("--") + option.name; }

// getopt_long returns kOptions[i] as kFirstOption + i, clear of its own 1, '?' and ':'.
constexpr int kFirstOption = 256;

std::vector<option> GetoptTable() {
  std::vector<option> table;
  for (const LineOption& o : kOptions) {
    int index = static_cast<int>(&o - kOptions);
    table.push_back({o.name, o.value == kValue ? required_argument : no_argument, nullptr, kFirstOption + index});
  }
  table.push_back({});
  return table;
}

// The option an argument names in full ("--annc", "--annc=x"); null for any
// other argument, an abbreviation too.
const LineOption* Named(std::string_view arg) {
  if (!arg.starts_with("--")) return nullptr;
  std::string_view name = arg.substr(2, arg.find('=') - 2);
  for (const LineOption& option : kOptions) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

// What is wrong with an argument getopt_long refused, or took for an
// abbreviation, which annc-line does not accept.
std::string Refused(std::string_view arg, Charset charset) {
  if (!arg.starts_with("--")) return "unknown option " + Shown(arg, charset);
  std::string name = Shown(arg.substr(0, arg.find('=')), charset);
  const LineOption* option = Named(arg);
  if (option == nullptr) return "unknown option " + name;
  return "option " + name + (option->value == kValue ? " needs a value" : " takes no value");
}

// The arguments as getopt_long takes them: the program's name first, then a
// copy of each. A NUL byte, which no real command line holds, is 0x01 in
// the copies, so that getopt_long sees every argument whole; the texts
// taken come from the arguments themselves.
class GetoptArguments {
 public:
  explicit GetoptArguments(const std::vector<std::string_view>& args) : args_(args) {
    copies_.emplace_back("annc-line");
    for (std::string_view arg : args) {
      std::string& copy = copies_.emplace_back(arg);
      std::replace(copy.begin(), copy.end(), '\0', '\x01');
    }
    for (std::string& copy : copies_) pointers_.push_back(copy.data());
    pointers_.push_back(nullptr);
  }

  int count() const { return static_cast<int>(copies_.size()); }
  char** pointers() { return pointers_.data(); }
  // The argument at getopt_long's index, 1 for the first.
  std::string_view At(int index) const { return args_[index - 1]; }

 private:
  const std::vector<std::string_view>& args_;
  std::vector<std::string> copies_;
  std::vector<char*> pointers_;
};

// Remembers the first option given for a modem, for a server and for a
// FRITZ!Box alone, for CheckSource.
void NoteSource(const LineOption& option, CommandLine& line) {
  if (option.source == For::kModem && line.modemOption == nullptr) line.modemOption = &option;
  bool server = option.source == For::kServer || option.source == For::kFritz;
  if (server && line.serverOption == nullptr) line.serverOption = &option;
  if (option.source == For::kFritz && line.fritzOption == nullptr) line.fritzOption = &option;
  if (option.source == For::kMqtt && line.mqttOption == nullptr) line.mqttOption = &option;
}

// Takes the option getopt_long returned as `got` for the argument at `at`;
// its value, if it takes one, was the next argument when not after "=".
std::string TakeOption(const GetoptArguments& argv, int at, int got, CommandLine& line) {
  std::string_view arg = argv.At(at);
  const LineOption* option = Named(arg);
  if (option == nullptr || got != kFirstOption + (option - kOptions)) return Refused(arg, line.parsed.options.charset);
  std::string_view value;
  if (option->value == kValue) {
    std::size_t eq = arg.find('=');
    value = eq != std::string_view::npos ? arg.substr(eq + 1) : argv.At(optind - 1);
  }
  NoteSource(*option, line);
  std::string name = Dashed(*option);
  return option->take(Taking{name, value, line, line.parsed.options});
}

// Reads the arguments in order, the options into line.parsed and the others
// into line.devices, up to the first error, which it returns, or to --help
// or --version.
std::string ReadArguments(const std::vector<std::string_view>& args, CommandLine& line) {
  GetoptArguments argv(args);
  std::vector<option> table = GetoptTable();
  // "-": every argument in its place, one that is no option returned as 1;
  // ":" and opterr 0: the errors are annc-line's own.
  const int printedErrors = opterr;
  opterr = 0;
  optind = 0;  // glibc starts afresh, forgetting the last command line read
  std::string error;
  while (error.empty() && line.parsed.kind == ParsedCommandLine::kRun) {
    const int at = std::max(optind, 1);  // the argument getopt_long reads next
    const int got = getopt_long(argv.count(), argv.pointers(), "-:", table.data(), nullptr);
    if (got == -1) {  // the end, or "--": what follows it is devices
      for (int i = optind; i < argv.count(); ++i) line.devices.push_back(argv.At(i));
      break;
    }
    if (got == 1) {
      line.devices.push_back(argv.At(at));
    } else {
      error = TakeOption(argv, at, got, line);
    }
  }
  opterr = printedErrors;
  return error;
}

// The sources: at least one, none empty or given twice, at most one
// device and one mqtt: source, and one alone with --check.
std::string TakeDevices(CommandLine& line) {
  const std::vector<std::string_view>& devices = line.devices;
  const Charset charset = line.parsed.options.charset;
  if (devices.empty()) return "no DEVICE, ncid:HOST or fritz:HOST given";
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (devices[i].empty()) return "DEVICE is empty";
    if (std::find(devices.begin(), devices.begin() + static_cast<std::ptrdiff_t>(i), devices[i]) !=
        devices.begin() + static_cast<std::ptrdiff_t>(i)) {
      return "'" + Shown(devices[i], charset) + "' is given twice";
    }
  }
  if (devices.size() > 1 && line.parsed.options.check) {
    return "--check takes one source at a time, not '" + Shown(devices[1], charset) + "' as well";
  }
  line.parsed.options.device.assign(devices[0]);
  return {};
}

// Each source's kind and what it names; the first's in the options' own
// fields as well.
std::string TakeSources(CommandLine& line) {
  LineOptions& o = line.parsed.options;
  const std::vector<std::string_view>& devices = line.devices;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    LineOptions::SourceArgument argument;
    argument.device.assign(devices[i]);
    Source kind = Source::kModem;
    if (const ServerKind* server = ServerKindOf(argument.device)) {
      ParsedServerSource parsed = ParseServerSource(argument.device, *server, o.charset);
      if (!parsed.source) return parsed.error;
      argument.server = parsed.source;
      kind = server->protocol == ServerKind::kFritz ? Source::kFritz : Source::kNcid;
    } else if (IsMqttSource(argument.device)) {
      ParsedMqttUrl broker = ParseMqttSource(argument.device, o.charset);
      if (!broker.broker) return broker.error;
      argument.mqttSource = broker.broker;
      kind = Source::kMqtt;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (kind == Source::kModem && line.sources[j] == kind) {
        return "one DEVICE only, not '" + Shown(devices[i], o.charset) + "' as well";
      }
      if (kind == Source::kMqtt && line.sources[j] == kind) {
        return "one mqtt: source only, not '" + Shown(devices[i], o.charset) + "' as well";
      }
    }
    line.sources.push_back(kind);
    o.sources.push_back(std::move(argument));
  }
  o.server = o.sources.front().server;
  for (const LineOptions::SourceArgument& argument : o.sources) {
    if (argument.mqttSource) o.mqttSource = argument.mqttSource;
  }
  return {};
}

bool Has(const CommandLine& line, Source kind) {
  return std::find(line.sources.begin(), line.sources.end(), kind) != line.sources.end();
}

std::string Whom(For source) {
  switch (source) {
    case For::kModem:
      return "a modem";
    case For::kServer:
      return "an NCID server or a FRITZ!Box";
    case For::kFritz:
      return "a FRITZ!Box";
    case For::kMqtt:
      return "an mqtt: source";
    case For::kAnySource:
      break;
  }
  return "any source";
}

// "--speed is for a modem, not for a FRITZ!Box".
std::string NotFor(const LineOption& option, std::string_view source) {
  return Dashed(option) + " is for " + Whom(option.source) + ", not for " + std::string(source);
}

// The sources given, as an error names them: "an NCID server or a
// FRITZ!Box"; an mqtt: source is `mqtt`.
std::string Given(const CommandLine& line, std::string_view mqtt) {
  std::string given;
  for (Source kind : {Source::kModem, Source::kNcid, Source::kFritz, Source::kMqtt}) {
    if (!Has(line, kind)) continue;
    if (!given.empty()) given += " or ";
    given += kind == Source::kModem  ? std::string("a modem")
             : kind == Source::kNcid ? std::string("an NCID server")
             : kind == Source::kFritz ? std::string("a FRITZ!Box")
                                      : std::string(mqtt);
  }
  return given;
}

// An option given that no source given takes.
std::string CheckSource(const CommandLine& line) {
  if (line.mqttOption != nullptr && !Has(line, Source::kMqtt)) return NotFor(*line.mqttOption, Given(line, ""));
  if (line.modemOption != nullptr && !Has(line, Source::kModem)) {
    return NotFor(*line.modemOption, Given(line, "an MQTT broker"));
  }
  if (line.fritzOption != nullptr && !Has(line, Source::kFritz)) {
    if (Has(line, Source::kNcid)) {
      return Dashed(*line.fritzOption) + " is for " + Whom(For::kFritz) +
             ": an NCID server does not say which own number was called";
    }
    return NotFor(*line.fritzOption, Given(line, "an MQTT broker"));
  }
  if (line.serverOption != nullptr && !Has(line, Source::kNcid) && !Has(line, Source::kFritz)) {
    return NotFor(*line.serverOption, Given(line, "an MQTT broker"));
  }
  return {};
}

// The MQTT options that only go with --mqtt, the broker's own with an
// mqtt: source as well, and --mqtt-ca with TLS.
std::string CheckMqtt(const LineOptions& o) {
  if (!o.mqtt && !o.mqttSource) {
    if (!o.mqttCa.empty()) return "--mqtt-ca needs --mqtt";
    if (!o.mqttCredentials.empty()) return "--mqtt-credentials needs --mqtt";
  }
  if (!o.mqtt) {
    if (!o.mqttTopic.empty()) return "--mqtt-topic needs --mqtt";
    if (o.mqttDiscovery) return "--mqtt-discovery needs --mqtt";
  }
  if (!o.mqttDiscoveryPrefix.empty() && !o.mqttDiscovery) {
    return "--mqtt-discovery-prefix needs --mqtt-discovery";
  }
  bool tls = (o.mqtt && o.mqtt->tls) || (o.mqttSource && o.mqttSource->tls);
  if (!o.mqttCa.empty() && !tls) {
    return o.mqtt ? "--mqtt-ca is for mqtts://, not for mqtt://" : "--mqtt-ca is for mqtts:, not for mqtt:";
  }
  return {};
}

// A FRITZ!Box sends no rings: without --ring-timeout, a call whose end the
// box did not say waits longer, and so does one followed on MQTT.
void SetSourceDefaults(CommandLine& line) {
  LineOptions& o = line.parsed.options;
  const int given = o.ringTimeoutMs;
  for (std::size_t i = 0; i < line.sources.size(); ++i) {
    int& timeout = o.sources[i].ringTimeoutMs;
    timeout = given;
    if (line.sources[i] == Source::kFritz && !line.ringTimeoutGiven) timeout = kFritzRingTimeoutMs;
    if (line.sources[i] == Source::kMqtt && !line.ringTimeoutGiven) timeout = kMqttRingTimeoutMs;
  }
  o.ringTimeoutMs = o.sources.front().ringTimeoutMs;
  if (Has(line, Source::kMqtt) && o.mqttFollow.empty()) o.mqttFollow.emplace_back(kDefaultFollow);
}

}  // namespace

ParsedCommandLine ParseLineCommandLine(const std::vector<std::string_view>& args, Charset charset) {
  CommandLine line;
  line.parsed.options.charset = charset;
  line.parsed.options.screening.charset = charset;
  std::string error = ReadArguments(args, line);
  if (error.empty() && line.parsed.kind == ParsedCommandLine::kRun && !line.parsed.options.importLog.empty()) {
    // Importing a log needs no source of calls.
    if (!line.devices.empty()) error = "--import-log takes no DEVICE";
  } else if (error.empty() && line.parsed.kind == ParsedCommandLine::kRun) {
    error = TakeDevices(line);
    if (error.empty()) error = TakeSources(line);
    if (error.empty()) error = CheckSource(line);
    if (error.empty()) error = CheckMqtt(line.parsed.options);
    if (error.empty()) SetSourceDefaults(line);
  }
  if (!error.empty()) {
    line.parsed.kind = ParsedCommandLine::kUsageError;
    line.parsed.error = std::move(error);
  }
  return line.parsed;
}

}  // namespace annc
