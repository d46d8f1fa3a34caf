#include "line/sources/modem/modem_source.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "line/event_loop.h"
#include "posix/fake_line_system.h"

namespace annc {
namespace {

constexpr const char* kEventNames[] = {"ring", "number", "name", "info", "complete", "ended", "lost", "answered"};

// One modem source on the fake, driven by the program's loop alone (no
// calls, no announcer): what it writes, says and hands on, in the trace.
struct Scenario {
  const char* name;
  std::function<void(FakeLineSystem&, ModemSource&)> script;
  Millis until;
  std::vector<std::string> inOrder;
  std::vector<std::string> never;
  CallSource::Startup startup = CallSource::kStarted;
  std::string failure;
};

void Play(const std::vector<Scenario>& scenarios) {
  for (const Scenario& s : scenarios) {
    FakeLineSystem fake;
    auto owned = std::make_unique<ModemSource>(ModemSettings{"/dev/ttyACM0", 115200, {}, "/var/lock"}, fake);
    ModemSource& modem = *owned;
    EventLoop loop(fake, fake, fake);
    SourceOutput out;
    out.event = [&fake](const CallEvent& e) {
      fake.trace.push_back(std::to_string(fake.now) + " event " + kEventNames[e.kind] +
                           (e.value.empty() ? "" : " " + e.value));
    };
    out.line = [](std::string_view) {};
    out.status = [&fake](const std::string& text) { fake.Status(text); };
    out.service = [&fake](const std::string& status, bool ready) { fake.Service(status, ready); };
    s.script(fake, modem);
    fake.At(s.until, [&fake] { fake.Raise(SIGTERM); });
    modem.Begin(loop.Now(), out);
    while (modem.startup() == CallSource::kStarting && loop.Step(modem, out, nullptr)) {
    }
    EXPECT_EQ(modem.startup(), s.startup) << s.name;
    EXPECT_EQ(modem.FailureText(), s.failure) << s.name;
    if (modem.startup() == CallSource::kStarted) {
      while (loop.Step(modem, out, nullptr)) {
      }
    }
    owned.reset();  // annc-line's end closes the port
    EXPECT_TRUE(InOrder(fake.trace, s.inOrder)) << s.name << "; the trace:\n" << Shown(fake.trace);
    for (const std::string& line : s.never) {
      EXPECT_EQ(std::count(fake.trace.begin(), fake.trace.end(), line), 0) << s.name << ": " << line;
    }
  }
}

TEST(ModemSourceTest, StartingUp) {
  auto failing = [](PortOpening::Kind kind, int error, const char* step) {
    return [=](FakeLineSystem& f, ModemSource&) {
      PortOpening opening;
      opening.kind = kind;
      opening.error = error;
      opening.step = step;
      f.openings.push_back(opening);
    };
  };
  Play({
      {"set up: ready, said, and the service told",
       [](FakeLineSystem&, ModemSource&) {},
       1000,
       {"0 open", "0 > ATZ", "0 > ATE0V1Q0", "0 > AT+VCID=1", "0 ready modem ready, caller ID by AT+VCID=1",
        "0: modem ready on /dev/ttyACM0 (AT+VCID=1)"},
       {}},
      {"the lock file cannot be made",
       failing(PortOpening::kLockFailed, EACCES, ""),
       1000,
       {"0 open"},
       {"0 > ATZ"},
       CallSource::kFailed,
       "/dev/ttyACM0: cannot make the lock file in /var/lock: Permission denied"},
      {"the device cannot be set up",
       failing(PortOpening::kOpenFailed, EIO, "set up"),
       1000,
       {"0 open"},
       {"0 > ATZ"},
       CallSource::kFailed,
       "/dev/ttyACM0: cannot set up: Input/output error"},
      {"unplugged during its first set-up: annc-line cannot start",
       [](FakeLineSystem& f, ModemSource&) {
         f.modem = [](const std::string&) { return std::string(); };
         f.At(500, [&f] { f.Unplug(); });
       },
       1000,
       {"0 > ATZ", "500 close"},
       {"2500 open"},
       CallSource::kFailed,
       "/dev/ttyACM0: the device went away while the modem was being set up"},
  });
}

TEST(ModemSourceTest, AwayAndBack) {
  Play({
      {"unplugged once set up: one line, one lost event, an attempt every 2 s",
       [](FakeLineSystem& f, ModemSource&) {
         f.At(1000, [&f] { f.Unplug(); });
         f.At(6500, [&f] { f.Plug(); });
       },
       10000,
       {"1000 close", "1000: modem unplugged, waiting for it", "1000 service waiting for the modem", "1000 event lost",
        "3000 open", "5000 open", "7000 open", "7000 > ATZ", "7000: modem ready on /dev/ttyACM0 (AT+VCID=1)"},
       {"1000 > ATZ", "4000 open", "9000 open"}},
      {"a modem that goes during a set-up after a re-plug is not said gone again",
       [](FakeLineSystem& f, ModemSource&) {
         f.At(1000, [&f] { f.Unplug(); });
         f.At(2000, [&f] {
           f.Plug();
           f.modem = [](const std::string&) { return std::string(); };
         });
         f.At(3500, [&f] { f.Unplug(); });
       },
       8000,
       {"1000: modem unplugged, waiting for it", "3000 > ATZ", "3500 close", "5500 open", "7500 open"},
       {"3500: modem unplugged, waiting for it"}},
  });
}

TEST(ModemSourceTest, CommandsAndHangingUp) {
  Play({
      {"a hang-up: off hook, held, on hook",
       [](FakeLineSystem& f, ModemSource& modem) { f.At(1000, [&f, &modem] { EXPECT_TRUE(modem.HangUp(f.now)); }); },
       10000,
       {"1000 > ATH1", "3000 > ATH0"},
       {}},
      {"no hang-up while the modem is being set up",
       [](FakeLineSystem& f, ModemSource& modem) {
         f.modem = [](const std::string&) { return std::string(); };
         EXPECT_FALSE(modem.HangUp(0));
       },
       10000,
       {"0 > ATZ"},
       {"0 > ATH1"},
       CallSource::kFailed,
       "/dev/ttyACM0: the modem answers nothing to ATZ; check the speed (--speed), the cable, and that this device "
       "is the modem"},
      {"the port closed during a hang-up puts the line on hook first",
       [](FakeLineSystem& f, ModemSource& modem) {
         f.At(1000, [&f, &modem] { EXPECT_TRUE(modem.HangUp(f.now)); });
       },
       2000,
       {"1000 > ATH1", "2000 > ATH0"},
       {}},
      {"a caller-ID line during a command is handed on",
       [](FakeLineSystem& f, ModemSource& modem) {
         f.At(1000, [&f, &modem] {
           modem.RunCommand("ATI", f.now);
           f.ModemSends("\r\nRING\r\n");
         });
       },
       5000,
       {"1000 > ATI", "1000 event ring"},
       {}},
  });
}

}  // namespace
}  // namespace annc
