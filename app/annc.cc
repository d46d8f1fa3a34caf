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
std::string NameRecording;

namespace {

constexpr std::string_view kSwitchChars = "-/";
constexpr const char* kDefaultLogFileName = "default.log";

// Non-zero when a key was pressed; consumes at most one pending key.
int KeyPressed() { return Sys().PollKey(); }

void WriteCallerLine() {
  std::string line = CallerLabel(EmptyName::kKeepSeparator);
  // The number comes from the phone network and the name from a file: on a
  // terminal their control bytes are shown, not obeyed.
  if (Sys().StdoutIsTerminal()) line = CaretNotation(line, "\t", LocaleCharset());
  WriteLine(line);
}

constexpr const char* kUsage[] = {
    "Usage: annc NUMBER [/L:LOGFILE] [/H:FD] [/N:FILE]",
    "       annc --help | --version",
    "Announces a call: looks NUMBER up in Numvoice/aon.db beside the program,",
    "logs the call and speaks the time and the number until a key is pressed",
    "or the modem reports a result code.",
    "  NUMBER      the caller's number (always argument 1), cut at its first colon",
    "  /L:LOGFILE  the event log; default: the program's path ending in .log;",
    "              /L: alone logs nothing",
    "  /H:FD       the inherited descriptor of the modem's serial line",
    "  /N:FILE     a recording of the caller's name, played in each cycle before",
    "              the number; left out without a beep when it cannot be played",
    "Switches start with / or -, in any letter case, and may stand anywhere.",
    "Exit codes:",
    "  0    no arguments, or a key ended the call",
    "  1    an unhandled error (phone book missing, log not writable, standard",
    "       output failed), reported on standard output",
    "  99   the modem reported a result code",
    "  254  setting up the serial line failed",
};

// "--help" or "--version" as the only argument is a question about the
// program, answered on standard output; anything else is a call. Returns
// whether it answered.
bool AnsweredAQuestion() {
  if (ArgumentCount() != 1) return false;
  if (Arguments[1] == "--help") {
    for (const char* line : kUsage) WriteLine(line);
    return true;
  }
  if (Arguments[1] == "--version") {
    WriteLine(std::string("annc ") + ANNC_VERSION);
    return true;
  }
  return false;
}

void Run() {
  ResetCallState();
  if (AnsweredAQuestion()) return;
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
    if (int i = FindSwitch("N:", kSwitchChars, true)) NameRecording = SwitchValue(i);

    // The title drops control bytes itself.
    SetConsoleTitle(CallerLabel(EmptyName::kKeepSeparator));
    // One call is one line: CR, LF and escape sequences from the network or
    // the book are written so that they neither split nor forge lines nor
    // drive the terminal of whoever reads the log.
    LogEvent(" ", CaretNotation(CallerLabel(EmptyName::kNumberAlone), "", LocaleCharset()));

    WriteLine("Press ANY KEY to exit.");
    WriteLine("====================");

    // The keyboard is polled between cycles, never during one.
    while (KeyPressed() == 0) {
      WriteCallerLine();
      AnnounceCall(CallerNumber, NameRecording);
    }
  }
  DrainModem();
  FinishModemEcho();
}

}  // namespace

void ResetCallState() {
  CallerNumber.clear();
  CallerName.clear();
  NameRecording.clear();
  SoundDir = kSoundFolderName;
  SerialLine = -1;
  ModemLineBuffer.Clear();
  ModemEcho.Clear();
  LoggedLineFailures.clear();
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
