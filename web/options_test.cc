#include "web/options.h"

#include <gtest/gtest.h>

namespace annc::web {
namespace {

TEST(WebOptionsTest, Table) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
    std::string host;
    int port;
    const char* error;  // a part of the error line
  } cases[] = {
      {{}, true, "127.0.0.1", 8080, ""},
      {{"--listen", "127.0.0.2:9000"}, true, "127.0.0.2", 9000, ""},
      {{"--listen=[::1]:8081"}, true, "::1", 8081, ""},
      {{"--listen", "0.0.0.0:8080"}, false, "", 0, "needs --password-file"},
      {{"--listen", "[::]:8080"}, false, "", 0, "needs --password-file"},
      {{"--listen", "192.168.1.5:80", "--password-file", "p"}, true, "192.168.1.5", 80, ""},
      {{"--listen", "localhost:8080"}, false, "", 0, "not a numeric ADDRESS:PORT"},
      {{"--listen", "127.0.0.1"}, false, "", 0, "not a numeric ADDRESS:PORT"},
      {{"--listen", "127.0.0.1:0"}, false, "", 0, "not a numeric ADDRESS:PORT"},
      {{"--listen", "127.0.0.1:65536"}, false, "", 0, "not a numeric ADDRESS:PORT"},
      {{"--listen", "127.0.0.1:80x"}, false, "", 0, "not a numeric ADDRESS:PORT"},
      {{"--listen", "::1:8080"}, false, "", 0, "not a numeric ADDRESS:PORT"},
      {{"--listen", "[::1]8080"}, false, "", 0, "not a numeric ADDRESS:PORT"},
      {{"--listen"}, false, "", 0, "--listen needs a value"},
      {{"--history", ""}, false, "", 0, "not empty"},
      {{"--frobnicate"}, false, "", 0, "unknown option --frobnicate"},
      {{"--help=yes"}, false, "", 0, "takes no value"},
      {{"--host-name", "evil/../x"}, false, "", 0, "not a host name"},
      {{"--host-name", "a:b"}, false, "", 0, "not a host name"},
  };
  for (const Case& c : cases) {
    WebOptions options;
    std::string error;
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    EXPECT_EQ(ParseWebOptions(c.args, &options, &error), c.ok) << shown << error;
    if (c.ok) {
      EXPECT_EQ(options.listenHost, c.host) << shown;
      EXPECT_EQ(options.port, c.port) << shown;
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << shown << ": " << error;
      EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
  }
}

TEST(WebOptionsTest, ValuesAndActions) {
  WebOptions options;
  std::string error;
  ASSERT_TRUE(ParseWebOptions({"--history", "h.db", "--block", "b1", "--block=b2", "--allow", "a1", "--book", "aon.db",
                               "--host-name", "annc.home", "--host-name", "phone", "--password-file", "pw"},
                              &options, &error))
      << error;
  EXPECT_EQ(options.action, WebOptions::kServe);
  EXPECT_EQ(options.history, "h.db");
  EXPECT_EQ(options.block, (std::vector<std::string>{"b1", "b2"}));
  EXPECT_EQ(options.allow, std::vector<std::string>{"a1"});
  EXPECT_EQ(options.book, "aon.db");
  EXPECT_EQ(options.hostNames, (std::vector<std::string>{"annc.home", "phone"}));
  EXPECT_EQ(options.passwordFile, "pw");
  struct Case {
    std::vector<std::string> args;
    WebOptions::Action action;
  } cases[] = {{{"--help"}, WebOptions::kHelp},
               {{"--version"}, WebOptions::kVersion},
               {{"--hash-password"}, WebOptions::kHashPassword},
               {{"--listen", "0.0.0.0:1", "--help"}, WebOptions::kHelp}};
  for (const Case& c : cases) {
    WebOptions parsed;
    EXPECT_TRUE(ParseWebOptions(c.args, &parsed, &error)) << c.args[0] << error;
    EXPECT_EQ(parsed.action, c.action) << c.args[0];
  }
}

TEST(WebOptionsTest, Loopback) {
  for (const char* a : {"127.0.0.1", "127.255.0.9", "::1"}) EXPECT_TRUE(IsLoopbackAddress(a)) << a;
  for (const char* a : {"0.0.0.0", "::", "192.168.1.1", "128.0.0.1", "::ffff:127.0.0.1x", "localhost", ""}) {
    EXPECT_FALSE(IsLoopbackAddress(a)) << a;
  }
}

}  // namespace
}  // namespace annc::web
