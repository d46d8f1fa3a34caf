#include "modem/serial_line.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

#include "log/event_log.h"
#include "platform/fake_platform.h"
#include "platform/test_support.h"

namespace annc {
namespace {

class OpenSerialLineTest : public ::testing::Test {
 protected:
  void SetUp() override { LogFileName = logPath; }
  void TearDown() override { SerialLine = -1; }
  int Open(const char* value) {
    return testing::ExitCodeOf([&] { OpenSerialLine(value); }, 0);
  }
  std::string Log() { return testing::ReadWholeFile(logPath); }
  FakePlatform fake;
  testing::ScopedTempPath logPath{"serial_line_test.log"};
};

TEST_F(OpenSerialLineTest, ConfirmsEachStepAndMakesTheLineRaw) {
  EXPECT_EQ(Open("$B4"), 0);
  EXPECT_EQ(SerialLine, 180);
  EXPECT_EQ(fake.out, " GetCommTimeouts \r\n SetCommTimeouts \r\n PurgeComm \r\n");
  EXPECT_EQ(fake.events, (FakeEvents{FakeEvent::Sleep(250)}));
  EXPECT_TRUE(fake.lineRaw);
  EXPECT_EQ(Log(), "");
}

TEST_F(OpenSerialLineTest, FailuresAreLoggedAndEndWith254) {
  fake.checkTerminalError = EBADF;
  EXPECT_EQ(Open("abc"), 254);
  EXPECT_EQ(SerialLine, -1);
  EXPECT_EQ(fake.out, "");
  EXPECT_NE(Log().find("  GetCommTimeouts Bad file descriptor\r\n"), std::string::npos);

  std::remove(logPath.str().c_str());
  fake.checkTerminalError = 0;
  fake.flushError = ENOTTY;
  EXPECT_EQ(Open("7"), 254);
  EXPECT_EQ(fake.out, " GetCommTimeouts \r\n SetCommTimeouts \r\n");
  std::string log = Log();
  EXPECT_NE(log.find("  PurgeComm Inappropriate ioctl for device\r\n"), std::string::npos) << log;
  EXPECT_TRUE(fake.events.empty());  // no settling pause after a failure
}

TEST_F(OpenSerialLineTest, OnlyALineMadeRawIsGivenBackAndOnlyOnce) {
  EXPECT_EQ(Open("7"), 0);
  GiveSerialLineBack();
  GiveSerialLineBack();
  EXPECT_EQ(fake.terminal, (std::vector<std::string>{"check 7", "raw 7", "flush 7", "give back 7"}));
  EXPECT_FALSE(fake.lineRaw);

  fake.terminal.clear();
  fake.makeRawError = EIO;
  EXPECT_EQ(Open("8"), 254);
  GiveSerialLineBack();
  EXPECT_EQ(fake.terminal, (std::vector<std::string>{"check 8", "raw 8"}));
}

}  // namespace
}  // namespace annc
