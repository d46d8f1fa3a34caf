#include "line/calls/call_record.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace annc {
namespace {

// Sets the time zone for one test and puts the old one back.
class TimeZone {
 public:
  explicit TimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~TimeZone() {
    if (had_) {
      ::setenv("TZ", old_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

TEST(RecordTextTest, CutCleanedAndKeptWhole) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"Ann Lee", "Ann Lee"},
      {"\x1b[2JX\"'", "^[[2JX\"'"},
      {"a\r\nb", "a^M^Jb"},
      {"\xc2\x9b" "2J", "M-^[2J"},
      {std::string(300, 'x'), std::string(256, 'x')},
      // A two-byte character across the cut is left out whole.
      {std::string(255, 'x') + "\xc3\xa9" + "z", std::string(255, 'x')},
      // One that ends at the cut stays.
      {std::string(254, 'x') + "\xc3\xa9" + "z", std::string(254, 'x') + "\xc3\xa9"},
      // Bytes that are no UTF-8 are cut where the count says.
      {std::string(255, 'x') + "\xa9\xa9", std::string(255, 'x') + "\xa9"},
  };
  for (const Case& c : cases) EXPECT_EQ(RecordText(c.in, Charset::kUtf8), c.out) << c.in;
}

TEST(IsoTimeTest, LocalTimeWithItsOffsetAndBack) {
  struct Case {
    const char* zone;
    std::time_t when;
    const char* text;
  } cases[] = {
      {"UTC", 0, "1970-01-01T00:00:00+00:00"},
      {"Asia/Kolkata", 1765295045, "2025-12-09T21:14:05+05:30"},
      {"America/St_Johns", 1765295045, "2025-12-09T12:14:05-03:30"},
      {"Europe/Berlin", 1751371200, "2025-07-01T14:00:00+02:00"},
  };
  for (const Case& c : cases) {
    TimeZone zone(c.zone);
    EXPECT_EQ(IsoLocalTime(c.when), c.text) << c.zone;
    EXPECT_EQ(ParseIsoTime(c.text), std::optional<std::int64_t>(c.when)) << c.text;
  }
}

TEST(IsoTimeTest, OtherTextIsNoTime) {
  for (const char* text : {"", "2025-12-09T21:14:05", "2025-12-09 21:14:05+05:30", "2025-13-09T21:14:05+05:30",
                           "2025-12-09T25:14:05+05:30", "2025-12-09T21:14:05+05:60", "2025-12-09T21:14:05Z00:00",
                           "2025-12-0xT21:14:05+05:30"}) {
    EXPECT_FALSE(ParseIsoTime(text).has_value()) << text;
  }
}

TEST(RecordFieldsTest, TheEndsFieldsOnlyOnceEnded) {
  CallRecord r;
  r.id = 7;
  r.time = "2026-12-09T21:14:05+05:30";
  r.number = "5551234";
  r.hungUp = true;
  r.rings = 2;
  auto atCall = RecordFields(r, false);
  ASSERT_EQ(atCall.size(), 16u);
  EXPECT_EQ(atCall[0], (std::pair<std::string, std::string>{"id", "7"}));
  EXPECT_EQ(atCall[5], (std::pair<std::string, std::string>{"number", "5551234"}));
  EXPECT_EQ(atCall[6], (std::pair<std::string, std::string>{"withheld", "no"}));
  EXPECT_EQ(atCall[12], (std::pair<std::string, std::string>{"hung_up", "yes"}));
  EXPECT_EQ(atCall[13], (std::pair<std::string, std::string>{"rings", "2"}));
  r.ended = "2026-12-09T21:14:35+05:30";
  r.duration = 30;
  auto atEnd = RecordFields(r, true);
  ASSERT_EQ(atEnd.size(), 19u);
  EXPECT_EQ(atEnd[2], (std::pair<std::string, std::string>{"ended", "2026-12-09T21:14:35+05:30"}));
  EXPECT_EQ(atEnd[17], (std::pair<std::string, std::string>{"answered", "unknown"}));
  EXPECT_EQ(atEnd[18], (std::pair<std::string, std::string>{"duration", "30"}));
  r.answered = false;
  EXPECT_EQ(RecordFields(r, true)[17].second, "no");
}

}  // namespace
}  // namespace annc
