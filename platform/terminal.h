// The terminals the real platform changes, held in process-wide storage so
// that signal handlers can give them back: the keyboard (the terminal on
// standard input), the window title (on standard output) and the serial
// line. Each is put back as it was on every way out, by the normal end and
// by a signal; nothing here may stop the process (SIGTTOU, SIGTTIN).
// Used by linux_platform.cc only.
#ifndef ANNC_PLATFORM_TERMINAL_H_
#define ANNC_PLATFORM_TERMINAL_H_

#include <termios.h>

#include <string_view>

#include "platform/terminal_settings.h"

namespace annc::terminal {

// Whether this process may use the terminal on `fd` now: it is not our
// controlling terminal, or our process group is in its foreground. A
// process started in the background (`annc 5551234 &`) leaves it alone.
bool InForeground(int fd);

// Installs the handlers that give everything back on SIGINT, SIGTERM,
// SIGHUP and SIGQUIT, give the console back before a stop (SIGTSTP) and
// take it again on SIGCONT. A signal that the process inherited as ignored
// stays ignored. Safe to call more than once.
void InstallSignalHandlers();

// Takes the console when this process is in its foreground and does not
// hold it yet: a terminal on standard input is switched to single keys
// without echo, and a title set with SetTitle is shown. Called at start-up
// and before each key poll, so a background start or a stop hands it over
// as soon as the process is in the foreground again.
void TakeConsole();

// Makes `sequence` this process's title on standard output: written at
// once when in the foreground, otherwise by TakeConsole later, each time
// after `kSaveTitle`, so that the user's title waits on the terminal's title
// stack. Returns 0 or the errno of a failed write.
int ShowTitle(std::string_view sequence);

// Gives the console back: the user's title and the keyboard's settings.
void GiveConsoleBack();

// Takes the serial line over: remembers its settings and applies `raw`,
// whose `changed` fields must read back as set. Returns 0 or the errno of
// the failed change, EINVAL when part of it did not take (then `saved` is
// put back and nothing is held).
int TakeLine(int fd, const termios& saved, const termios& raw, const TermiosFields& changed);

// Puts the line's remembered settings back at once (TCSANOW), with nothing
// flushed: what the modem sent meanwhile stays for the launcher.
void GiveLineBack();

// Reads one byte from standard input when one comes within `timeoutMs`
// milliseconds (0: only one already there). Returns 1 for a byte, 0 for
// none, -1 for the end of the input or an error. Cannot stop the process.
int ReadKeyboardByte(unsigned char* byte, int timeoutMs);

}  // namespace annc::terminal

#endif  // ANNC_PLATFORM_TERMINAL_H_
