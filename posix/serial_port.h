// Holding a modem's serial port the way dialers and gettys do: exclusive,
// raw 8N1, no carrier needed, the modem hung up when the port is closed.
#ifndef ANNC_POSIX_SERIAL_PORT_H_
#define ANNC_POSIX_SERIAL_PORT_H_

#include <string>

namespace annc {

// Whether `baud` is a line speed the terminal driver knows.
bool IsSupportedSpeed(int baud);

// The outcome of opening a port: the descriptor, or the step that failed
// ("open", "lock", "set up") and its errno value.
struct SerialPortOpen {
  int fd = -1;
  int error = 0;
  const char* step = "";
};

// Opens `path` with O_RDWR|O_NOCTTY|O_NONBLOCK, close-on-exec (no child ever
// sees it), takes flock(LOCK_EX|LOCK_NB) and TIOCEXCL so that no other
// program opens it meanwhile, sets raw 8N1 at `baud` with the receiver on,
// CLOCAL (an idle modem has no carrier) and HUPCL, no flow control, discards
// what was received before, and switches the descriptor to blocking I/O:
// callers poll before each read. A "lock" failure with EWOULDBLOCK means
// another process holds the port.
SerialPortOpen OpenSerialPort(const std::string& path, int baud);

// Gives the exclusive use up and closes the port (HUPCL hangs the modem up).
void CloseSerialPort(int fd);

}  // namespace annc

#endif  // ANNC_POSIX_SERIAL_PORT_H_
