#include "web/auth/password.h"

#include <gtest/gtest.h>

namespace annc::web {
namespace {

TEST(PasswordTest, HashAndVerify) {
  ASSERT_TRUE(InitCrypto());
  std::string hash = HashPassword("correct horse");
  ASSERT_TRUE(IsPasswordHash(hash)) << hash;
  EXPECT_NE(HashPassword("correct horse"), hash);  // salted
  struct Case {
    std::string password;
    bool matches;
  } cases[] = {{"correct horse", true}, {"correct horse ", false}, {"Correct horse", false}, {"", false},
               {std::string("correct horse\0x", 15), false}};
  for (const Case& c : cases) EXPECT_EQ(VerifyPassword(hash, c.password), c.matches) << c.password;
}

TEST(PasswordTest, WhatIsNoHashMatchesNothing) {
  ASSERT_TRUE(InitCrypto());
  for (const char* line : {"", "correct horse", "$argon2i$v=19$m=4096,t=3,p=1$c2FsdA$aGFzaA", "$2y$10$abc"}) {
    EXPECT_FALSE(IsPasswordHash(line)) << line;
    EXPECT_FALSE(VerifyPassword(line, line)) << line;
    EXPECT_FALSE(VerifyPassword(line, "")) << line;
  }
}

TEST(PasswordTest, RandomHexAndSecrets) {
  ASSERT_TRUE(InitCrypto());
  std::string a = RandomHex(32), b = RandomHex(32);
  EXPECT_EQ(a.size(), 64u);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos) << a;
  EXPECT_NE(a, b);
  EXPECT_TRUE(SameSecret(a, a));
  struct Case {
    std::string other;
  } cases[] = {{b}, {a.substr(0, 63)}, {a + "0"}, {""}, {std::string(a).replace(63, 1, a[63] == '0' ? "1" : "0")}};
  for (const Case& c : cases) EXPECT_FALSE(SameSecret(a, c.other)) << c.other;
  EXPECT_FALSE(SameSecret("", ""));
}

}  // namespace
}  // namespace annc::web
