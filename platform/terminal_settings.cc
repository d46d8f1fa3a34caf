#include "platform/terminal_settings.h"

#include <cerrno>

namespace annc {

const char* SettingNotTaken(const termios& wanted, const termios& got, const TermiosFields& fields) {
  if ((wanted.c_iflag ^ got.c_iflag) & fields.iflag) return "c_iflag";
  if ((wanted.c_oflag ^ got.c_oflag) & fields.oflag) return "c_oflag";
  if ((wanted.c_cflag ^ got.c_cflag) & fields.cflag) return "c_cflag";
  if ((wanted.c_lflag ^ got.c_lflag) & fields.lflag) return "c_lflag";
  if (fields.minAndTime && wanted.c_cc[VMIN] != got.c_cc[VMIN]) return "VMIN";
  if (fields.minAndTime && wanted.c_cc[VTIME] != got.c_cc[VTIME]) return "VTIME";
  if (fields.speed &&
      (::cfgetispeed(&wanted) != ::cfgetispeed(&got) || ::cfgetospeed(&wanted) != ::cfgetospeed(&got))) {
    return "speed";
  }
  return nullptr;
}

int SetTerminalSettings(int fd, const termios& wanted, const TermiosFields& fields) {
  while (::tcsetattr(fd, TCSANOW, &wanted) != 0) {
    if (errno != EINTR) return errno;
  }
  termios got{};
  if (::tcgetattr(fd, &got) != 0) return errno;
  return SettingNotTaken(wanted, got, fields) == nullptr ? 0 : EINVAL;
}

}  // namespace annc
