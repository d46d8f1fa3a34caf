#include "web/auth/sessions.h"

#include <gtest/gtest.h>

#include "web/auth/password.h"

namespace annc::web {
namespace {

class SessionsTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(InitCrypto()); }
  std::int64_t now_ = 1000;
  SecondsClock clock_ = [this] { return now_; };
};

TEST_F(SessionsTest, FindsWhatItMade) {
  SessionTable table(clock_);
  std::string id = table.Create().id;
  std::string token = table.Find(id)->token;
  EXPECT_EQ(id.size(), 64u);
  EXPECT_EQ(token.size(), 64u);
  EXPECT_NE(id, token);
  for (const std::string& other : {std::string(), std::string("x"), token, std::string(64, '0'), id.substr(1)}) {
    EXPECT_EQ(table.Find(other), nullptr) << other;
  }
  table.Remove(id);
  EXPECT_EQ(table.Find(id), nullptr);
}

TEST_F(SessionsTest, Expiry) {
  struct Case {
    const char* what;
    std::vector<std::int64_t> uses;  // seconds after creation the session is looked up
    bool alive;
  } cases[] = {
      {"used within the idle time", {99}, true},
      {"idle too long", {100}, false},
      {"kept alive by use", {90, 180, 270}, true},
      {"too old however used", {90, 180, 270, 360, 450, 540}, false},
  };
  for (const Case& c : cases) {
    now_ = 1000;
    SessionTable table(clock_, 16, /*idleSeconds=*/100, /*maxAgeSeconds=*/500);
    std::string id = table.Create().id;
    bool alive = true;
    for (std::int64_t use : c.uses) {
      now_ = 1000 + use;
      alive = table.Find(id) != nullptr;
    }
    EXPECT_EQ(alive, c.alive) << c.what;
  }
}

TEST_F(SessionsTest, BoundedAndLoggedInSessionsKept) {
  SessionTable table(clock_, 3);
  Session& first = table.Create();
  first.loggedIn = true;
  std::string kept = first.id;
  std::vector<std::string> visitors;
  for (int i = 0; i < 10; ++i) {
    ++now_;
    visitors.push_back(table.Create().id);
  }
  EXPECT_EQ(table.size(), 3u);
  EXPECT_NE(table.Find(kept), nullptr);
  EXPECT_EQ(table.Find(visitors[0]), nullptr);
  EXPECT_NE(table.Find(visitors[9]), nullptr);
}

TEST_F(SessionsTest, Tokens) {
  SessionTable table(clock_);
  Session& a = table.Create();
  Session& b = table.Create();
  EXPECT_TRUE(TokenMatches(a, a.token));
  EXPECT_FALSE(TokenMatches(a, b.token));
  EXPECT_FALSE(TokenMatches(a, ""));
  EXPECT_FALSE(TokenMatches(a, a.id));
}

}  // namespace
}  // namespace annc::web
