#include "log/event_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>

#include "platform/errors.h"
#include "platform/fake_platform.h"
#include "platform/test_support.h"

namespace annc {
namespace {

class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override { LogFileName = path; }
  std::string Read() { return testing::ReadWholeFile(path); }
  void Write(const std::string& bytes) { testing::WriteWholeFile(path, bytes); }
  FakePlatform fake;
  testing::ScopedTempPath path{"event_log_test.log"};
};

TEST_F(EventLogTest, TimestampHasLeadingZerosAndAnEnglishMonth) {
  fake.time = LocalTime{2027, 1, 5, 5, 8, 6};
  EXPECT_EQ(LogTimestamp(), "05-Jan-2027 05:08:06");
  fake.time = LocalTime{2026, 12, 18, 23, 59, 59};
  EXPECT_EQ(LogTimestamp(), "18-Dec-2026 23:59:59");
  for (int m = 1; m <= 12; ++m) {
    fake.time.month = m;
    EXPECT_EQ(LogTimestamp().substr(3, 3), EnglishMonthAbbrevs[m]);
  }
}

TEST_F(EventLogTest, MonthStaysEnglishInAnotherLocale) {
  std::string old = std::setlocale(LC_TIME, nullptr);
  if (std::setlocale(LC_TIME, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "de_DE.UTF-8 not installed";
  fake.time = LocalTime{2026, 3, 1, 1, 2, 3};
  std::string stamp = LogTimestamp();
  std::setlocale(LC_TIME, old.c_str());
  EXPECT_EQ(stamp.substr(0, 12), "01-Mar-2026 ");  // not "Mär"
}

TEST_F(EventLogTest, LinesAreAppended) {
  fake.time = LocalTime{2026, 12, 8, 5, 8, 56};
  Write("old line\r\n");
  LogEvent(" ", "5551234 - Ann Lee");
  LogEvent("?", " GetCommTimeouts Bad file descriptor");
  LogEvent(" ", "");
  EXPECT_EQ(Read(),
            "old line\r\n"
            "  08-Dec-2026 05:08:56 5551234 - Ann Lee\r\n"
            "? 08-Dec-2026 05:08:56  GetCommTimeouts Bad file descriptor\r\n"
            "\r\n");
}

TEST_F(EventLogTest, EmptyNameLogsNothing) {
  LogFileName = "";
  LogEvent(" ", "x");
  EXPECT_EQ(Read(), "");
}

TEST_F(EventLogTest, OnlyTheTrailingRunOfCtrlZIsRemoved) {
  fake.time = LocalTime{2026, 12, 8, 5, 8, 56};
  const std::string line = "  08-Dec-2026 05:08:56 n\r\n";
  Write("a\r\n\x1a\x1a\x1a");
  LogEvent(" ", "n");
  EXPECT_EQ(Read(), "a\r\n" + line);
  // A Ctrl-Z with bytes after it is data and stays.
  Write("a\x1a" "b\r\n");
  LogEvent(" ", "n");
  EXPECT_EQ(Read(), "a\x1a" "b\r\n" + line);
  // A run longer than one look at the end is removed whole.
  Write("keep\r\n" + std::string(1000, '\x1a'));
  LogEvent(" ", "n");
  EXPECT_EQ(Read(), "keep\r\n" + line);
  Write(std::string(300, '\x1a'));
  LogEvent(" ", "n");
  EXPECT_EQ(Read(), line);
}

TEST_F(EventLogTest, AFileThatCannotBeCreatedIsAnInOutError) {
  LogFileName = ::testing::TempDir() + "/no/such/folder/annc.log";
  try {
    LogEvent(" ", "x");
    FAIL() << "expected an error";
  } catch (const UnhandledError& e) {
    EXPECT_EQ(e.kind, "EInOutError");
    EXPECT_EQ(e.message, "Invalid filename");
  }
  LogFileName = ::testing::TempDir();
  try {
    LogEvent(" ", "x");
    FAIL() << "expected an error";
  } catch (const UnhandledError& e) {
    EXPECT_EQ(e.message, "File access denied");
  }
}

TEST(LogOpenErrorTextTest, Mapping) {
  EXPECT_EQ(LogOpenErrorText(ENOENT), "Invalid filename");
  EXPECT_EQ(LogOpenErrorText(ENOTDIR), "Invalid filename");
  EXPECT_EQ(LogOpenErrorText(EACCES), "File access denied");
  EXPECT_EQ(LogOpenErrorText(EPERM), "File access denied");
  EXPECT_EQ(LogOpenErrorText(EISDIR), "File access denied");
  EXPECT_EQ(LogOpenErrorText(EROFS), "File access denied");
  EXPECT_EQ(LogOpenErrorText(EMFILE), "Too many open files");
  EXPECT_EQ(LogOpenErrorText(ENFILE), "Too many open files");
  EXPECT_EQ(LogOpenErrorText(EWOULDBLOCK), "I/O error 32");  // held by another process
  EXPECT_EQ(LogOpenErrorText(ENOSPC), "I/O error 28");
  EXPECT_EQ(LogOpenErrorText(ELOOP), "I/O error 40");
}

}  // namespace
}  // namespace annc
