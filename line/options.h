// annc-line's command line.
#ifndef ANNC_LINE_OPTIONS_H_
#define ANNC_LINE_OPTIONS_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line/ncid_line.h"
#include "line/screening.h"

namespace annc {

struct LineOptions {
  std::string device;               // as given: a device path, or ncid:HOST[:PORT]
  std::optional<NcidSource> ncid;   // set when calls come from an NCID server
  std::string annc;  // empty: annc beside annc-line's own executable
  std::string log;   // empty: annc's default log
  int ringTimeoutMs = 8000;
  int speed = 115200;
  std::vector<std::string> init;
  std::string lockDir = "/var/lock";
  bool once = false;
  bool check = false;
  ScreeningSettings screening;  // --block, --allow, --quiet, --repeat-window
  // What a blocked call gets on a modem: hung up, or left to ring unannounced.
  enum BlockMode { kHangUp, kIgnore };
  BlockMode blockMode = kHangUp;
};

struct ParsedCommandLine {
  enum Kind { kRun, kHelp, kVersion, kUsageError };
  Kind kind = kRun;
  LineOptions options;
  std::string error;  // for kUsageError: what is wrong, in one line
};

// Options come as "--name VALUE" or "--name=VALUE"; "--" ends them; exactly
// one device or ncid:HOST[:PORT]. --help and --version win over everything
// after them. --speed, --init and --lock-dir are a modem's: with an NCID
// server they are a usage error. --block, --allow and --quiet may be given
// several times.
ParsedCommandLine ParseLineCommandLine(const std::vector<std::string_view>& args);

// "--ring-timeout" values: seconds with up to three decimals ("8", "0.5"),
// more than 0 and at most a day; in milliseconds, or -1 when malformed.
int ParseSeconds(std::string_view text);

extern const char kLineUsage[];  // one line
extern const char kLineHelp[];   // the whole --help text

}  // namespace annc

#endif  // ANNC_LINE_OPTIONS_H_
