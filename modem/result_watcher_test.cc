#include "modem/result_watcher.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "log/event_log.h"
#include "modem/serial_line.h"
#include "platform/fake_platform.h"
#include "platform/test_support.h"

namespace annc {
namespace {

class WatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ModemLineBuffer.Clear();
    ModemEcho.Clear();
    LoggedLineFailures.clear();
    SerialLine = 4;
    LogFileName = logPath;
  }
  void TearDown() override { SerialLine = -1; }
  // Runs one drain; returns the exit code it asked for, or -1.
  int Drain() { return testing::ExitCodeOf(DrainModem); }
  std::string Log() { return testing::ReadWholeFile(logPath); }
  FakePlatform fake;
  testing::ScopedTempPath logPath{"watcher_test.log"};
};

TEST_F(WatcherTest, ResultCodesEndTheProgramWith99) {
  // What the modem sends, and what is echoed before the program ends: the
  // bytes after the ending line end are never read.
  const std::pair<const char*, const char*> cases[] = {
      {"RING\rmore", "RING\r"},           {"RING\nmore", "RING\n"},
      {"OK\r", "OK\r"},                   {"NO CARRIER\r", "NO CARRIER\r"},
      {"BUSY\n", "BUSY\n"},               {"NO DIAL TONE\r", "NO DIAL TONE\r"},
      {"NO DIALTONE\r", "NO DIALTONE\r"}, {"RINGING\r", "RINGING\r"},
      {"\r\nRING\r\n", "\r\nRING\r"},
  };
  for (const auto& [sent, echoed] : cases) {
    ModemLineBuffer.Clear();
    fake.serial.clear();
    fake.out.clear();
    fake.ModemSends(sent);
    EXPECT_EQ(Drain(), 99) << sent;
    EXPECT_EQ(fake.out, echoed) << sent;
  }
}

TEST_F(WatcherTest, OtherLinesAreDropped) {
  fake.ModemSends("ring\rCONNECT 2400\r\nRING \r RING\rRINGS\r\r\nOKAY\nRIN");
  EXPECT_EQ(Drain(), -1);
  EXPECT_EQ(fake.out, "ring\rCONNECT 2400\r\nRING \r RING\rRINGS\r\r\nOKAY\nRIN");
  EXPECT_EQ(ModemLineBuffer.text, "RIN");
}

TEST_F(WatcherTest, ALineMayArriveAcrossDrains) {
  fake.ModemSends("RIN");
  EXPECT_EQ(Drain(), -1);
  fake.ModemSends("G");
  EXPECT_EQ(Drain(), -1);
  fake.ModemSends("\r");
  EXPECT_EQ(Drain(), 99);
}

TEST_F(WatcherTest, AnEndlessLineKeepsMemoryFlatAndNeverMatches) {
  for (int i = 0; i < 1000; ++i) fake.ModemSends("RING RING ");
  EXPECT_EQ(Drain(), -1);
  EXPECT_LE(ModemLineBuffer.text.size(), std::string("NO DIAL TONE").size());
  EXPECT_TRUE(ModemLineBuffer.overlong);
  // "...RING" at the end of the long line is still part of it.
  fake.ModemSends("RING\r");
  EXPECT_EQ(Drain(), -1);
  // The next line starts afresh.
  fake.ModemSends("NO DIAL TONE\r");
  EXPECT_EQ(Drain(), 99);
}

TEST_F(WatcherTest, AQuietLineCostsOnePauseAndTwoReads) {
  fake.ModemSends("A");
  EXPECT_EQ(Drain(), -1);
  // The byte at once, then a read that does not complete at once: the pause,
  // then the wait for the rest of its 60 ms (already over).
  EXPECT_EQ(fake.events, (FakeEvents{FakeEvent::Read(0), FakeEvent::Read(0), FakeEvent::Sleep(100), FakeEvent::Read(0)}));
  EXPECT_EQ(Log(), "");
}

TEST_F(WatcherTest, ABytePendingAfterThePauseIsRead) {
  fake.serial.push_back(SerialByte{});  // nothing at once
  fake.ModemSends("OK\r");
  EXPECT_EQ(Drain(), 99);
}

