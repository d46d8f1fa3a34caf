#include "web/auth/host_check.h"

#include <gtest/gtest.h>

namespace annc::web {
namespace {

TEST(HostCheckTest, Hosts) {
  HostCheck lan("192.168.1.5", 8080, {"annc.home", "Phone.LAN"});
  HostCheck any("0.0.0.0", 80, {});
  HostCheck v6("fd00::5", 8080, {});
  struct Case {
    const HostCheck* check;
    const char* host;
    bool allowed;
  } cases[] = {
      {&lan, "192.168.1.5:8080", true},
      {&lan, "192.168.1.5", true},
      {&lan, "localhost:8080", true},
      {&lan, "LOCALHOST:8080", true},
      {&lan, "127.0.0.1:8080", true},
      {&lan, "[::1]:8080", true},
      {&lan, "annc.home:8080", true},
      {&lan, "phone.lan", true},
      {&lan, "192.168.1.5:8081", false},
      {&lan, "attacker.example", false},
      {&lan, "attacker.example:8080", false},
      {&lan, "annc.home.attacker.example", false},
      {&lan, "", false},
      {&lan, ":8080", false},
      {&lan, "localhost:", false},
      {&lan, "localhost:80a", false},
      {&lan, "localhost:8080:8080", false},
      {&lan, "[::1", false},
      {&lan, "[::1]x", false},
      {&lan, "::1", false},
      {&any, "0.0.0.0", false},
      {&any, "localhost", true},
      {&v6, "[fd00::5]:8080", true},
      {&v6, "[FD00::5]", true},
      {&v6, "fd00::5", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.check->Allowed(c.host), c.allowed) << c.host;
}

TEST(HostCheckTest, Origins) {
  HostCheck check("127.0.0.1", 8080, {"annc.home"});
  struct Case {
    const char* origin;
    const char* host;
    bool same;
  } cases[] = {
      {"http://127.0.0.1:8080", "127.0.0.1:8080", true},
      {"http://annc.home:8080", "annc.home:8080", true},
      {"http://ANNC.home:8080", "annc.home:8080", true},
      {"http://attacker.example", "127.0.0.1:8080", false},
      {"https://127.0.0.1:8080", "127.0.0.1:8080", false},
      {"http://localhost:8080", "127.0.0.1:8080", false},
      {"null", "127.0.0.1:8080", false},
      {"http://attacker.example", "attacker.example", false},
  };
  for (const Case& c : cases) EXPECT_EQ(check.SameOrigin(c.origin, c.host), c.same) << c.origin << " " << c.host;
}

}  // namespace
}  // namespace annc::web
