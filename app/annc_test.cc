#include "app/annc.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "log/event_log.h"
#include "modem/serial_line.h"
#include "platform/fake_platform.h"
#include "platform/test_support.h"

namespace annc {
namespace {

// The whole program on the fake platform, with a real phone book and log
// in a folder of its own.
class AnncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(folder.str().c_str(), 0755);
    ::mkdir((folder.str() + "/Numvoice").c_str(), 0755);
    fake.executablePath = folder.str() + "/annc";
    fake.time = LocalTime{2026, 12, 8, 21, 14, 5};
    testing::WriteWholeFile(Book(), "5551234=Ann Lee\r\n");
  }
  void TearDown() override {
    std::remove(Book().c_str());
    std::remove(Log().c_str());
    ::rmdir((folder.str() + "/Numvoice").c_str());
    ResetCallState();
  }
  std::string Book() const { return folder.str() + "/Numvoice/aon.db"; }
  std::string Log() const { return folder.str() + "/annc.log"; }

  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "annc");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return RunAnnc(static_cast<int>(args.size()), argv.data());
  }

  testing::ScopedTempPath folder{"annc_test"};
  FakePlatform fake;
};

TEST_F(AnncTest, AKeyEndsTheCallAfterOneCycle) {
  fake.stdoutTerminal = true;
  fake.keys = {0, 'x'};
  EXPECT_EQ(Run({"5551234:2"}), 0);
  // The user's title is saved on the terminal's title stack before ours is
  // set, and restored from there at the end.
  EXPECT_EQ(fake.out,
            "\x1b[22;0t\x1b]0;5551234 - Ann Lee\a"
            "Press ANY KEY to exit.\r\n====================\r\n"
            "5551234 - Ann Lee\r\n"
            "\x1b[23;0t");
  EXPECT_EQ(testing::ReadWholeFile(Log()), "  08-Dec-2026 21:14:05 5551234 - Ann Lee\r\n");
  EXPECT_EQ(testing::SpokenWords(fake.events),
            "20 1 14 | (250) 500 50 5 (250) 12 (250) 30 4 (250) | (450)");
}

TEST_F(AnncTest, TheNameSwitchGivesTheRecordingOfEachCycle) {
  struct Case {
    std::vector<std::string> args;
    const char* words;
  };
  const Case cases[] = {
      {{"5551234", "/N:/names/first.wav"}, "20 1 14 | (250) first (250) 500 50 5 (250) 12 (250) 30 4 (250) | (450)"},
      {{"5551234", "-n:first.wav", "/N:second.wav"},
       "20 1 14 | (250) first (250) 500 50 5 (250) 12 (250) 30 4 (250) | (450)"},
      {{"12", "/N:"}, "20 1 14 | (250) 12 (250) | (450)"},
      {{"12", "N:first.wav"}, "20 1 14 | (250) 12 (250) | (450)"},  // no switch character: nothing
  };
  for (const Case& c : cases) {
    fake.events.clear();
    fake.keys = {0, 'x'};
    EXPECT_EQ(Run(c.args), 0);
    EXPECT_EQ(testing::SpokenWords(fake.events), c.words) << c.args[1];
    ResetCallState();
  }
  EXPECT_EQ(NameRecording, "");
}

TEST_F(AnncTest, WithoutANameTheLogHoldsTheNumberAlone) {
  fake.keys = {'x'};  // a key already there: nothing is spoken
  EXPECT_EQ(Run({"777", "/L:" + folder.str() + "/other.log"}), 0);
  EXPECT_EQ(fake.out, "Press ANY KEY to exit.\r\n====================\r\n");
  std::string other = folder.str() + "/other.log";
  EXPECT_EQ(testing::ReadWholeFile(other), "  08-Dec-2026 21:14:05 777\r\n");
  std::remove(other.c_str());
  EXPECT_TRUE(fake.events.empty());
}

