#include "voice/number_speaker.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "modem/serial_line.h"
#include "platform/fake_platform.h"
#include "platform/test_support.h"
#include "voice/wave_player.h"

namespace annc {
namespace {

class SayNumberTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SoundDir = "/voice/";
    SerialLine = -1;
  }
  // The words played for n, as the numbers of their files.
  std::string Words(std::int32_t n) {
    fake.events.clear();
    SayNumber(n);
    std::string words = testing::SpokenWords(fake.events);
    std::replace(words.begin(), words.end(), ' ', ',');
    return words;
  }
  FakePlatform fake;
};

TEST_F(SayNumberTest, EveryRowOfTheTable) {
  EXPECT_EQ(Words(0), "0,0");
  EXPECT_EQ(Words(5), "0,5");
  EXPECT_EQ(Words(10), "10");
  EXPECT_EQ(Words(15), "15");
  EXPECT_EQ(Words(19), "19");
  EXPECT_EQ(Words(20), "20");
  EXPECT_EQ(Words(21), "20,1");
  EXPECT_EQ(Words(99), "90,9");
  EXPECT_EQ(Words(100), "100");
  EXPECT_EQ(Words(105), "100,5");
  EXPECT_EQ(Words(110), "100,10");
  EXPECT_EQ(Words(115), "100,15");
  EXPECT_EQ(Words(120), "100,20");
  EXPECT_EQ(Words(123), "100,20,3");
  EXPECT_EQ(Words(200), "200");
  EXPECT_EQ(Words(999), "900,90,9");
  EXPECT_EQ(Words(1234), "1200,30,4");
  EXPECT_EQ(Words(1000), "1000");
}

TEST_F(SayNumberTest, NegativeValuesGiveNegativeWords) {
  fake.missingFiles = {"-5.wav", "-10.wav"};
  EXPECT_EQ(Words(-5), "0,beep");
  EXPECT_EQ(Words(-15), "beep,beep");
  fake.missingFiles.clear();
  EXPECT_EQ(Words(-15), "-10,-5");
  EXPECT_EQ(Words(-10), "-10");  // -10 div 10 is -1, not 1: spoken as a ten
  EXPECT_EQ(Words(INT32_MIN), "-2147483640,-8");
}

TEST_F(SayNumberTest, MissingOrUnplayableWordsBeepAndTheRestPlays) {
  fake.missingFiles = {"7.wav"};
  fake.unplayableFiles = {"100.wav"};
  EXPECT_EQ(Words(177), "beep,70,beep");
  EXPECT_EQ(Words(27), "20,beep");
}

TEST_F(SayNumberTest, NoDeviceBeepsOncePerWord) {
  fake.deviceAvailable = false;
  EXPECT_EQ(Words(123), "beep,beep,beep");
  EXPECT_EQ(Words(0), "beep,beep");
}

TEST_F(SayNumberTest, DrainsTheModemExceptAfterAnExactHundred) {
  SerialLine = 5;
  auto reads = [&](std::int32_t n) {
    Words(n);
    int count = 0;
    for (auto& e : fake.events) count += e.kind == FakeEvent::kRead;
    return count;
  };
  EXPECT_GT(reads(5), 0);
  EXPECT_GT(reads(105), 0);
  EXPECT_GT(reads(1234), 0);
  for (int h = 100; h <= 900; h += 100) EXPECT_EQ(reads(h), 0) << h;
  SerialLine = -1;
  EXPECT_EQ(reads(5), 0);
}

}  // namespace
}  // namespace annc
