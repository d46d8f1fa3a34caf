#include "modem/result_watcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "log/event_log.h"
#include "modem/serial_line.h"
#include "platform/errors.h"
#include "platform/fake_platform.h"

namespace annc {
namespace {

class WatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ModemLineBuffer.Clear();
    SerialLine = 4;
    LineTimeouts = CommTimeouts{1, 10, 50, 10, 50};
    logPath = ::testing::TempDir() + "/annc_watcher_test." + std::to_string(::getpid()) + ".log";
    std::remove(logPath.c_str());
    LogFileName = logPath;
  }
  void TearDown() override {
    SerialLine = -1;
    std::remove(logPath.c_str());
  }
  // Runs one drain; returns the exit code it asked for, or -1.
  int Drain() {
    try {
      DrainModem();
    } catch (const ExitRequest& e) {
      return e.code;
    }
    return -1;
  }
  std::string Log() {
    std::ifstream f(logPath, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  FakePlatform fake;
  std::string logPath;
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
  EXPECT_EQ(fake.events, (std::vector<std::string>{"read 0", "read 0", "sleep 100", "read 0"}));
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
  EXPECT_EQ(fake.events, (std::vector<std::string>{"read 0", "sleep 100"}));
  std::string log = Log();
  EXPECT_EQ(log.substr(0, 2), "? ");
  EXPECT_NE(log.find("  GetOverlappedResult Input/output error\r\n"), std::string::npos) << log;
  EXPECT_EQ(Drain(), 99);

  fake.serial.push_back(SerialByte{SerialByte::kEndOfFile, 0, 0});
  EXPECT_EQ(Drain(), -1);
  EXPECT_NE(Log().find("  GetOverlappedResult End of file\r\n"), std::string::npos);
}

TEST_F(WatcherTest, EchoOnATerminalShowsControlBytesSafely) {
  fake.stdoutTerminal = true;
  fake.ModemSends("NAME=\x1b[2J\a\b\t\r\n");
  EXPECT_EQ(Drain(), -1);
  EXPECT_EQ(fake.out, "NAME=^[[2J^G\b\t\r\n");
}

TEST_F(WatcherTest, NoSerialLineNoRead) {
  SerialLine = -1;
  fake.ModemSends("RING\r");
  EXPECT_EQ(Drain(), -1);
  EXPECT_TRUE(fake.events.empty());
}

class OpenSerialLineTest : public WatcherTest {
 protected:
  int Open(const char* value) {
    try {
      OpenSerialLine(value);
    } catch (const ExitRequest& e) {
      return e.code;
    }
    return 0;
  }
};

TEST_F(OpenSerialLineTest, ConfirmsEachStepAndSetsTheTimeouts) {
  EXPECT_EQ(Open("$B4"), 0);
  EXPECT_EQ(SerialLine, 180);
  EXPECT_EQ(fake.out, " GetCommTimeouts \r\n SetCommTimeouts \r\n PurgeComm \r\n");
  EXPECT_EQ(fake.events, (std::vector<std::string>{"sleep 250"}));
  EXPECT_EQ(fake.appliedTimeouts.ReadIntervalTimeout, 1u);
  EXPECT_EQ(fake.appliedTimeouts.ReadTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(fake.appliedTimeouts.ReadTotalTimeoutConstant, 50u);
  EXPECT_EQ(ReadTimeoutMs(), 60);
  EXPECT_EQ(Log(), "");
}

TEST_F(OpenSerialLineTest, FailuresAreLoggedAndEndWith254) {
  fake.getTimeoutsError = EBADF;
  EXPECT_EQ(Open("abc"), 254);
  EXPECT_EQ(SerialLine, -1);
  EXPECT_EQ(fake.out, "");
  EXPECT_NE(Log().find("  GetCommTimeouts Bad file descriptor\r\n"), std::string::npos);

  std::remove(logPath.c_str());
  fake.getTimeoutsError = 0;
  fake.purgeError = ENOTTY;
  EXPECT_EQ(Open("7"), 254);
  EXPECT_EQ(fake.out, " GetCommTimeouts \r\n SetCommTimeouts \r\n");
  std::string log = Log();
  EXPECT_NE(log.find("  PurgeComm Inappropriate ioctl for device\r\n"), std::string::npos) << log;
  EXPECT_TRUE(fake.events.empty());  // no settling pause after a failure
}

}  // namespace
}  // namespace annc
