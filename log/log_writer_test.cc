#include "log/log_writer.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "log/event_log.h"
#include "platform/fake_platform.h"
#include "platform/files.h"
#include "platform/test_support.h"

namespace annc {
namespace {

class LogWriterTest : public ::testing::Test {
 protected:
  std::string Read() { return testing::ReadWholeFile(path); }
  void Write(const std::string& bytes) { testing::WriteWholeFile(path, bytes); }
  FakePlatform fake;
  testing::ScopedTempPath path{"log_writer_test.log"};
};

TEST_F(LogWriterTest, LinesInAnncsFormat) {
  struct Case {
    LocalTime time;
    char separator;
    const char* prefix;
    const char* message;
    const char* want;
  };
  const Case cases[] = {
      {{2026, 12, 9, 10, 15, 2}, ':', "B", "8005551212 - Car warranty", "B 09-Dec-2026 10:15:02 8005551212 - Car warranty\r\n"},
      {{2026, 12, 9, 23, 40, 11}, ':', "Q", "5551234 - ANN LEE", "Q 09-Dec-2026 23:40:11 5551234 - ANN LEE\r\n"},
      {{2027, 1, 5, 5, 8, 6}, '.', " ", "5551234", "  05-Jan-2027 05.08.06 5551234\r\n"},
      {{2027, 1, 5, 5, 8, 6}, ':', "B", "", "\r\n"},
      {{2027, 13, 5, 5, 8, 6}, ':', "B", "x", "B 05-???-2027 05:08:06 x\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LogLineOf(c.prefix, LogTimestampOf(c.time, c.separator), c.message), c.want) << c.message;
  }
}

// annc-line's lines and annc's own land in one file alike: appended, after
// the DOS padding is cut off, each whole.
TEST_F(LogWriterTest, AnnLineAndAnncWriteTheSameFile) {
  fake.time = LocalTime{2026, 12, 9, 10, 15, 2};
  LogFileName = path;
  Write("old\r\n\x1a\x1a");
  ASSERT_EQ(AppendLogLine(path, LogLineOf("B", LogTimestampOf(fake.time, ':'), "8005551212 - Car warranty"),
                          kLogLockWaitMs),
            0);
  LogEvent(" ", "5551234 - Ann Lee");
  Write(Read() + "\x1a");
  ASSERT_EQ(AppendCallLogLine(path, 'Q', "5551234 - ANN LEE"), 0);
  std::string text = Read();
  std::string head =
      "old\r\n"
      "B 09-Dec-2026 10:15:02 8005551212 - Car warranty\r\n"
      "  09-Dec-2026 10:15:02 5551234 - Ann Lee\r\n"
      "Q ";
  ASSERT_EQ(text.substr(0, head.size()), head);
  // The real clock's line: "Q DD-Mon-YYYY HH:MM:SS message" and CR LF.
  std::string tail = text.substr(head.size());
  ASSERT_EQ(tail.size(), 20 + 1 + 17 + 2) << tail;
  EXPECT_EQ(tail.substr(20), " 5551234 - ANN LEE\r\n");
  EXPECT_EQ(tail[2], '-');
  EXPECT_EQ(tail[14], ':');
  EXPECT_EQ(tail[17], ':');
}

// The lock is annc's: while annc's writer holds the file, annc-line's line
// waits and gives up with EWOULDBLOCK, writing nothing; and the other way
// round, annc's line fails while annc-line's writer holds it.
TEST_F(LogWriterTest, TheLockIsShared) {
  Write("");
  LogFileName = path;
  {
    LockedAppendFile held;
    ASSERT_EQ(held.Open(path, 0), 0);
    EXPECT_EQ(AppendLogLine(path, "B x\r\n", 50), EWOULDBLOCK);
    EXPECT_EQ(AppendCallLogLine(path, 'B', "x", 50), EWOULDBLOCK);
  }
  EXPECT_EQ(Read(), "");
  EXPECT_EQ(AppendLogLine(path, "B x\r\n", 50), 0);
  EXPECT_EQ(Read(), "B x\r\n");
}

TEST_F(LogWriterTest, AFileThatCannotBeOpenedGivesItsError) {
  EXPECT_EQ(AppendLogLine(::testing::TempDir() + "/no/such/folder/annc.log", "x\r\n", 50), ENOENT);
  EXPECT_EQ(AppendLogLine(::testing::TempDir(), "x\r\n", 50), EISDIR);
}

TEST(DefaultLogFileTest, AnncsOwnRule) {
  EXPECT_EQ(DefaultLogFileOf("/opt/annc/annc"), "/opt/annc/annc.log");
  EXPECT_EQ(DefaultLogFileOf("build/annc"), "build/annc.log");
  EXPECT_EQ(DefaultLogFileOf("/opt/annc.d/annc.exe"), "/opt/annc.d/annc.log");
  EXPECT_EQ(DefaultLogFileOf("annc"), "annc.log");
}

}  // namespace
}  // namespace annc
