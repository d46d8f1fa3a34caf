#include "web/auth/login_throttle.h"

#include <gtest/gtest.h>

namespace annc::web {
namespace {

TEST(LoginThrottleTest, Timing) {
  // Each step: seconds since the start, what happens ('f' a failure, 's' a
  // success, '?' a look), and the wait RetryAfter then says.
  struct Step {
    std::int64_t at;
    char event;
    std::int64_t wait;
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;
  } cases[] = {
      {"five failures are free", {{0, 'f', 0}, {1, 'f', 0}, {2, 'f', 0}, {3, 'f', 0}, {4, '?', 0}}},
      {"the fifth locks for a minute", {{0, 'f', 0}, {0, 'f', 0}, {0, 'f', 0}, {0, 'f', 0}, {10, 'f', 60},
                                        {11, '?', 59}, {69, '?', 1}, {70, '?', 0}}},
      {"after the lock the count starts again",
       {{0, 'f', 0}, {0, 'f', 0}, {0, 'f', 0}, {0, 'f', 0}, {0, 'f', 60}, {60, '?', 0}, {61, 'f', 0}}},
      {"a failure during the lock extends it",
       {{0, 'f', 0}, {0, 'f', 0}, {0, 'f', 0}, {0, 'f', 0}, {0, 'f', 60}, {30, 'f', 60}, {89, '?', 1}}},
      {"a success clears the count", {{0, 'f', 0}, {0, 'f', 0}, {0, 'f', 0}, {0, 'f', 0}, {1, 's', 0}, {2, 'f', 0}}},
      {"failures spread over more than a minute are free",
       {{0, 'f', 0}, {60, 'f', 0}, {120, 'f', 0}, {180, 'f', 0}, {240, 'f', 0}, {300, 'f', 0}}},
  };
  for (const Case& c : cases) {
    std::int64_t now = 5000;
    LoginThrottle throttle([&now] { return now; });
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const Step& step = c.steps[i];
      now = 5000 + step.at;
      if (step.event == 'f') throttle.Failed("192.0.2.1");
      if (step.event == 's') throttle.Succeeded("192.0.2.1");
      EXPECT_EQ(throttle.RetryAfter("192.0.2.1"), step.wait) << c.what << ", step " << i;
      EXPECT_EQ(throttle.RetryAfter("192.0.2.2"), 0) << c.what << ", step " << i;
    }
  }
}

TEST(LoginThrottleTest, BoundedTable) {
  std::int64_t now = 0;
  LoginThrottle throttle([&now] { return now; }, /*freeFailures=*/1, /*lockSeconds=*/1000, /*maxAddresses=*/4);
  for (int i = 0; i < 10; ++i) {
    ++now;
    throttle.Failed("10.0.0." + std::to_string(i));
    EXPECT_LE(throttle.size(), 4u);
  }
  // The addresses that failed longest ago made room for the newest.
  EXPECT_EQ(throttle.RetryAfter("10.0.0.0"), 0);
  EXPECT_EQ(throttle.RetryAfter("10.0.0.5"), 0);
  for (int i = 6; i < 10; ++i) EXPECT_GT(throttle.RetryAfter("10.0.0." + std::to_string(i)), 0) << i;
}

}  // namespace
}  // namespace annc::web