TEST_F(AnncTest, ControlBytesOfNumberAndNameAreLoggedInCaretNotation) {
  // The number from the network and the name from the book may hold line
  // ends and escape sequences: the log still gets one line per call. (The
  // number is cut at its first colon, so the forged time has none.)
  testing::WriteWholeFile(Book(), "5551234=Ann\x1b]0;x\x07 L\xc3\xa9" "e\t!\x7f\r\n");
  const std::pair<std::string, std::string> cases[] = {
      {"5551234", "5551234 - Ann^[]0;x^G L\xc3\xa9" "e^I!^?"},
      {"555\r\n? 01-Jan-2026 00.00.00 forged", "555^M^J? 01-Jan-2026 00.00.00 forged"},
      {"\x1b[2J\x01", "^[[2J^A"},
  };
  for (const auto& [number, logged] : cases) {
    std::remove(Log().c_str());
    fake.keys = {'x'};
    EXPECT_EQ(Run({number}), 0);
    EXPECT_EQ(testing::ReadWholeFile(Log()), "  08-Dec-2026 21:14:05 " + logged + "\r\n");
  }
}

TEST_F(AnncTest, C1ControlsOfTheNameAreShownAsTheLocaleHasThem) {
  // A C1 control is the byte 0x9B under the C locale and the character
  // U+009B under UTF-8; what is one in the other locale passes as it is.
  struct Case {
    const char* locale;
    const char* name;
    const char* titled;
    const char* shown;
  };
  const Case cases[] = {
      {"C", "A\x9b" "2J\xc2\x9b\xe9", "A2J\xc2\xe9", "AM-^[2J\xc2M-^[\xe9"},
      {"C.UTF-8", "A\x9b" "2J\xc2\x9b\xc3\xa9", "A\x9b" "2J\xc3\xa9", "A\x9b" "2JM-^[\xc3\xa9"},
  };
  const char* old = std::getenv("LC_ALL");
  std::string saved = old != nullptr ? old : "";
  for (const Case& c : cases) {
    ::setenv("LC_ALL", c.locale, 1);
    testing::WriteWholeFile(Book(), std::string("5551234=") + c.name + "\r\n");
    std::remove(Log().c_str());
    fake.out.clear();
    fake.stdoutTerminal = true;
    fake.keys = {0, 'x'};
    EXPECT_EQ(Run({"5551234"}), 0);
    EXPECT_EQ(fake.out, std::string("\x1b[22;0t\x1b]0;5551234 - ") + c.titled + "\a" +
                            "Press ANY KEY to exit.\r\n====================\r\n" + "5551234 - " + c.shown +
                            "\r\n\x1b[23;0t")
        << c.locale;
    EXPECT_EQ(testing::ReadWholeFile(Log()), std::string("  08-Dec-2026 21:14:05 5551234 - ") + c.shown + "\r\n")
        << c.locale;
    ResetCallState();
  }
  if (old != nullptr) {
    ::setenv("LC_ALL", saved.c_str(), 1);
  } else {
    ::unsetenv("LC_ALL");
  }
  std::setlocale(LC_ALL, "C");
}

TEST_F(AnncTest, AResultCodeOnTheLineEnds99) {
  fake.ModemSends("RING\r");
  EXPECT_EQ(Run({"5551234", "/H:7"}), 99);
  EXPECT_EQ(fake.out,
            " GetCommTimeouts \r\n SetCommTimeouts \r\n PurgeComm \r\n"
            "Press ANY KEY to exit.\r\n====================\r\n5551234 - Ann Lee\r\nRING\r");
  // The hour is spoken, then the line is read a byte at a time up to the
  // end of the result code, and the call is over.
  EXPECT_EQ(testing::SpokenWords(fake.events), "(250) 20 1 r r r r r");
}

