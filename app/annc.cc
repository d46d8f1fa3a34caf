#include "app/annc.h"

#include "app/command_line.h"
#include "app/phone_book.h"
#include "log/event_log.h"
#include "modem/result_watcher.h"
#include "modem/serial_line.h"
#include "platform/errors.h"
#include "platform/locale.h"
#include "platform/platform.h"
#include "text/paths.h"
#include "text/terminal_text.h"
#include "voice/announcement.h"
#include "voice/wave_player.h"

namespace annc {

std::string CallerNumber;
std::string CallerName;

namespace {

constexpr std::string_view kSwitchChars = "-/";
constexpr const char* kDefaultLogFileName = "default.log";

// Non-zero when a key was pressed; consumes at most one pending key.
int KeyPressed() { return Sys().PollKey(); }

void WriteCallerLine() {
  std::string line = CallerLabel(EmptyName::kKeepSeparator);
  // The number comes from the phone network and the name from a file: on a
  // terminal their control bytes are shown, not obeyed.
  if (Sys().StdoutIsTerminal()) line = CaretNotation(line, "\t");
  WriteLine(line);
}

void Run() {
  ResetCallState();
  if (ArgumentCount() > 0) {
    // Keys typed from now on wait unechoed for the first poll.
    Sys().TakeConsole();
    LogFileName = ChangeExtension(Arguments[0], "log");
    if (int i = FindSwitch("L:", kSwitchChars, true)) LogFileName = SwitchValue(i);
    if (int i = FindSwitch("H:", kSwitchChars, true)) OpenSerialLine(SwitchValue(i));

    SoundDir = FolderOf(Arguments[0]) + kSoundFolderName;
    LoadPhoneBook(SoundDir + "aon.db");

    CallerNumber = Arguments[1].substr(0, Arguments[1].find(':'));
    if (auto name = LookUpName(CallerNumber)) CallerName.assign(*name);

    // The title drops control bytes itself.
    SetConsoleTitle(CallerLabel(EmptyName::kKeepSeparator));
    LogEvent(" ", CallerLabel(EmptyName::kNumberAlone));

    WriteLine("Press ANY KEY to exit.");
    WriteLine("====================");

    // The keyboard is polled between cycles, never during one.
    while (KeyPressed() == 0) {
      WriteCallerLine();
      AnnounceCall(CallerNumber);
    }
  }
  DrainModem();
}

}  // namespace

void ResetCallState() {
  CallerNumber.clear();
  CallerName.clear();
  SoundDir = kSoundFolderName;
  SerialLine = -1;
  ModemLineBuffer.Clear();
  LogFileName = kDefaultLogFileName;
}

std::string CallerLabel(EmptyName emptyName) {
  if (CallerName.empty() && emptyName == EmptyName::kNumberAlone) return CallerNumber;
  return CallerNumber + " - " + CallerName;
}

int RunAnnc(int argc, char** argv) {
  UseEnvironmentLocale();
  SetArguments(argc, argv);
  int code = 0;
  try {
    Run();
  } catch (const ExitRequest& request) {
    code = request.code;
  } catch (const UnhandledError& error) {
    try {
      Sys().WriteOut(ErrorReport(error, BaseName(Arguments.empty() ? std::string() : Arguments[0])));
    } catch (const UnhandledError&) {
      // Standard output itself is broken: the exit code is all that is left.
    }
    code = 1;
  }
  // Every way out gives back what the call took: the launcher reads the
  // line again, the user gets the terminal and its title.
  GiveSerialLineBack();
  Sys().GiveConsoleBack();
  return code;
}

}  // namespace annc
