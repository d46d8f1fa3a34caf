#include "line/options.h"

#include "posix/serial_port.h"
#include "text/parse_integer.h"
#include "text/terminal_text.h"

namespace annc {

const char kLineUsage[] = "usage: annc-line [options] DEVICE|ncid:HOST[:PORT]|fritz:HOST[:PORT]\n";

const char kLineHelp[] =
    "usage: annc-line [options] DEVICE\n"
    "       annc-line [options] ncid:HOST[:PORT]\n"
    "       annc-line [options] fritz:HOST[:PORT]\n"
    "\n"
    "Holds a caller-ID modem on DEVICE (/dev/ttyACM0, /dev/ttyS0,\n"
    "/dev/serial/by-id/...), or takes the calls an NCID server reports (PORT 3333\n"
    "when left out) or a FRITZ!Box's call monitor (PORT 1012 when left out; switch\n"
    "it on by dialling #96*5*, off with #96*4*), HOST a name or an address, an IPv6\n"
    "address in brackets, and runs annc once per incoming call.\n"
    "\n"
    "options:\n"
    "  --annc PATH            the announcer to run (default: annc beside annc-line)\n"
    "  --log FILE             passed to annc as /L:FILE\n"
    "  --ring-timeout SECONDS a call has ended when no ring came this long (default 8,\n"
    "                         with a FRITZ!Box 120; decimals allowed)\n"
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
    "              phone book or the calls log cannot be used;\n"
    "            2 a usage error\n";

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

ParsedCommandLine ParseLineCommandLine(const std::vector<std::string_view>& args, Charset charset) {
  ParsedCommandLine parsed;
  LineOptions& o = parsed.options;
  o.charset = charset;
  o.screening.charset = charset;
  // A switch's name shown in an error, without control bytes driving the terminal.
  auto shown = [charset](std::string_view text) { return CaretNotation(text, "", charset); };
  std::vector<std::string_view> devices;
  auto fail = [&parsed](std::string message) {
    parsed.kind = ParsedCommandLine::kUsageError;
    parsed.error = std::move(message);
    return parsed;
  };

  std::string_view modemOption;   // the first option only a modem takes
  std::string_view filterOption;  // the first option only a server takes
  bool ringTimeoutGiven = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (!optionsEnded && arg.size() > 1 && arg[0] == '-' && !arg.starts_with("--")) {
      return fail("unknown option " + shown(arg));
    }
    if (optionsEnded || !arg.starts_with("--")) {
      devices.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string_view name = arg;
    std::string_view value;
    bool hasValue = false;
    if (std::size_t eq = arg.find('='); eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      hasValue = true;
    }

    if (name == "--help" || name == "--version" || name == "--once" || name == "--check" || name == "--say-names") {
      if (hasValue) return fail("option " + shown(name) + " takes no value");
      if (name == "--help") {
        parsed.kind = ParsedCommandLine::kHelp;
        return parsed;
      }
      if (name == "--version") {
        parsed.kind = ParsedCommandLine::kVersion;
        return parsed;
      }
      (name == "--once" ? o.once : name == "--check" ? o.check : o.sayNames) = true;
      continue;
    }

    bool known = name == "--annc" || name == "--log" || name == "--ring-timeout" || name == "--speed" ||
                 name == "--init" || name == "--lock-dir" || name == "--only-to" || name == "--only-line" ||
                 name == "--voice" || name == "--name-cache" || name == "--block" || name == "--allow" ||
                 name == "--quiet" || name == "--repeat-window" || name == "--block-mode";
    if (!known) return fail("unknown option " + shown(name));
    if (!hasValue) {
      if (i + 1 >= args.size()) return fail("option " + shown(name) + " needs a value");
      value = args[++i];
    }
    if (modemOption.empty() && (name == "--speed" || name == "--init" || name == "--lock-dir")) modemOption = name;
    if (filterOption.empty() && (name == "--only-to" || name == "--only-line")) filterOption = name;
    if (name == "--ring-timeout") {
      int ms = ParseSeconds(value);
      if (ms < 0) return fail("--ring-timeout needs seconds above 0 (such as 8 or 0.5), not '" + shown(value) + "'");
      o.ringTimeoutMs = ms;
      ringTimeoutGiven = true;
    } else if (name == "--speed") {
      int baud = static_cast<int>(ParseDecimal(value, 8).value_or(-1));
      if (!IsSupportedSpeed(baud)) return fail("--speed needs a line speed such as 115200, not '" + shown(value) + "'");
      o.speed = baud;
    } else if (name == "--only-to") {
      if (!IsOnlyToNumber(value)) {
        return fail("--only-to needs an own number such as 5559876, not '" + shown(value) + "'");
      }
      o.filter.onlyTo.emplace_back(value);
    } else if (name == "--only-line") {
      if (TrimBlanks(value).empty()) return fail("--only-line needs a line label such as SIP0");
      o.filter.onlyLines.emplace_back(TrimBlanks(value));
    } else if (name == "--quiet") {
      std::optional<QuietWindow> window = ParseQuietWindow(value);
      if (!window) return fail("--quiet needs a time span such as 22:00-07:00, not '" + shown(value) + "'");
      o.screening.quiet.push_back(*window);
    } else if (name == "--repeat-window") {
      constexpr int kMaxMinutes = 1440;
      int minutes = static_cast<int>(ParseDecimal(value, 4).value_or(-1));
      if (minutes < 0 || minutes > kMaxMinutes) {
        return fail("--repeat-window needs minutes from 0 to 1440, not '" + shown(value) + "'");
      }
      o.screening.repeatWindowMinutes = minutes;
    } else if (name == "--block-mode") {
      if (value != "hangup" && value != "ignore") {
        return fail("--block-mode needs hangup or ignore, not '" + shown(value) + "'");
      }
      o.blockMode = value == "hangup" ? LineOptions::kHangUp : LineOptions::kIgnore;
    } else if (value.empty()) {
      return fail("option " + shown(name) + " needs a value");
    } else if (name == "--annc") {
      o.annc.assign(value);
    } else if (name == "--log") {
      o.log.assign(value);
    } else if (name == "--voice") {
      if (!IsVoiceName(value)) {
        return fail("--voice needs an eSpeak NG voice such as en or de, not '" + shown(value) + "'");
      }
      o.voice.assign(value);
    } else if (name == "--name-cache") {
      o.nameCache.assign(value);
    } else if (name == "--init") {
      o.init.emplace_back(value);
    } else if (name == "--block") {
      o.screening.blockLists.emplace_back(value);
    } else if (name == "--allow") {
      o.screening.allowLists.emplace_back(value);
    } else {
      o.lockDir.assign(value);
    }
  }
  if (devices.empty()) return fail("no DEVICE, ncid:HOST or fritz:HOST given");
  if (devices.size() > 1) return fail("one DEVICE only, not '" + shown(devices[1]) + "' as well");
  if (devices[0].empty()) return fail("DEVICE is empty");
  o.device.assign(devices[0]);
  if (IsNcidSource(o.device)) {
    ParsedNcidSource server = ParseNcidSource(o.device, charset);
    if (!server.source) return fail(server.error);
    if (!modemOption.empty()) return fail(std::string(modemOption) + " is for a modem, not for an NCID server");
    if (!o.filter.onlyTo.empty()) {
      return fail("--only-to is for a FRITZ!Box: an NCID server does not say which own number was called");
    }
    o.ncid = server.source;
  } else if (IsFritzSource(o.device)) {
    ParsedFritzSource box = ParseFritzSource(o.device, charset);
    if (!box.source) return fail(box.error);
    if (!modemOption.empty()) return fail(std::string(modemOption) + " is for a modem, not for a FRITZ!Box");
    o.fritz = box.source;
    if (!ringTimeoutGiven) o.ringTimeoutMs = kFritzRingTimeoutMs;
  } else if (!filterOption.empty()) {
    return fail(std::string(filterOption) +
                (filterOption == "--only-to" ? " is for a FRITZ!Box" : " is for an NCID server or a FRITZ!Box") +
                ", not for a modem");
  }
  return parsed;
}

}  // namespace annc