// Whatever ends the call, the serial line goes back to the launcher as it
// was (when it was made raw) and the console to the user, title included
// (when it was set), after everything else.
TEST_F(AnncTest, EveryWayOutGivesTheLineAndTheConsoleBack) {
  using Steps = std::vector<std::string>;
  const Steps fullSetUp = {"take console", "check 7", "raw 7", "flush 7"};
  const Steps givenBack = {"give back 7", "give console back"};
  struct Way {
    const char* what;
    void (*arrange)(FakePlatform&, const std::string& book);
    int code;
    Steps steps;
    bool titled;
  };
  const Way ways[] = {
      {"key", [](FakePlatform& f, const std::string&) { f.keys = {0, 'x'}; }, 0, {}, true},
      {"result code", [](FakePlatform& f, const std::string&) { f.ModemSends("RING\r"); }, 99, {},
       true},
      {"flush fails after the line was made raw",
       [](FakePlatform& f, const std::string&) { f.flushError = EIO; }, 254, {}, false},
      {"missing phone book", [](FakePlatform&, const std::string& book) { std::remove(book.c_str()); },
       1, {}, false},
      {"line cannot be made raw", [](FakePlatform& f, const std::string&) { f.makeRawError = EIO; }, 254,
       {"take console", "check 7", "raw 7", "give console back"}, false},
      {"not a terminal line", [](FakePlatform& f, const std::string&) { f.checkTerminalError = ENOTTY; },
       254, {"take console", "check 7", "give console back"}, false},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.what);
    FakePlatform f;  // installed over the fixture's for this round
    f.executablePath = fake.executablePath;
    f.stdoutTerminal = true;
    testing::WriteWholeFile(Book(), "5551234=Ann Lee\r\n");
    way.arrange(f, Book());
    EXPECT_EQ(Run({"5551234", "/H:7"}), way.code);
    Steps expected = way.steps;
    if (expected.empty()) {
      expected = fullSetUp;
      expected.insert(expected.end(), givenBack.begin(), givenBack.end());
    }
    EXPECT_EQ(f.terminal, expected);
    EXPECT_FALSE(f.lineRaw);
    EXPECT_EQ(f.out.find("\x1b[22;0t\x1b]0;5551234 - Ann Lee\a") != std::string::npos, way.titled);
    EXPECT_EQ(f.out.ends_with("\x1b[23;0t"), way.titled) << f.out;
    std::remove(Log().c_str());
    ResetCallState();
  }
}

TEST_F(AnncTest, SerialSetUpFailureEnds254BeforeAnythingElse) {
  fake.checkTerminalError = EBADF;
  EXPECT_EQ(Run({"5551234", "/H:abc"}), 254);
  EXPECT_EQ(fake.out, "");
  std::string log = testing::ReadWholeFile(Log());
  EXPECT_NE(log.find("  GetCommTimeouts Bad file descriptor\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("5551234"), std::string::npos);
}

TEST_F(AnncTest, AMissingPhoneBookIsReportedWith1) {
  std::remove(Book().c_str());
  EXPECT_EQ(Run({"5551234"}), 1);
  EXPECT_EQ(fake.out.rfind("Exception EFOpenError in module annc at ", 0), 0u) << fake.out;
  EXPECT_NE(fake.out.find("\nCannot open file " + Book() + ".\r\n"), std::string::npos) << fake.out;
  EXPECT_EQ(testing::ReadWholeFile(Log()), "");  // nothing logged
}

TEST_F(AnncTest, HelpAndVersionAloneAreAnsweredWithoutACall) {
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_EQ(fake.out.rfind("Usage: annc NUMBER [/L:LOGFILE] [/H:FD] [/N:FILE]\r\n", 0), 0u) << fake.out;
  for (const char* named : {"/L:LOGFILE", "/H:FD", "\r\n  0 ", "\r\n  1 ", "\r\n  99 ", "\r\n  254 "}) {
    EXPECT_NE(fake.out.find(named), std::string::npos) << named;
  }
  fake.out.clear();
  EXPECT_EQ(Run({"--version"}), 0);
  EXPECT_TRUE(std::regex_match(fake.out, std::regex("annc [0-9]+\\.[0-9]+\\.[0-9]+\r\n"))) << fake.out;
  EXPECT_TRUE(fake.events.empty());
  EXPECT_EQ(testing::ReadWholeFile(Log()), "");  // no call logged
}

TEST_F(AnncTest, HelpOrVersionWithOtherArgumentsIsACall) {
  // Argument 1 is the number whatever it holds; only a lone question is one.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--help", "/L:"}, "--help - "},
      {{"5551234", "--version"}, "5551234 - Ann Lee"},
      {{"--version:2"}, "--version - "},
      {{"--HELP"}, "--HELP - "},
  };
  for (const auto& [args, caller] : cases) {
    fake.out.clear();
    fake.keys = {0, 'x'};
    EXPECT_EQ(Run(args), 0);
    EXPECT_EQ(fake.out, "Press ANY KEY to exit.\r\n====================\r\n" + caller + "\r\n") << args[0];
  }
}

TEST_F(AnncTest, NoArgumentsDoNothing) {
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(fake.out, "");
  EXPECT_TRUE(fake.events.empty());
}

}  // namespace
}  // namespace annc