TEST_F(WatcherTest, ReadFailuresAreLoggedAndEndTheDrain) {
  fake.serial.push_back(SerialByte{SerialByte::kError, 0, EIO});
  fake.ModemSends("OK\r");  // after the failure: read by the next drain
  EXPECT_EQ(Drain(), -1);
  EXPECT_EQ(fake.events, (FakeEvents{FakeEvent::Read(0), FakeEvent::Sleep(100)}));
  std::string log = Log();
  EXPECT_EQ(log.substr(0, 2), "? ");
  EXPECT_NE(log.find("  GetOverlappedResult Input/output error\r\n"), std::string::npos) << log;
  EXPECT_EQ(Drain(), 99);

  fake.serial.push_back(SerialByte{SerialByte::kEndOfFile, 0, 0});
  EXPECT_EQ(Drain(), -1);
  EXPECT_NE(Log().find("  GetOverlappedResult End of file\r\n"), std::string::npos);
}

TEST_F(WatcherTest, AFailureThatRepeatsIsLoggedOnce) {
  // A hung-up line: end of file after every spoken number. Each drain
  // still ends quietly and the announcement goes on.
  const SerialByte endOfFile{SerialByte::kEndOfFile, 0, 0};
  const SerialByte ioError{SerialByte::kError, 0, EIO};
  const SerialByte sequence[] = {endOfFile, endOfFile, endOfFile, ioError, endOfFile, ioError};
  for (const SerialByte& read : sequence) {
    fake.serial.push_back(read);
    EXPECT_EQ(Drain(), -1);
  }
  std::string log = Log();
  auto count = [&log](const std::string& text) {
    std::size_t n = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("  GetOverlappedResult End of file\r\n"), 1u) << log;
  EXPECT_EQ(count("  GetOverlappedResult Input/output error\r\n"), 1u) << log;
  EXPECT_EQ(count("\r\n"), 2u) << log;
  EXPECT_LT(log.find("End of file"), log.find("Input/output error"));  // each when it first happened
}

TEST_F(WatcherTest, EchoOnATerminalShowsControlBytesSafely) {
  fake.stdoutTerminal = true;
  fake.ModemSends("NAME=\x1b[2J\a\b\t\r\n");
  EXPECT_EQ(Drain(), -1);
  EXPECT_EQ(fake.out, "NAME=^[[2J^G\b\t\r\n");
}

TEST_F(WatcherTest, EchoOnATerminalShowsC1ControlsOfTheLocale) {
  fake.stdoutTerminal = true;
  struct Case {
    const char* locale;
    std::vector<std::string> drains;  // what the modem sends before each drain
    std::string echoed;               // after them all and the end of the echo
  };
  const Case cases[] = {
      {"C", {"N=\x9b" "2J\x85\xc2\xe9\r\n"}, "N=M-^[2JM-^E\xc2\xe9\r\n"},
      {"C.UTF-8", {"N=\xc2\x9b" "2J\xc3\xa9\x9b\xc2\xa0\r\n"}, "N=M-^[2J\xc3\xa9\x9b\xc2\xa0\r\n"},
      // The two bytes of U+009B in two drains are still one control.
      {"C.UTF-8", {"N=\xc2", "\x9b" "2J\r"}, "N=M-^[2J\r"},
      // The modem's last byte, the first of a character, comes out as it is.
      {"C.UTF-8", {"N=\xc2"}, "N=\xc2"},
  };
  for (const Case& c : cases) {
    testing::LocaleScope scope(c.locale);
    ASSERT_TRUE(scope.ok()) << c.locale;
    fake.out.clear();
    for (const std::string& sent : c.drains) {
      fake.ModemSends(sent);
      EXPECT_EQ(Drain(), -1) << c.echoed;
    }
    FinishModemEcho();
    EXPECT_EQ(fake.out, c.echoed) << c.locale;
  }
}

TEST_F(WatcherTest, NoSerialLineNoRead) {
  SerialLine = -1;
  fake.ModemSends("RING\r");
  EXPECT_EQ(Drain(), -1);
  EXPECT_TRUE(fake.events.empty());
}

}  // namespace
}  // namespace annc
