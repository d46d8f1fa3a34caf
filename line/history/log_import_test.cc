#include "line/history/log_import.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace annc {
namespace {

class LogImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  void TearDown() override {
    ::unsetenv("TZ");
    ::tzset();
  }
};

TEST_F(LogImportTest, CallLinesBecomeCalls) {
  struct Case {
    const char* line;
    const char* time;
    const char* number;
    bool withheld;
    const char* name;
    const char* decision;
    bool announced;
  } cases[] = {
      {"  08-Dec-2026 05:08:56 5551234 - Ann Lee", "2026-12-08T05:08:56+00:00", "5551234", false, "Ann Lee",
       "announce", true},
      {"  08-Dec-2026 05:08:56 5551234", "2026-12-08T05:08:56+00:00", "5551234", false, "", "announce", true},
      {"B 01-Jan-2027 23:59:59 5550000 - Junk - Co", "2027-01-01T23:59:59+00:00", "5550000", false, "Junk - Co",
       "block", false},
      {"Q 29-Feb-2028 07.00.01 Unknown", "2028-02-29T07:00:01+00:00", "", true, "", "quiet", false},
      {"  08-Dec-2026 05:08:56 5551234 - ^[[2J", "2026-12-08T05:08:56+00:00", "5551234", false, "^[[2J", "announce",
       true},
  };
  for (const Case& c : cases) {
    ImportedLog log = ParseCallsLog(std::string(c.line) + "\r\n", Charset::kUtf8);
    ASSERT_EQ(log.records.size(), 1u) << c.line;
    const CallRecord& r = log.records[0];
    EXPECT_EQ(r.time, c.time) << c.line;
    EXPECT_EQ(r.number, c.number) << c.line;
    EXPECT_EQ(r.withheld, c.withheld) << c.line;
    EXPECT_EQ(r.name, c.name) << c.line;
    EXPECT_EQ(r.decision, c.decision) << c.line;
    EXPECT_EQ(r.announced, c.announced) << c.line;
    EXPECT_EQ(log.lines[0], c.line);
    EXPECT_EQ(log.unreadable, 0u) << c.line;
  }
}

TEST_F(LogImportTest, OtherLinesAreCountedNeverGuessed) {
  ImportedLog log = ParseCallsLog(
      "? 08-Dec-2026 05:08:57  GetCommTimeouts Bad file descriptor\r\n"  // the log's, no call
      "hello\r\n"
      "X 08-Dec-2026 05:08:56 5551234\r\n"          // no such mark
      "  31-Feb-2026 05:08:56 5551234\r\n"          // no such day
      "  08-Dez-2026 05:08:56 5551234\r\n"          // the month is always English
      "  08-Dec-2026 05:08:56\r\n"                  // no number
      "  08-Dec-2026 05:08-56 5551234\r\n"          // two separators
      "  08-Dec-2026 24:00:00 5551234\r\n"
      "  08-Dec-0730 05:08:56 5551234\r\n"          // before any log
      "  08-Dec-2026 05:08:565551234\r\n"
      "\r\n"                                         // blank lines are nothing
      "  08-Dec-2026 05:08:56 5551234\r\n"
      "\x1a\x1a\x1a", Charset::kUtf8);
  EXPECT_EQ(log.records.size(), 1u);
  EXPECT_EQ(log.other, 1u);
  EXPECT_EQ(log.unreadable, 9u);
}

}  // namespace
}  // namespace annc
