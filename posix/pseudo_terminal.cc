#include "posix/pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/terminal_settings.h"

namespace annc {

int OpenPseudoTerminal(PseudoTerminal* pty) {
  ClosePseudoTerminal(pty);
  int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return errno;
  char name[128];
  int error = 0;
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    error = errno;
  } else if (int e = ::ptsname_r(master, name, sizeof name); e != 0) {
    error = e;
  } else if (int flags = ::fcntl(master, F_GETFL); flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
    error = errno;
  }
  int slave = -1;
  if (error == 0) {
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) error = errno;
  }
  if (error == 0) {
    // A launcher hands a line over set up for binary data: what is written
    // to the master arrives as it is, and nothing comes back as an echo.
    termios tio{};
    if (::tcgetattr(slave, &tio) != 0) {
      error = errno;
    } else {
      ::cfmakeraw(&tio);
      tio.c_cc[VMIN] = 1;
      tio.c_cc[VTIME] = 0;
      // What cfmakeraw changes, and the read's minimum and time-out.
      TermiosFields fields;
      fields.iflag = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON;
      fields.oflag = OPOST;
      fields.lflag = ECHO | ECHONL | ICANON | ISIG | IEXTEN;
      fields.cflag = CSIZE | PARENB;
      fields.minAndTime = true;
      error = SetTerminalSettings(slave, tio, fields);
    }
  }
  if (error != 0) {
    if (slave >= 0) ::close(slave);
    ::close(master);
    return error;
  }
  pty->master = master;
  pty->slave = slave;
  return 0;
}

void ClosePseudoTerminal(PseudoTerminal* pty) {
  if (pty->slave >= 0) ::close(pty->slave);
  if (pty->master >= 0) ::close(pty->master);
  pty->slave = pty->master = -1;
}

}  // namespace annc
