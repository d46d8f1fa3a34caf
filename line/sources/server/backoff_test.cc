#include "line/sources/server/backoff.h"

#include <gtest/gtest.h>

#include <vector>

namespace annc {
namespace {

TEST(BackoffTest, DoublesToAMinuteAndStartsAgain) {
  Backoff backoff;
  std::vector<Millis> waits;
  for (int i = 0; i < 9; ++i) waits.push_back(backoff.Next());
  EXPECT_EQ(waits, (std::vector<Millis>{1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000}));
  backoff.Reset();
  EXPECT_EQ(backoff.Next(), 1000);
}

}  // namespace
}  // namespace annc
