// annc-line's glue, run whole on the scripted system: the modem's set-up
// and re-plugging, the NCID connection, the announcer's start and end, the
// signals, --check and --once.
#include "line/annc_line.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "line/event_loop.h"
#include "line/launcher.h"
#include "line/sources/server/fritz_line.h"
#include "posix/fake_line_system.h"

namespace annc {
namespace {

// A North American call at `t`: a ring, the caller-ID block, a ring.
void NorthAmericanCall(FakeLineSystem& fake, Millis t, const std::string& number) {
  fake.At(t, [&fake] { fake.ModemSends("\r\nRING\r\n"); });
  fake.At(t + 500, [&fake, number] { fake.ModemSends("\r\nDATE = 1209\r\nNMBR = " + number + "\r\n"); });
  fake.At(t + 4000, [&fake] { fake.ModemSends("\r\nRING\r\n"); });
}

LineOptions ModemOptions() {
  LineOptions options;
  options.device = "/dev/ttyACM0";
  options.annc = "/usr/lib/annc/annc";
  options.history = "none";
  return options;
}

LineOptions NcidOptions() {
  LineOptions options;
  options.device = "ncid:server";
  options.server = ServerSource{&kNcidServer, "server", 3333};
  options.annc = "/usr/lib/annc/annc";
  options.history = "none";
  return options;
}

struct Scenario {
  const char* name;
  LineOptions options;
  std::function<void(FakeLineSystem&)> script;
  int code;
  std::vector<std::string> inOrder;  // these, in this order
  std::vector<std::string> never;    // and none of these
  std::vector<std::pair<std::string, int>> counts = {};  // lines that appear exactly so often, at any time
};

// The lists the scenarios read, by path.
std::map<std::string, std::string>& ListTexts() {
  static std::map<std::string, std::string> texts;
  return texts;
}

void Play(const std::vector<Scenario>& scenarios) {
  for (const Scenario& s : scenarios) {
    FakeLineSystem fake;
    for (const auto& [path, text] : ListTexts()) fake.WriteFile(path, text);
    s.script(fake);
    int code = RunLine(s.options, fake.system());
    EXPECT_EQ(code, s.code) << s.name;
    EXPECT_TRUE(InOrder(fake.trace, s.inOrder)) << s.name << "; the trace:\n" << Shown(fake.trace);
    for (const std::string& line : s.never) {
      EXPECT_EQ(std::count(fake.trace.begin(), fake.trace.end(), line), 0) << s.name << ": " << line;
    }
    for (const auto& [what, times] : s.counts) {
      auto untimed = [&what](const std::string& line) { return line.substr(line.find_first_not_of("0123456789")) == what; };
      EXPECT_EQ(std::count_if(fake.trace.begin(), fake.trace.end(), untimed), times) << s.name << ": " << what;
    }
  }
}

TEST(AnncLineTest, ModemSetUp) {
  Play({
      {"the set-up as a modem takes it, then a call",
       ModemOptions(),
       [](FakeLineSystem& f) {
         NorthAmericanCall(f, 1000, "5551234");
         f.At(30000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"0 open", "0 > ATZ", "0 > ATE0V1Q0", "0 > AT+VCID=1", "0 ready modem ready, caller ID by AT+VCID=1",
        "0: modem ready on /dev/ttyACM0 (AT+VCID=1)", "2000: call from 5551234", "2000 start 5551234",
        "13000: call ended", "13000 nocarrier", "30000 stopping", "30000 close"},
       {}},
      {"a modem that does not answer the first reset gets a second",
       ModemOptions(),
       [](FakeLineSystem& f) {
         auto standard = f.modem;
         int resets = 0;
         f.modem = [standard, resets](const std::string& command) mutable {
           if (command == "ATZ" && resets++ == 0) return std::string();
           return standard(command);
         };
         f.At(10000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"0 > ATZ", "3000 > ATZ", "3000 > ATE0V1Q0", "3000: modem ready on /dev/ttyACM0 (AT+VCID=1)"},
       {}},
      {"a silent modem: one line and exit 1",
       ModemOptions(),
       [](FakeLineSystem& f) { f.modem = [](const std::string&) { return std::string(); }; },
       1,
       {"0 > ATZ", "3000 > ATZ", "6000 close", "6000: /dev/ttyACM0: the modem answers nothing to ATZ; check the speed (--speed), the cable, and that this "
        "device is the modem"},
       {"6000 > ATE0V1Q0", "6000 stopping"},
       {{" ready modem ready, caller ID by AT+VCID=1", 0}}},
      {"SIGTERM during the set-up ends annc-line at once, the port closed",
       ModemOptions(),
       [](FakeLineSystem& f) {
         f.modem = [](const std::string&) { return std::string(); };
         f.At(1000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"0 > ATZ", "1000 close"},
       {"3000 > ATZ"}},
      {"a device that is no terminal: not a serial port",
       ModemOptions(),
       [](FakeLineSystem& f) {
         PortOpening notty;
         notty.error = ENOTTY;
         notty.step = "open";
         f.openings.push_back(notty);
       },
       1,
       {"0: /dev/ttyACM0: not a serial port"},
       {}},
      {"a port in use: one line and exit 1",
       ModemOptions(),
       [](FakeLineSystem& f) {
         PortOpening busy;
         busy.kind = PortOpening::kInUse;
         busy.owner = 4321;
         f.openings.push_back(busy);
       },
       1,
       {"0 open", "0: /dev/ttyACM0: in use by process 4321"},
       {"0 > ATZ"}},
  });
}

TEST(AnncLineTest, ModemUnpluggedAndBack) {
  Play({
      {"unplugged: said once, tried every 2 s, set up again when back",
       ModemOptions(),
       [](FakeLineSystem& f) {
         f.At(5000, [&f] { f.Unplug(); });
         f.At(10500, [&f] { f.Plug(); });
         NorthAmericanCall(f, 20000, "5559876");
         f.At(40000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"5000 close", "5000: modem unplugged, waiting for it", "5000 service waiting for the modem", "7000 open", "9000 open", "11000 open", "11000 > ATZ",
        "11000: modem ready on /dev/ttyACM0 (AT+VCID=1)", "21000 start 5559876"},
       {},
       {{": modem unplugged, waiting for it", 1}, {": modem ready on /dev/ttyACM0 (AT+VCID=1)", 2}}},
      {"a call that comes while the modem is set up again is announced",
       ModemOptions(),
       [](FakeLineSystem& f) {
         f.At(5000, [&f] { f.Unplug(); });
         f.At(6000, [&f] {
           f.Plug();
           // Back, but slow to answer its first reset.
           auto standard = f.modem;
           bool first = true;
           f.modem = [standard, first](const std::string& command) mutable {
             if (command == "ATZ" && first) {
               first = false;
               return std::string();
             }
             return standard(command);
           };
         });
         f.At(7500, [&f] { f.ModemSends("\r\nRING\r\n\r\nNMBR = 5551234\r\n\r\nRING\r\n"); });
         f.At(30000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"7000 open", "7000 > ATZ", "7500: call from 5551234", "7500 start 5551234", "10000 > ATZ",
        "10000: modem ready on /dev/ttyACM0 (AT+VCID=1)"},
       {}},
      {"a call in progress ends when the modem goes",
       ModemOptions(),
       [](FakeLineSystem& f) {
         NorthAmericanCall(f, 1000, "5551234");
         f.At(6000, [&f] { f.Unplug(); });
         f.At(8000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"2000 start 5551234", "6000: modem unplugged, waiting for it", "6000: call ended", "6000 nocarrier"},
       {}},
  });
}

TEST(AnncLineTest, Announcer) {
  Play({
      {"an announcer that cannot start: said, and the next call is announced",
       ModemOptions(),
       [](FakeLineSystem& f) {
         f.startErrors.push_back(ENOENT);
         NorthAmericanCall(f, 1000, "5551234");
         NorthAmericanCall(f, 20000, "5559876");
         f.At(40000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"2000 start 5551234", "2000: cannot start /usr/lib/annc/annc: No such file or directory", "13000: call ended",
        "21000 start 5559876"},
       {}},
      {"killed by a signal: said, and the console put back",
       ModemOptions(),
       [](FakeLineSystem& f) {
         NorthAmericanCall(f, 1000, "5551234");
         f.At(3000, [&f] { f.AnnouncerKilled(SIGKILL); });
         f.At(20000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"2000 start 5551234", "3000 console restored", "3000: announcer ended by signal 9"},
       {}},
      {"ended by a key: the call stays quiet, the console as annc left it",
       ModemOptions(),
       [](FakeLineSystem& f) {
         NorthAmericanCall(f, 1000, "5551234");
         f.At(3000, [&f] { f.AnnouncerExits(0); });
         f.At(20000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"2000 start 5551234", "3000: announcement stopped by a key; this call stays quiet"},
       {"3000 console restored"},
       {{" start 5551234", 1}}},
      {"the log and the number as annc is given them",
       [] {
         LineOptions o = ModemOptions();
         o.log = "/var/log/annc/calls.log";
         return o;
       }(),
       [](FakeLineSystem& f) {
         NorthAmericanCall(f, 1000, "555-1234");
         f.At(20000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"2000 start 5551234 /L:/var/log/annc/calls.log"},
       {}},
      {"an announcer that does not end gets SIGTERM 10 s after its call",
       ModemOptions(),
       [](FakeLineSystem& f) {
         f.hung = true;
         NorthAmericanCall(f, 1000, "5551234");
         f.At(40000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"13000 nocarrier", "23000 signal 15", "23000: announcer still running after the call ended: terminating it"},
       {}},
      {"SIGTERM during a call ends the announcer, then annc-line",
       ModemOptions(),
       [](FakeLineSystem& f) {
         NorthAmericanCall(f, 1000, "5551234");
         f.At(3000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"2000 start 5551234", "3000 signal 15", "3010 close"},
       {"3000 signal 9", "5000 signal 9"}},
      {"SIGTERM during a call, the announcer hung: SIGKILL 2 s later",
       ModemOptions(),
       [](FakeLineSystem& f) {
         f.hung = true;
         NorthAmericanCall(f, 1000, "5551234");
         f.At(3000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"3000 signal 15", "5000 signal 9", "5010 console restored", "5010 close"},
       {}},
      {"--once: ends when the first call's announcer is gone",
       [] {
         LineOptions o = ModemOptions();
         o.once = true;
         return o;
       }(),
       [](FakeLineSystem& f) { NorthAmericanCall(f, 1000, "5551234"); },
       0,
       {"2000 start 5551234", "13000 nocarrier", "13050 new line", "13050 close"},
       {"13000 signal 15"}},
  });
}

TEST(AnncLineTest, NothingLost) {
  Play({
      {"a hung announcer: SIGTERM 10 s after its call, SIGKILL 3 s later; the next call announced",
       ModemOptions(),
       [](FakeLineSystem& f) {
         f.hung = true;
         NorthAmericanCall(f, 1000, "5551234");
         NorthAmericanCall(f, 40000, "5559876");
         f.At(60000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"13000 nocarrier", "23000 signal 15", "26000: announcer did not end after SIGTERM: killing it",
        "26000 signal 9", "26010 console restored", "41000 start 5559876"},
       {}},
      {"a call while a hung announcer is ended is announced once it is gone",
       ModemOptions(),
       [](FakeLineSystem& f) {
         f.hung = true;
         NorthAmericanCall(f, 1000, "5551234");
         NorthAmericanCall(f, 22000, "5559876");
         f.At(60000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"23000 signal 15", "26000 signal 9", "26010: call from 5559876", "26010 start 5559876"},
       {}},
      {"a call that never gets the announcer is logged",
       ModemOptions(),
       [](FakeLineSystem& f) {
         f.hung = true;
         NorthAmericanCall(f, 1000, "5551234");
         f.At(13500, [&f] { f.ModemSends("\r\nRING\r\nNMBR = 5559876\r\nNAME = BOB\r\n"); });
         f.At(60000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"21500: call from 5559876 (BOB) not announced: the announcer was busy; logged",
        "21500 log /usr/lib/annc/annc.log   5559876"},
       {"21500 start 5559876"}},
      {"NO CARRIER again every 500 ms until the announcer has gone",
       ModemOptions(),
       [](FakeLineSystem& f) {
         f.deafAfterStart = 700;  // it missed the first: it had not taken its line over yet
         f.At(1000, [&f] { f.ModemSends("\r\nRING\r\nNMBR = 5551234\r\n\r\nRING\r\n"); });
         f.At(1200, [&f] { f.ModemSends("\r\nNO CARRIER\r\n"); });
         f.At(5000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"1000 start 5551234", "1200 nocarrier", "1700 nocarrier", "1750 new line"},
       {"2200 nocarrier"}},
      {"keys typed while idle are thrown away before each start",
       ModemOptions(),
       [](FakeLineSystem& f) {
         NorthAmericanCall(f, 1000, "5551234");
         f.At(20000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"2000 keys discarded", "2000 start 5551234"},
       {}},
  });
}

// A list file of the test's own, in every scenario's fake file system
// while it lives.
class ListFile {
 public:
  explicit ListFile(const std::string& text) : path_("/lists/" + std::to_string(++made_) + ".list") {
    ListTexts()[path_] = text;
  }
  ~ListFile() { ListTexts().erase(path_); }
  // Edits the list while a scenario runs.
  void Write(FakeLineSystem& f, const std::string& text) const { f.WriteFile(path_, text); }
  const std::string& path() const { return path_; }

 private:
  static inline int made_ = 0;
  std::string path_;
};

TEST(AnncLineTest, Screening) {
  ListFile block("# junk\n8005551212 #= Car warranty\n^WITHHELD\n5551234\n");
  ListFile allow("5551234\n");
  LineOptions blocking = ModemOptions();
  blocking.log = "calls.log";
  blocking.screening.blockLists = {block.path()};
  LineOptions allowing = blocking;
  allowing.screening.allowLists = {allow.path()};
  LineOptions quiet = ModemOptions();
  quiet.log = "calls.log";
  quiet.screening.quiet = {*ParseQuietWindow("11:00-13:00")};
  LineOptions ignoring = blocking;
  ignoring.blockMode = LineOptions::kIgnore;
  const std::string by = "blocked by " + block.path() + " line 2";
  Play({
      {"a blocked North American call: hung up at once, logged with B, not announced",
       blocking,
       [](FakeLineSystem& f) {
         f.At(1000, [&f] { f.ModemSends("\r\nRING\r\n"); });
         f.At(1500, [&f] { f.ModemSends("\r\nNMBR = 8005551212\r\nNAME = WARRANTY DEPT\r\n"); });
         f.At(20000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"1500 > ATH1", "1500: call from 8005551212 (Car warranty): " + by + "; hung up",
        "1500 log calls.log B 8005551212 - Car warranty", "3500 > ATH0"},
       {"1500 start 8005551212"}},
      {"--block-mode ignore: not hung up, not announced, logged",
       ignoring,
       [](FakeLineSystem& f) {
         f.At(1000, [&f] { f.ModemSends("\r\nRING\r\nNMBR = 8005551212\r\n\r\nRING\r\n"); });
         f.At(20000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"1000: call from 8005551212 (Car warranty): " + by, "1000 log calls.log B 8005551212 - Car warranty"},
       {"1000 > ATH1", "1000 start 8005551212"}},
      {"a withheld call blocked by ^WITHHELD",
       blocking,
       [](FakeLineSystem& f) {
         f.At(1000, [&f] { f.ModemSends("\r\nRING\r\nNMBR = P\r\nNAME = O\r\n"); });
         f.At(20000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"1000 > ATH1", "1000 log calls.log B Unknown - O"},
       {"1000 start Unknown"}},
      {"a number on the allow list is announced whatever the block list says",
       allowing,
       [](FakeLineSystem& f) {
         NorthAmericanCall(f, 1000, "5551234");
         f.At(20000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"2000 start 5551234 /L:calls.log"},
       {"2000 > ATH1"}},
      {"quiet hours: shown and logged with Q, not announced; the same number again is",
       quiet,
       [](FakeLineSystem& f) {
         NorthAmericanCall(f, 1000, "5551234");
         NorthAmericanCall(f, 60000, "5551234");
         f.At(80000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"2000: call from 5551234: quiet hours 11:00-13:00", "2000 log calls.log Q 5551234",
        "61000 start 5551234 /L:calls.log"},
       {"2000 start 5551234 /L:calls.log"}},
      {"a list edited while annc-line runs takes effect at the next call",
       allowing,
       [&allow](FakeLineSystem& f) {
         f.At(500, [&allow, &f] { allow.Write(f, "# nobody\n"); });
         NorthAmericanCall(f, 1000, "5551234");
         f.At(20000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"2000 > ATH1"},
       {"2000 start 5551234 /L:calls.log"}},
  });
}

TEST(AnncLineTest, HangUpFinishedOnEveryWayOut) {
  ListFile block("8005551212\n");
  LineOptions once = ModemOptions();
  once.once = true;
  once.ringTimeoutMs = 1000;
  once.screening.blockLists = {block.path()};
  LineOptions blocking = ModemOptions();
  blocking.screening.blockLists = {block.path()};
  Play({
      {"--once ends only once the blocked call is hung up",
       once,
       [](FakeLineSystem& f) {
         f.At(1000, [&f] { f.ModemSends("\r\nRING\r\nNMBR = 8005551212\r\nNAME = X\r\n"); });
       },
       0,
       {"1000 > ATH1", "3000 > ATH0", "3000 close"},
       {}},
      {"SIGTERM while off hook: on hook before the port is closed",
       blocking,
       [](FakeLineSystem& f) {
         f.At(1000, [&f] { f.ModemSends("\r\nRING\r\nNMBR = 8005551212\r\nNAME = X\r\n"); });
         f.At(1500, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"1000 > ATH1", "1500 > ATH0", "1500 close"},
       {}},
  });
}

TEST(AnncLineTest, NamesSpokenByChildren) {
  LineOptions names = ModemOptions();
  names.sayNames = true;
  names.nameCache = "/cache/names";
  auto book = [](FakeLineSystem& f) { f.WriteFile("/usr/lib/annc/Numvoice/aon.db", "5551234=Ann Lee\n"); };
  Play({
      {"a name synthesized while annc starts, its child reaped",
       names,
       [&book](FakeLineSystem& f) {
         book(f);
         NorthAmericanCall(f, 1000, "5551234");
         f.At(30000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"2000 child 101 start", "2200 child 101 reaped"},
       {"30000 child 101 killed"}},
      {"a synthesis that hangs is killed at annc-line's end",
       names,
       [&book](FakeLineSystem& f) {
         book(f);
         f.children = {FakeLineSystem::kChildHangs};
         NorthAmericanCall(f, 1000, "5551234");
         f.At(30000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"2000 child 101 start", "30000 child 101 killed"},
       {}},
      {"a synthesis that fails says so once",
       names,
       [&book](FakeLineSystem& f) {
         book(f);
         f.speakError = "eSpeak NG has no voice en";
         NorthAmericanCall(f, 1000, "5551234");
         f.At(30000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"2000 child 101 start", "2200 child 101 reaped", "2200: cannot speak the name: eSpeak NG has no voice en"},
       {},
       {{": cannot speak the name: eSpeak NG has no voice en", 1}}},
  });
}

TEST(AnncLineTest, ScreeningListsAtStart) {
  LineOptions options = ModemOptions();
  options.screening.blockLists = {"/nonexistent/calls.block"};
  FakeLineSystem fake;
  EXPECT_EQ(RunLine(options, fake.system()), 1);
  EXPECT_EQ(fake.trace, std::vector<std::string>{"0: cannot read the block list /nonexistent/calls.block: No such file or directory"});
}

TEST(AnncLineTest, Check) {
  LineOptions check = ModemOptions();
  check.check = true;
  Play({
      {"--check: the modem's answers without their echo, then every line",
       check,
       [](FakeLineSystem& f) {
         // A modem that keeps echoing whatever it is told.
         f.modem = [](const std::string& command) {
           std::string reply = command + "\r\r\n";
           if (command == "ATI") reply += "Conexant\r\n";
           if (command == "AT+GCI?") reply += "+GCI: B5\r\n";
           return reply + "OK\r\n";
         };
         f.At(1000, [&f] { f.ModemSends("\r\nRING\r\n"); });
         f.At(2000, [&f] { f.Raise(SIGINT); });
       },
       0,
       {"0 > ATI", "0| modem: Conexant", "0 > AT+GCI?", "0| country: +GCI: B5", "0| caller ID: AT+VCID=1 accepted",
        "0| every line the modem sends follows; Ctrl-C ends", "1000| RING"},
       {"0| modem: ATI", "0| country: AT+GCI?", "1000 start Unknown"}},
  });
}

TEST(AnncLineTest, NcidServer) {
  auto live = [](FakeLineSystem& f) {
    f.onConnect = [&f] { f.ServerSends("200 Server: ncidd\r\n300 End of connection startup\r\n"); };
  };
  Play({
      {"connected: calls announced; a lost connection is made again after 1 s, 2 s, 4 s, then 1 s once it worked",
       NcidOptions(),
       [live](FakeLineSystem& f) {
         live(f);
         f.At(1000, [&f] { f.ServerSends("CID: *DATE*12092026*TIME*1015*LINE*POTS*NMBR*5551234*MESG*NONE*NAME*ANN*\r\n"); });
         f.At(5000, [&f] {
           f.connects = {ECONNREFUSED, ECONNREFUSED};
           f.ServerCloses();
         });
         f.At(15000, [&f] { f.ServerCloses(); });
         f.At(30000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"0 connect", "0 send HELLO: IDENT: client annc-line " ANNC_LINE_VERSION,
        "0: connected to NCID server server:3333", "0 ready connected to server:3333", "1000 start 5551234",
        "5000: connection to NCID server server:3333 lost (closed by the server); connecting again", "6000 connect",
        "8000 connect", "12000 connect", "15000 disconnect", "16000 connect"},
       {},
       {{": connection to NCID server server:3333 lost (closed by the server); connecting again", 2}}},
      {"a server that hangs up at once, again and again: the loss said once",
       NcidOptions(),
       [live](FakeLineSystem& f) {
         live(f);
         f.At(5000, [&f] {
           f.onConnect = [&f] { f.ServerCloses(); };
           f.ServerCloses();
         });
         f.At(20000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"5000 disconnect", "6000 connect", "6000 disconnect", "8000 connect", "8000 disconnect", "12000 connect"},
       {},
       {{": connection to NCID server server:3333 lost (closed by the server); connecting again", 1}}},
      {"refused at start: one line and exit 1",
       NcidOptions(),
       [](FakeLineSystem& f) { f.connects = {ECONNREFUSED}; },
       1,
       {"0 connect", "0: ncid:server: cannot connect: Connection refused"},
       {"1000 connect"}},
      {"a silent server is given 10 s for its start-up, then connected to again",
       NcidOptions(),
       [](FakeLineSystem& f) { f.At(25000, [&f] { f.Raise(SIGTERM); }); },
       0,
       {"0 connect", "10000: connection to NCID server server:3333 lost (it said nothing for 10 s); connecting again",
        "10000 disconnect", "11000 connect", "21000 disconnect", "23000 connect"},
       {}},
      {"not an NCID server at start: one line and exit 1",
       NcidOptions(),
       [](FakeLineSystem& f) { f.onConnect = [&f] { f.ServerSends("HTTP/1.1 400 Bad Request\r\n"); }; },
       1,
       {"0 connect", "0: ncid:server: not an NCID server (its first line is no greeting)"},
       {"1000 connect"}},
      {"not an NCID server later: said, and tried again with the back-off",
       NcidOptions(),
       [live](FakeLineSystem& f) {
         live(f);
         f.At(5000, [&f] {
           f.onConnect = [&f] { f.ServerSends("HTTP/1.1 400 Bad Request\r\n"); };
           f.ServerCloses();
         });
         f.At(13000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"6000 connect", "6000: ncid:server: not an NCID server (its first line is no greeting); connecting again",
        "8000 connect", "12000 connect"},
       {},
       {{": ncid:server: not an NCID server (its first line is no greeting); connecting again", 1}}},
      {"attempts that keep failing are said now and then",
       NcidOptions(),
       [live](FakeLineSystem& f) {
         live(f);
         f.At(5000, [&f] {
           f.connects = std::deque<int>(25, ECONNREFUSED);
           f.ServerCloses();
         });
         f.At(2000000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"5000 disconnect", "6000 connect"},
       {},
       {{": still trying NCID server server:3333, attempt 10 (cannot connect: Connection refused)", 1},
        {": still trying NCID server server:3333, attempt 20 (cannot connect: Connection refused)", 1},
        {": still trying NCID server server:3333, attempt 9 (cannot connect: Connection refused)", 0}}},
      {"the host unknown at start: one line and exit 1",
       NcidOptions(),
       [](FakeLineSystem& f) { f.resolveError = "Name or service not known"; },
       1,
       {"0: ncid:server: cannot find the host: Name or service not known"},
       {"0 connect"}},
  });
}

TEST(AnncLineTest, FritzBox) {
  LineOptions fritz;
  fritz.device = "fritz:box";
  fritz.server = ServerSource{&kFritzBox, "box", 1012};
  fritz.annc = "/usr/lib/annc/annc";
  fritz.history = "none";
  fritz.ringTimeoutMs = 120000;
  Play({
      {"a call announced 1 s after its RING, ended at once by CONNECT",
       fritz,
       [](FakeLineSystem& f) {
         f.At(1000, [&f] { f.ServerSends("09.12.26 15:17:43;RING;2;5551234;5559876;SIP0;\n"); });
         f.At(5000, [&f] { f.ServerSends("09.12.26 15:17:47;CONNECT;2;4;5551234;\n"); });
         f.At(9000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"0 connect", "0: connected to FRITZ!Box box:1012", "2000 start 5551234", "5000: call answered on line 2",
        "5000 nocarrier"},
       {"0 send "}},
      {"a call the box rejects itself is never announced",
       fritz,
       [](FakeLineSystem& f) {
         f.At(1000, [&f] { f.ServerSends("09.12.26 15:17:43;RING;2;5551234;5559876;SIP0;\n"); });
         f.At(1200, [&f] { f.ServerSends("09.12.26 15:17:43;DISCONNECT;2;0;\n"); });
         f.At(9000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"1200: call ended on line 2"},
       {"2000 start 5551234"}},
      {"refused at start: the line says how to switch the call monitor on",
       fritz,
       [](FakeLineSystem& f) { f.connects = {ECONNREFUSED}; },
       1,
       {std::string("0: fritz:box: cannot connect: Connection refused; ") + kFritzRefusedHint},
       {}},
  });
}

}  // namespace
}  // namespace annc

namespace annc {
namespace {

// A real SQLite file in a folder of its own, removed at the end.
class HistoryFile {
 public:
  HistoryFile() {
    char folder[] = "/tmp/annc-history-XXXXXX";
    folder_ = ::mkdtemp(folder) != nullptr ? folder : "";
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
  }
  ~HistoryFile() { std::filesystem::remove_all(folder_); }
  std::string path() const { return folder_ + "/calls.db"; }

  // Every row, oldest first: "COLUMN=VALUE ..." for the columns asked for,
  // NULL for none.
  std::vector<std::string> Rows(const char* columns) const {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      sqlite3_close(db);
      return {"cannot open " + path()};
    }
    std::string sql = std::string("SELECT ") + columns + " FROM calls ORDER BY id";
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
      while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
          const unsigned char* text = sqlite3_column_text(stmt, i);
          row += std::string(i > 0 ? " " : "") + sqlite3_column_name(stmt, i) + "=" +
                 (text == nullptr ? "NULL" : reinterpret_cast<const char*>(text));
        }
        rows.push_back(row);
      }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
  }

 private:
  std::string folder_;
};

// The events of a call from each kind of source, as the history's rows
// keep them: what the source told, what screening decided, how it ended.
TEST(AnncLineTest, EachCallIsARowOfTheHistory) {
  ListFile block("8005551212 #= Car warranty\n");
  const std::string fields =
      "source, line, called, number, withheld, network_name, name, name_source, decision, rule, hung_up, rings,"
      " announced, stopped_by_key, answered, duration, time, ended";
  struct Case {
    const char* name;
    LineOptions options;
    std::function<void(FakeLineSystem&)> script;
    std::vector<std::string> rows;
  };
  LineOptions modem = ModemOptions();
  modem.log = "calls.log";
  modem.screening.blockLists = {block.path()};
  LineOptions fritz;
  fritz.device = "fritz:box";
  fritz.server = ServerSource{&kFritzBox, "box", 1012};
  fritz.annc = "/usr/lib/annc/annc";
  fritz.ringTimeoutMs = 120000;
  LineOptions ncid = NcidOptions();
  const std::string wholeAnnounced =
      "name=Ann Lee name_source=book decision=announce rule= hung_up=0 rings=2 announced=1 stopped_by_key=0 "
      "answered=NULL duration=12 time=2026-12-09T20:00:01+00:00 ended=2026-12-09T20:00:13+00:00";
  const Case cases[] = {
      {"a modem's call, announced, the book's name; a modem cannot tell an answer",
       modem,
       [](FakeLineSystem& f) {
         f.WriteFile("/usr/lib/annc/Numvoice/aon.db", "5551234=Ann Lee\n");
         NorthAmericanCall(f, 1000, "5551234");
         f.At(30000, [&f] { f.Raise(SIGTERM); });
       },
       {"source=modem:/dev/ttyACM0 line= called= number=5551234 withheld=0 network_name= " + wholeAnnounced}},
      {"a modem's blocked call: its rule, hung up, not announced",
       modem,
       [](FakeLineSystem& f) {
         f.At(1000, [&f] { f.ModemSends("\r\nRING\r\n"); });
         f.At(1500, [&f] { f.ModemSends("\r\nNMBR = 8005551212\r\nNAME = WARRANTY^DEPT\r\n"); });
         f.At(30000, [&f] { f.Raise(SIGTERM); });
       },
       {"source=modem:/dev/ttyACM0 line= called= number=8005551212 withheld=0 network_name=WARRANTY^DEPT "
        "name=WARRANTY^DEPT name_source=network decision=block rule=" + block.path() + " line 1 hung_up=1 rings=1 "
        "announced=0 stopped_by_key=0 answered=NULL duration=8 time=2026-12-09T20:00:01+00:00 "
        "ended=2026-12-09T20:00:09+00:00"}},
      {"an NCID server's call: its line; a key stops the announcement",
       ncid,
       [](FakeLineSystem& f) {
         f.onConnect = [&f] { f.ServerSends("200 Server: ncidd\r\n300 End of connection startup\r\n"); };
         f.At(1000, [&f] {
           f.ServerSends("CID: *DATE*12092026*TIME*1015*LINE*POTS*NMBR*0*MESG*NONE*NAME*ANN\x1b[2J*\r\n");
         });
         f.At(3000, [&f] { f.AnnouncerExits(0); });
         f.At(30000, [&f] { f.Raise(SIGTERM); });
       },
       {"source=ncid:server:3333 line=POTS called= number=0 withheld=0 network_name=ANN^[[2J name=ANN^[[2J "
        "name_source=network decision=announce rule= hung_up=0 rings=0 announced=1 stopped_by_key=1 answered=NULL "
        "duration=8 time=2026-12-09T20:00:01+00:00 ended=2026-12-09T20:00:09+00:00"}},
      {"a FRITZ!Box's calls: one answered, one withheld and not",
       fritz,
       [](FakeLineSystem& f) {
         f.At(1000, [&f] { f.ServerSends("09.12.26 15:17:43;RING;2;5551234;5559876;SIP0;\n"); });
         f.At(5000, [&f] { f.ServerSends("09.12.26 15:17:47;CONNECT;2;4;5551234;\n"); });
         f.At(20000, [&f] { f.ServerSends("09.12.26 15:18:02;RING;1;;5559876;SIP1;\n"); });
         f.At(26000, [&f] { f.ServerSends("09.12.26 15:18:08;DISCONNECT;1;0;\n"); });
         f.At(40000, [&f] { f.Raise(SIGTERM); });
       },
       {"source=fritz:box:1012 line=SIP0 called=5559876 number=5551234 withheld=0 network_name= name= "
        "name_source=none decision=announce rule= hung_up=0 rings=0 announced=1 stopped_by_key=0 answered=1 "
        "duration=4 time=2026-12-09T20:00:01+00:00 ended=2026-12-09T20:00:05+00:00",
        "source=fritz:box:1012 line=SIP1 called=5559876 number= withheld=1 network_name= name= name_source=none "
        "decision=announce rule= hung_up=0 rings=0 announced=1 stopped_by_key=0 answered=0 duration=6 "
        "time=2026-12-09T20:00:20+00:00 ended=2026-12-09T20:00:26+00:00"}},
  };
  for (const Case& c : cases) {
    HistoryFile history;
    LineOptions options = c.options;
    options.history = history.path();
    FakeLineSystem fake;
    for (const auto& [path, text] : ListTexts()) fake.WriteFile(path, text);
    c.script(fake);
    EXPECT_EQ(RunLine(options, fake.system()), 0) << c.name << "\n" << Shown(fake.trace);
    EXPECT_EQ(history.Rows(fields.c_str()), c.rows) << c.name << "\n" << Shown(fake.trace);
  }
}

// The --on-call program beside the announcement: once when the call is
// decided, after annc's start, and once at its end; its output said.
TEST(AnncLineTest, TheOnCallProgramRunsForEachCall) {
  HistoryFile history;
  LineOptions options = ModemOptions();
  options.history = history.path();
  options.onCall = "/opt/my hooks/hook";
  FakeLineSystem f;
  f.programs.push_back(FakeLineSystem::ProgramScript{"sent\n", 100, 0});
  f.programs.push_back(FakeLineSystem::ProgramScript{"", 100, 3});
  f.WriteFile("/usr/lib/annc/Numvoice/aon.db", "5551234=Ann Lee\n");
  NorthAmericanCall(f, 1000, "5551234");
  f.At(30000, [&f] { f.Raise(SIGTERM); });
  EXPECT_EQ(RunLine(options, f.system()), 0);
  EXPECT_TRUE(InOrder(f.trace, {"2000 start 5551234", "2000 run 4243 /opt/my hooks/hook ANNC_EVENT=call",
                                "2000: hook: sent", "13000 run 4244 /opt/my hooks/hook ANNC_EVENT=end",
                                "13100: hook ended with exit code 3"}))
      << Shown(f.trace);
  ASSERT_EQ(f.programEnvironments.size(), 2u);
  auto has = [](const std::vector<std::string>& env, const std::string& pair) {
    return std::find(env.begin(), env.end(), pair) != env.end();
  };
  const std::vector<std::string>& call = f.programEnvironments.begin()->second;
  const std::vector<std::string>& end = f.programEnvironments.rbegin()->second;
  EXPECT_TRUE(has(call, "ANNC_NUMBER=5551234") && has(call, "ANNC_NAME=Ann Lee") &&
              has(call, "ANNC_DECISION=announce") && has(call, "ANNC_ANNOUNCED=yes"));
  EXPECT_FALSE(has(call, "ANNC_ANSWERED=unknown")) << "the end's fields come at the end";
  EXPECT_TRUE(has(end, "ANNC_EVENT=end") && has(end, "ANNC_ANSWERED=unknown") && has(end, "ANNC_DURATION=12"));
  // The same call, by its id, in both runs and in the history.
  std::string id = history.Rows("id").at(0);
  EXPECT_TRUE(has(call, "ANNC_ID=" + id.substr(3)) && has(end, "ANNC_ID=" + id.substr(3))) << id;
}

}  // namespace
}  // namespace annc

namespace annc {
namespace {

// Options as annc-line reads them from `args`, with the announcer and the
// history set for the scripted system.
LineOptions Parsed(std::vector<std::string_view> args, const std::string& history = "none") {
  ParsedCommandLine parsed = ParseLineCommandLine(args, Charset::kSingleByte);
  EXPECT_EQ(parsed.kind, ParsedCommandLine::kRun) << parsed.error;
  parsed.options.annc = "/usr/lib/annc/annc";
  parsed.options.history = history;
  return parsed.options;
}

void NcidGreets(FakeLineSystem& f) {
  f.onConnect = [&f] { f.ServerSends("200 Server: ncidd\r\n300 End of connection startup\r\n"); };
}

// A modem and an NCID server, or a FRITZ!Box, in one annc-line: each call
// kept to its source, announced one at a time, a newer one taking over.
TEST(AnncLineTest, SeveralSources) {
  struct Case {
    const char* name;
    std::vector<std::string_view> args;
    std::function<void(FakeLineSystem&)> script;
    int code;
    std::vector<std::string> inOrder;
    std::vector<std::string> never;
    std::vector<std::string> rows;  // the history's: source, line, number, answered
  };
  const Case cases[] = {
      {"the same number on the modem and from the server at once: two calls, the newer takes over",
       {"/dev/ttyACM0", "ncid:server"},
       [](FakeLineSystem& f) {
         NcidGreets(f);
         NorthAmericanCall(f, 1000, "5551234");
         f.At(3000, [&f] { f.ServerSends("CID: *DATE*12092026*TIME*1015*LINE*POTS*NMBR*5551234*MESG*NONE*NAME*ANN*\r\n"); });
         f.At(30000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"0 ready modem ready, caller ID by AT+VCID=1; connected to server:3333",
        "2000: call from 5551234 via modem:/dev/ttyACM0", "2000 start 5551234",
        "3000: call on line POTS via ncid:server:3333 takes over the announcement", "3000 nocarrier",
        "3050: call from 5551234 (ANN) on line POTS via ncid:server:3333", "3050 start 5551234",
        "11000: call ended on line POTS via ncid:server:3333", "11000 nocarrier",
        "13000: call ended via modem:/dev/ttyACM0", "30000 stopping", "30000 close"},
       {},
       {"source=modem:/dev/ttyACM0 line= number=5551234 answered=NULL",
        "source=ncid:server:3333 line=POTS number=5551234 answered=NULL"}},
      {"the server lost and connected to again while the modem's call goes on",
       {"ncid:server", "/dev/ttyACM0"},
       [](FakeLineSystem& f) {
         NcidGreets(f);
         f.At(1000, [&f] { f.ServerSends("CID: *DATE*12092026*TIME*1015*LINE*POTS*NMBR*5559876*MESG*NONE*NAME*BOB*\r\n"); });
         NorthAmericanCall(f, 2000, "5551234");
         f.At(3500, [&f] { f.ServerCloses(); });
         f.At(6000, [&f] { f.ModemSends("\r\nRING\r\n"); });
         f.At(30000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"0 service connected to server:3333", "0 ready connected to server:3333; modem ready, caller ID by AT+VCID=1",
        "1000: call from 5559876 (BOB) on line POTS via ncid:server:3333", "1000 start 5559876",
        "3000: call via modem:/dev/ttyACM0 takes over the announcement", "3000 nocarrier",
        "3050: call from 5551234 via modem:/dev/ttyACM0", "3050 start 5551234",
        "3500: connection to NCID server server:3333 lost (closed by the server); connecting again",
        "3500: call ended on line POTS via ncid:server:3333", "4500 connect",
        "4500 ready connected to server:3333; modem ready, caller ID by AT+VCID=1",
        "14000: call ended via modem:/dev/ttyACM0", "14000 nocarrier"},
       {"3500: call ended via modem:/dev/ttyACM0", "3500 nocarrier"},
       {"source=ncid:server:3333 line=POTS number=5559876 answered=NULL",
        "source=modem:/dev/ttyACM0 line= number=5551234 answered=NULL"}},
      {"a FRITZ!Box and a modem: the box's hold-back and answer its own, the modem's ring time-out its own",
       {"fritz:box", "/dev/ttyACM0"},
       [](FakeLineSystem& f) {
         f.At(1000, [&f] { f.ServerSends("09.12.26 15:17:43;RING;2;5551234;5559876;SIP0;\n"); });
         f.At(5000, [&f] { f.ServerSends("09.12.26 15:17:47;CONNECT;2;4;5551234;\n"); });
         NorthAmericanCall(f, 6000, "5550000");
         f.At(30000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"2000: call from 5551234 on line 2 via fritz:box:1012", "2000 start 5551234",
        "5000: call answered on line 2 via fritz:box:1012", "5000 nocarrier",
        "7000: call from 5550000 via modem:/dev/ttyACM0", "7000 start 5550000",
        "18000: call ended via modem:/dev/ttyACM0"},
       {},
       {"source=fritz:box:1012 line=SIP0 number=5551234 answered=1",
        "source=modem:/dev/ttyACM0 line= number=5550000 answered=NULL"}},
      {"a modem that cannot be opened at start: one line and exit 1, the server's connection closed",
       {"ncid:server", "/dev/ttyACM0"},
       [](FakeLineSystem& f) {
         NcidGreets(f);
         PortOpening busy;
         busy.kind = PortOpening::kInUse;
         busy.owner = 4321;
         f.openings.push_back(busy);
       },
       1,
       {"0 open", "0: /dev/ttyACM0: in use by process 4321"},
       {" stopping"},
       {}},
      {"--once: the first call over ends annc-line, whichever source it came from",
       {"--once", "/dev/ttyACM0", "ncid:server"},
       [](FakeLineSystem& f) {
         NcidGreets(f);
         f.At(1000, [&f] { f.ServerSends("CID: *DATE*12092026*TIME*1015*LINE*POTS*NMBR*5559876*MESG*NONE*NAME*BOB*\r\n"); });
         f.At(30000, [&f] { f.Raise(SIGTERM); });
       },
       0,
       {"1000 start 5559876", "9000: call ended on line POTS via ncid:server:3333", "9000 nocarrier", "9050 stopping"},
       {"30000 stopping"},
       {"source=ncid:server:3333 line=POTS number=5559876 answered=NULL"}},
  };
  for (const Case& c : cases) {
    HistoryFile history;
    FakeLineSystem fake;
    c.script(fake);
    int code = RunLine(Parsed(c.args, history.path()), fake.system());
    EXPECT_EQ(code, c.code) << c.name;
    EXPECT_TRUE(InOrder(fake.trace, c.inOrder)) << c.name << "; the trace:\n" << Shown(fake.trace);
    for (const std::string& line : c.never) {
      auto has = [&line](const std::string& traced) { return traced.find(line) != std::string::npos; };
      EXPECT_FALSE(std::any_of(fake.trace.begin(), fake.trace.end(), has)) << c.name << ": " << line;
    }
    if (c.code == 0) {
      EXPECT_EQ(history.Rows("source, line, number, answered"), c.rows) << c.name;
    }
  }
}

// A call the block lists name is hung up only on the modem that holds its
// line: one from the server is left alone, and the modem stays on hook.
TEST(AnncLineTest, OnlyTheModemsCallsAreHungUp) {
  ListFile block("5551234 #= Pest\n");
  LineOptions options = Parsed({"/dev/ttyACM0", "ncid:server"});
  options.screening.blockLists = {block.path()};
  FakeLineSystem fake;
  fake.WriteFile(block.path(), "5551234 #= Pest\n");
  NcidGreets(fake);
  fake.At(1000, [&fake] { fake.ServerSends("CID: *DATE*12092026*TIME*1015*LINE*POTS*NMBR*5551234*MESG*NONE*NAME*X*\r\n"); });
  NorthAmericanCall(fake, 10000, "5551234");
  fake.At(30000, [&fake] { fake.Raise(SIGTERM); });
  EXPECT_EQ(RunLine(options, fake.system()), 0);
  // The server's call: blocked, the modem left alone; the modem's own: hung up.
  auto hungUp = [](const std::string& line) { return line.ends_with("> ATH1"); };
  EXPECT_EQ(std::count_if(fake.trace.begin(), fake.trace.end(), hungUp), 1) << Shown(fake.trace);
  EXPECT_TRUE(InOrder(fake.trace, {"1000: call from 5551234 (Pest): blocked by " + block.path() + " line 1",
                                   "11000 > ATH1"}))
      << Shown(fake.trace);
}

}  // namespace
}  // namespace annc
