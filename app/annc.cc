#include "app/annc.h"

#include "app/command_line.h"
#include "app/phone_book.h"
#include "log/event_log.h"
#include "log/text.h"
#include "modem/result_watcher.h"
#include "modem/serial_line.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "voice/announcement.h"
#include "voice/wave_player.h"

namespace annc {

std::string CallerNumber;
std::string CallerName;

namespace {

constexpr std::string_view kSwitchChars = "-/";

void WriteCallerLine() {
  std::string line = CallerNumber + " - " + CallerName;
  // The number comes from the phone network and the name from a file: on a
  // terminal their control bytes are shown, not obeyed.
  if (Sys().StdoutIsTerminal()) line = CaretNotation(line, "\t");
  WriteLine(line);
}

void Run() {
  ModemLineBuffer.Clear();
  SerialLine = -1;
  if (ArgumentCount() > 0) {
    LogFileName = ChangeExtension(Arguments[0], "log");
    if (int i = FindSwitch("L:", kSwitchChars, true)) LogFileName = SwitchValue(i);
    if (int i = FindSwitch("H:", kSwitchChars, true)) OpenSerialLine(SwitchValue(i));

    SoundDir = FolderOf(Arguments[0]) + SoundDir;
    LoadPhoneBook(SoundDir + "aon.db");

    CallerNumber = Arguments[1].substr(0, Arguments[1].find(':'));
    if (auto name = LookUpName(CallerNumber)) CallerName.assign(*name);

    SetConsoleTitle(CallerNumber + " - " + CallerName);
    LogEvent(" ", CallerName.empty() ? CallerNumber : CallerNumber + " - " + CallerName);

    WriteLine("Press ANY KEY to exit.");
    WriteLine("====================");

    // The keyboard is polled between cycles, never during one.
    while (KeyPressed() == 0) {
      WriteCallerLine();
      AnnounceCall(CallerNumber);
    }
  }
  if (SerialLine != -1) DrainModem();
}

std::string ModuleName() {
  const std::string& self = Arguments.empty() ? std::string() : Arguments[0];
  return self.substr(self.rfind('/') + 1);
}

}  // namespace

int KeyPressed() { return Sys().PollKey(); }

int RunAnnc(int argc, char** argv) {
  UseEnvironmentLocale();
  SetArguments(argc, argv);
  try {
    Run();
  } catch (const ExitRequest& request) {
    return request.code;
  } catch (const UnhandledError& error) {
    try {
      Sys().WriteOut(ErrorReport(error, ModuleName()));
    } catch (const UnhandledError&) {
      // Standard output itself is broken: the exit code is all that is left.
    }
    return 1;
  }
  return 0;
}

}  // namespace annc
