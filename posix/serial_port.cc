#include "posix/serial_port.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/terminal_settings.h"

namespace annc {
namespace {

struct Speed {
  int baud;
  speed_t constant;
};

constexpr Speed kSpeeds[] = {
    {300, B300},         {600, B600},         {1200, B1200},       {2400, B2400},
    {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
};

const Speed* FindSpeed(int baud) {
  for (const Speed& s : kSpeeds) {
    if (s.baud == baud) return &s;
  }
  return nullptr;
}

int SetUpLine(int fd, speed_t speed) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return errno;
  ::cfmakeraw(&tio);
  tio.c_iflag = IGNBRK;
  tio.c_oflag = 0;
  tio.c_lflag = 0;
  tio.c_cflag = CS8 | CREAD | CLOCAL | HUPCL;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) return errno;
  // Every flag word is set whole. Of the control bits, CRTSCTS is left out
  // of the check: a pseudo-terminal standing in for a modem ignores it.
  TermiosFields fields;
  fields.iflag = fields.oflag = fields.lflag = ~tcflag_t{0};
  fields.cflag = CSIZE | CSTOPB | CREAD | PARENB | PARODD | HUPCL | CLOCAL;
  fields.minAndTime = true;
  fields.speed = true;
  if (int error = SetTerminalSettings(fd, tio, fields); error != 0) return error;
  (void)::tcflush(fd, TCIOFLUSH);
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return errno;
  return 0;
}

}  // namespace

bool IsSupportedSpeed(int baud) { return FindSpeed(baud) != nullptr; }

SerialPortOpen OpenSerialPort(const std::string& path, int baud) {
  SerialPortOpen result;
  const Speed* speed = FindSpeed(baud);
  if (speed == nullptr) {
    result.error = EINVAL;
    result.step = "set up";
    return result;
  }
  // O_NONBLOCK: the open must not wait for a carrier that an idle modem
  // never raises.
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    result.error = errno;
    result.step = "open";
    return result;
  }
  if (::isatty(fd) != 1) {
    result.error = ENOTTY;
    result.step = "open";
  } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    result.error = errno;
    result.step = "lock";
  } else if (::ioctl(fd, TIOCEXCL) != 0) {
    result.error = errno;
    result.step = "lock";
  } else if (int error = SetUpLine(fd, speed->constant); error != 0) {
    result.error = error;
    result.step = "set up";
  }
  if (result.error != 0) {
    (void)::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return result;
  }
  result.fd = fd;
  return result;
}

void CloseSerialPort(int fd) {
  if (fd < 0) return;
  (void)::ioctl(fd, TIOCNXCL);
  ::close(fd);  // also drops the flock
}

}  // namespace annc
