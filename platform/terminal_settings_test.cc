#include "platform/terminal_settings.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace annc {
namespace {

termios Raw() {
  termios t{};
  ::cfmakeraw(&t);
  t.c_cflag |= CREAD | CLOCAL;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, B115200);
  ::cfsetospeed(&t, B115200);
  return t;
}

TEST(SettingNotTakenTest, OnlyTheFieldsSetAreCompared) {
  TermiosFields all;
  all.iflag = all.oflag = all.lflag = ~tcflag_t{0};
  all.cflag = CSIZE | CREAD | CLOCAL | PARENB;
  all.minAndTime = true;
  all.speed = true;
  TermiosFields lineBits;  // as annc takes a modem line: a few bits, VMIN, VTIME
  lineBits.lflag = ICANON | ECHO;
  lineBits.iflag = ICRNL;
  lineBits.minAndTime = true;

  struct Case {
    const char* name;
    void (*change)(termios*);  // what the terminal did differently
    const TermiosFields& fields;
    const char* want;  // nullptr: took
  };
  const Case cases[] = {
      {"all as set", [](termios*) {}, all, nullptr},
      {"an input bit kept", [](termios* t) { t->c_iflag |= ICRNL; }, all, "c_iflag"},
      {"output processing kept", [](termios* t) { t->c_oflag |= OPOST; }, all, "c_oflag"},
      {"seven data bits", [](termios* t) { t->c_cflag = (t->c_cflag & ~CSIZE) | CS7; }, all, "c_cflag"},
      {"receiver off", [](termios* t) { t->c_cflag &= ~CREAD; }, all, "c_cflag"},
      {"parity on", [](termios* t) { t->c_cflag |= PARENB; }, all, "c_cflag"},
      {"flow control is not among the bits set", [](termios* t) { t->c_cflag |= CRTSCTS; }, all, nullptr},
      {"echo kept", [](termios* t) { t->c_lflag |= ECHO; }, all, "c_lflag"},
      {"VMIN", [](termios* t) { t->c_cc[VMIN] = 0; }, all, "VMIN"},
      {"VTIME", [](termios* t) { t->c_cc[VTIME] = 5; }, all, "VTIME"},
      {"input speed", [](termios* t) { ::cfsetispeed(t, B9600); }, all, "speed"},
      {"output speed", [](termios* t) { ::cfsetospeed(t, B9600); }, all, "speed"},
      {"a few bits: another bit differs", [](termios* t) { t->c_lflag |= ECHOCTL; }, lineBits, nullptr},
      {"a few bits: one of them kept", [](termios* t) { t->c_lflag |= ICANON; }, lineBits, "c_lflag"},
      {"a few bits: the speed is not theirs", [](termios* t) { ::cfsetospeed(t, B9600); }, lineBits, nullptr},
      {"a few bits: VTIME", [](termios* t) { t->c_cc[VTIME] = 1; }, lineBits, "VTIME"},
  };
  for (const Case& c : cases) {
    termios wanted = Raw();
    termios got = wanted;
    c.change(&got);
    const char* field = SettingNotTaken(wanted, got, c.fields);
    EXPECT_EQ(std::string(field != nullptr ? field : "(took)"), std::string(c.want != nullptr ? c.want : "(took)"))
        << c.name;
  }
}

// A pseudo-terminal takes raw settings and a speed, flag words whole, but
// always keeps eight data bits without parity.
TEST(SetTerminalSettingsTest, ReadsThePseudoTerminalBack) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(slave, 0);

  TermiosFields fields;
  fields.iflag = fields.oflag = fields.lflag = ~tcflag_t{0};
  fields.cflag = CSIZE | CREAD | PARENB;
  fields.minAndTime = true;
  fields.speed = true;
  termios wanted = Raw();
  EXPECT_EQ(SetTerminalSettings(slave, wanted, fields), 0);

  wanted.c_cflag |= PARENB;  // refused, whether the C library or the read-back notices
  EXPECT_EQ(SetTerminalSettings(slave, wanted, fields), EINVAL);

  EXPECT_EQ(SetTerminalSettings(-1, wanted, fields), EBADF);
  ::close(slave);
  ::close(master);
}

}  // namespace
}  // namespace annc
