// Changing a terminal's settings and reading them back: tcsetattr succeeds
// when any part of a change took, so a driver that refuses a field goes
// unnoticed unless the settings are read again and compared.
#ifndef ANNC_PLATFORM_TERMINAL_SETTINGS_H_
#define ANNC_PLATFORM_TERMINAL_SETTINGS_H_

#include <termios.h>

namespace annc {

// The parts of a termios that a change sets, and so must read back the same:
// the bits of each flag word, the read's VMIN and VTIME, the line speed.
struct TermiosFields {
  tcflag_t iflag = 0;
  tcflag_t oflag = 0;
  tcflag_t cflag = 0;
  tcflag_t lflag = 0;
  bool minAndTime = false;
  bool speed = false;
};

// The first of `fields` in which `got` differs from `wanted` ("c_iflag",
// "c_oflag", "c_cflag", "c_lflag", "VMIN", "VTIME", "speed"), or nullptr
// when every one took.
const char* SettingNotTaken(const termios& wanted, const termios& got, const TermiosFields& fields);

// tcsetattr(fd, TCSANOW, wanted), again after EINTR, then the settings read
// back: 0, the errno of either call, or EINVAL when one of `fields` did not
// take (the terminal then holds whatever part of the change it took).
// Async-signal-safe.
int SetTerminalSettings(int fd, const termios& wanted, const TermiosFields& fields);

}  // namespace annc

#endif  // ANNC_PLATFORM_TERMINAL_SETTINGS_H_
