#include "voice/announcement.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "modem/serial_line.h"
#include "platform/fake_platform.h"
#include "platform/test_support.h"
#include "voice/wave_player.h"

namespace annc {
namespace {

class AnnounceCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SoundDir = "/voice/";
    SerialLine = -1;
  }
  // One cycle as a list of words (file names without ".wav"; the chime as
  // "|", the unknown-number recording as "?") and pauses ("250").
  std::string Cycle(std::string_view number) {
    fake.events.clear();
    AnnounceCall(number);
    return testing::SpokenWords(fake.events);
  }
  // The number part: what stands between the chime's pause and the closing chime.
  std::string Groups(std::string_view number) {
    std::string all = Cycle(number);
    std::string head = "| (250)";
    std::size_t from = all.find(head);
    std::size_t to = all.rfind(" | (450)");
    EXPECT_NE(from, std::string::npos);
    EXPECT_NE(to, std::string::npos);
    from += head.size();
    return from >= to ? "" : all.substr(from + 1, to - from - 1);
  }
  FakePlatform fake;
};

TEST_F(AnnounceCallTest, WholeCycleAtNineOhFive) {
  fake.time = LocalTime{2026, 12, 8, 9, 5, 0};
  EXPECT_EQ(Cycle("1234567"),
            "0 9 0 5 | (250) 100 20 3 (250) 40 5 (250) 60 7 (250) | (450)");
}

TEST_F(AnnounceCallTest, TheHourAndMinuteAreTwoDigitReadings) {
  fake.time = LocalTime{2026, 1, 1, 0, 0, 0};
  EXPECT_EQ(Cycle(""), "0 0 0 0 | (250) | (450)");
  fake.time = LocalTime{2026, 1, 1, 23, 59, 0};
  EXPECT_EQ(Cycle(""), "20 3 50 9 | (250) | (450)");
  fake.time = LocalTime{2026, 1, 1, 12, 10, 0};
  EXPECT_EQ(Cycle(""), "12 10 | (250) | (450)");
}

TEST_F(AnnounceCallTest, GroupsByLength) {
  EXPECT_EQ(Groups("5"), "0 5 (250)");
  EXPECT_EQ(Groups("12"), "12 (250)");
  EXPECT_EQ(Groups("123"), "100 20 3 (250)");
  EXPECT_EQ(Groups("1234"), "12 (250) 30 4 (250)");
  EXPECT_EQ(Groups("12345"), "100 20 3 (250) 40 5 (250)");
  EXPECT_EQ(Groups("123456"), "12 (250) 30 4 (250) 50 6 (250)");
  EXPECT_EQ(Groups("1234567"), "100 20 3 (250) 40 5 (250) 60 7 (250)");
  EXPECT_EQ(Groups("12345678"), "12 (250) 30 4 (250) 50 6 (250) 70 8 (250)");
}

TEST_F(AnnounceCallTest, LeadingZerosOfAGroup) {
  EXPECT_EQ(Groups("05"), "0 5 (250)");
  EXPECT_EQ(Groups("050"), "50 (250)");
  EXPECT_EQ(Groups("007"), "0 7 (250)");
  EXPECT_EQ(Groups("00"), "0 0 (250)");
  EXPECT_EQ(Groups("500"), "500 (250)");
}

TEST_F(AnnounceCallTest, UnknownNumbers) {
  EXPECT_EQ(Groups("Unknown"), "?");
  EXPECT_EQ(Groups(" Unknown\t"), "?");  // trimmed first
  EXPECT_EQ(Groups("12X45"), "?");
  EXPECT_EQ(Groups("12?45"), "?");
  EXPECT_EQ(Groups("X"), "?");
  // Other spellings are cut into groups that are not numbers: each zero zero.
  EXPECT_EQ(Groups("unknown"), "0 0 (250) 0 0 (250) 0 0 (250)");
  EXPECT_EQ(Groups("UNKNOWN"), "0 0 (250) 0 0 (250) 0 0 (250)");
  // 12x is not a number; 45 is.
  EXPECT_EQ(Groups("12x45"), "0 0 (250) 40 5 (250)");
}

