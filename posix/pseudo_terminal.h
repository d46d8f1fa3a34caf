// A pseudo-terminal pair: the master side stays with this process, the slave
// side is handed to a child as if it were a serial line.
#ifndef ANNC_POSIX_PSEUDO_TERMINAL_H_
#define ANNC_POSIX_PSEUDO_TERMINAL_H_

namespace annc {

struct PseudoTerminal {
  int master = -1;  // non-blocking, close-on-exec
  int slave = -1;   // raw (no echo, no CR/LF translation), close-on-exec
};

// Opens a new pair; returns 0 or an errno value (nothing left open then).
int OpenPseudoTerminal(PseudoTerminal* pty);

// Closes whichever sides are still open; safe to call more than once.
void ClosePseudoTerminal(PseudoTerminal* pty);

}  // namespace annc

#endif  // ANNC_POSIX_PSEUDO_TERMINAL_H_
