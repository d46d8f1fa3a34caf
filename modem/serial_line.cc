#include "modem/serial_line.h"

#include "log/event_log.h"
#include "platform/errors.h"
#include "platform/platform.h"
#include "text/parse_integer.h"

namespace annc {

int SerialLine = -1;

namespace {

// The descriptor whose settings SerialMakeRaw changed; -1 when none.
int RawLine = -1;

constexpr int kSerialSetupFailed = 254;
constexpr int kSettleMs = 250;

// The steps of taking the line over, in order, each with the name it is
// confirmed and reported under. The names are what launchers and people
// reading the log have always seen, so they stay as they are.
struct SetupStep {
  const char* name;
  int (Platform::*run)(int fd);
};
constexpr SetupStep kSetupSteps[] = {
    {"GetCommTimeouts", &Platform::SerialCheckTerminal},
    {"SetCommTimeouts", &Platform::SerialMakeRaw},
    {"PurgeComm", &Platform::SerialFlush},
};

}  // namespace

void OpenSerialLine(std::string_view value) {
  SerialLine = ParseInteger(value).value_or(-1);
  Platform& sys = Sys();
  for (const SetupStep& step : kSetupSteps) {
    if (int error = (sys.*step.run)(SerialLine); error != 0) {
      LogEvent("?", FailureText(step.name, error));
      throw ExitRequest{kSerialSetupFailed};
    }
    if (step.run == &Platform::SerialMakeRaw) RawLine = SerialLine;
    WriteLine(std::string(" ") + step.name + " ");
  }
  sys.Sleep(kSettleMs);
}

void GiveSerialLineBack() {
  if (RawLine == -1) return;
  Sys().SerialGiveBack(RawLine);
  RawLine = -1;
}

}  // namespace annc