TEST_F(AnnounceCallTest, OddGroups) {
  EXPECT_EQ(Groups(" 123 "), "100 20 3 (250)");
  fake.missingFiles = {"-5.wav"};
  EXPECT_EQ(Groups("12-5"), "12 (250) 0 beep (250)");
  EXPECT_EQ(Groups("x45"), "60 9 (250)");  // a hexadecimal group
  EXPECT_EQ(Groups(""), "");
  EXPECT_EQ(Groups(" \t "), "");
}

TEST_F(AnnounceCallTest, DrainsAfterNumbersButNotAfterChimesOrTheUnknownRecording) {
  SerialLine = 3;
  fake.time = LocalTime{2026, 1, 1, 9, 5, 0};
  std::string all = Cycle("1200");
  // After every number, the group 00 included: a read at once, the pause, and the wait for the read.
  std::string drain = "r (100) r";
  EXPECT_EQ(all, "0 9 " + drain + " 0 5 " + drain + " | (250) 12 " + drain + " (250) 0 0 " + drain +
                     " (250) | (450)");
  EXPECT_EQ(Cycle("X"), "0 9 " + drain + " 0 5 " + drain + " | (250) ? | (450)");
  EXPECT_EQ(Cycle("300"), "0 9 " + drain + " 0 5 " + drain + " | (250) 300 (250) | (450)");
  SerialLine = -1;
}

TEST_F(AnnounceCallTest, ANameRecordingStandsBetweenTheChimesPauseAndTheNumber) {
  fake.time = LocalTime{2026, 12, 8, 9, 5, 0};
  fake.events.clear();
  AnnounceCall("1234567", "/cache/names/ann.wav");
  EXPECT_EQ(testing::SpokenWords(fake.events),
            "0 9 0 5 | (250) ann (250) 100 20 3 (250) 40 5 (250) 60 7 (250) | (450)");
  // An unknown number with a name: the name, then the unknown-number recording.
  fake.events.clear();
  AnnounceCall("Unknown", "ann.wav");
  EXPECT_EQ(testing::SpokenWords(fake.events), "0 9 0 5 | (250) ann (250) ? | (450)");
}

TEST_F(AnnounceCallTest, TheModemIsDrainedAfterTheNameAsAfterANumber) {
  SerialLine = 3;
  fake.time = LocalTime{2026, 1, 1, 9, 5, 0};
  fake.events.clear();
  AnnounceCall("12", "ann.wav");
  std::string drain = "r (100) r";
  EXPECT_EQ(testing::SpokenWords(fake.events),
            "0 9 " + drain + " 0 5 " + drain + " | (250) ann " + drain + " (250) 12 " + drain + " (250) | (450)");
  // A result code during the name ends the call before the number.
  fake.events.clear();
  fake.ModemSends("RING\r");
  EXPECT_EQ(testing::ExitCodeOf([] { AnnounceCall("12", "ann.wav"); }), 99);
  SerialLine = -1;
}

TEST_F(AnnounceCallTest, ANameThatCannotBePlayedIsLeftOutWithoutABeep) {
  fake.time = LocalTime{2026, 12, 8, 9, 5, 0};
  const std::string without = Cycle("1234");
  struct Case {
    const char* what;
    std::set<std::string> missing;
    std::set<std::string> unplayable;
    const char* recording;
  };
  const Case cases[] = {
      {"missing", {"ann.wav"}, {}, "/cache/ann.wav"},
      {"unplayable", {}, {"ann.wav"}, "/cache/ann.wav"},
      {"empty path", {}, {}, ""},
  };
  for (const Case& c : cases) {
    fake.missingFiles = c.missing;
    fake.unplayableFiles = c.unplayable;
    fake.events.clear();
    AnnounceCall("1234", c.recording);
    EXPECT_EQ(testing::SpokenWords(fake.events), without) << c.what;
  }
  // Without a sound device every word beeps, the name alone stays silent.
  fake.missingFiles.clear();
  fake.unplayableFiles.clear();
  fake.deviceAvailable = false;
  fake.events.clear();
  AnnounceCall("12", "ann.wav");
  EXPECT_EQ(testing::SpokenWords(fake.events), "beep beep beep beep beep (250) beep (250) beep (450)");
}

}  // namespace
}  // namespace annc
