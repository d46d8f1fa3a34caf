// The console annc-line's announcers show calls on and read keys from:
// its own standard input and output, or a terminal it opens itself
// (--console), which it never takes as its controlling terminal. Two
// annc-lines may so share one console without hanging each other up.
#ifndef ANNC_POSIX_CONSOLE_H_
#define ANNC_POSIX_CONSOLE_H_

#include <string>

namespace annc {

// Opens the terminal at `path` without making it the controlling terminal
// and puts it in place of standard input and output, which each announcer
// inherits. Returns 0 or an errno value (ENOTTY: no terminal); standard
// input and output are left as they were when it cannot be opened.
int TakeConsole(const std::string& path);

// Whether annc-line may touch standard input's terminal settings now: it is
// in the foreground of its controlling terminal, or the terminal is not its
// controlling terminal at all (one opened with --console), where no job
// control can stop it.
bool ConsoleInFront();

}  // namespace annc

#endif  // ANNC_POSIX_CONSOLE_H_
