#include "platform/samples.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace annc {
namespace {

TEST(ShortSampleOfTest, KeepsTheLevelAndClipsAtFullScale) {
  const struct {
    float in;
    short out;
  } cases[] = {
      {0.0f, 0},
      {0.5f, 16384},
      {-0.5f, -16384},
      {0.001f, 33},  // -60 dB stays -60 dB
      {-0.001f, -33},
      {1.0f / 32768, 1},
      {-1.0f, -32768},
      {32767.0f / 32768, 32767},
      {1.0f, 32767},  // full scale
      {1.5f, 32767},
      {-2.0f, -32768},
      {std::numeric_limits<float>::infinity(), 32767},
      {-std::numeric_limits<float>::infinity(), -32768},
      {std::nanf(""), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ShortSampleOf(c.in), c.out) << c.in;
}

TEST(ShortSampleOfTest, SixteenBitSamplesSavedAsFloatComeBackExactly) {
  for (int s = -32768; s <= 32767; s += 7) {
    ASSERT_EQ(ShortSampleOf(static_cast<float>(s) / 32768.0f), s);
  }
  const float quiet[] = {0.25f, -0.125f, 0.0f};
  short out[3];
  ShortSamplesOf(quiet, 3, out);
  EXPECT_EQ(out[0], 8192);
  EXPECT_EQ(out[1], -4096);
  EXPECT_EQ(out[2], 0);
}

}  // namespace
}  // namespace annc
