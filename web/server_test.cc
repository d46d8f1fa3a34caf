#include "web/server.h"

#include <gtest/gtest.h>

#include "web/auth/password.h"

namespace annc::web {
namespace {

std::string Header(const Response& response, const std::string& name) {
  for (const auto& [key, value] : response.headers) {
    if (key == name) return value;
  }
  return "";
}

// The session id a Set-Cookie header gives.
std::string CookieId(const Response& response) {
  std::string cookie = Header(response, "Set-Cookie");
  std::string prefix = std::string(kSessionCookie) + "=";
  if (cookie.rfind(prefix, 0) != 0) return "";
  return cookie.substr(prefix.size(), cookie.find(';') - prefix.size());
}

class ServerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InitCrypto());
    context_.sessions = &sessions_;
    context_.throttle = &throttle_;
    context_.now = [] { return std::int64_t{0}; };
    AddPages(routes_, context_);
  }
  WebServer::Incoming Get(const std::string& path, const std::string& cookie = "") {
    WebServer::Incoming in;
    in.method = "GET";
    in.path = path;
    in.host = "127.0.0.1:8080";
    in.cookie = cookie;
    in.clientAddress = "127.0.0.1";
    return in;
  }
  WebServer::Incoming Post(const std::string& path, const std::string& cookie, const std::string& body) {
    WebServer::Incoming in = Get(path, cookie);
    in.method = "POST";
    in.contentType = "application/x-www-form-urlencoded";
    in.origin = "http://127.0.0.1:8080";
    in.body = body;
    return in;
  }

  std::int64_t now_ = 0;
  SessionTable sessions_{[this] { return now_; }};
  LoginThrottle throttle_{[this] { return now_; }};
  WebContext context_;
  RouteTable routes_;
  WebServer server_{routes_, context_, HostCheck("127.0.0.1", 8080, {})};
};

TEST_F(ServerTest, ChecksBeforeEveryPage) {
  Session& mine = sessions_.Create();
  mine.loggedIn = true;
  Session& other = sessions_.Create();
  other.loggedIn = true;
  std::string good = "token=" + mine.token + "&number=5551234&label=x";
  struct Case {
    const char* what;
    WebServer::Incoming in;
    int status;
  } cases[] = {
      {"a foreign Host", [&] { auto in = Get("/style.css"); in.host = "attacker.example:8080"; return in; }(), 421},
      {"no Host", [&] { auto in = Get("/style.css"); in.host = ""; return in; }(), 421},
      {"an unknown path", Get("/../../etc/passwd"), 404},
      {"a path that is a file's name", Get("/style.css/../live.js"), 404},
      {"a page's other method", Get("/caller/block"), 405},
      {"the style sheet", Get("/style.css"), 200},
      {"POST without a session", Post("/caller/block", "", good), 403},
      {"POST with an unknown session", Post("/caller/block", std::string(64, 'a'), good), 403},
      {"POST without a token", Post("/caller/block", mine.id, "number=5551234"), 403},
      {"POST with another session's token", Post("/caller/block", mine.id, "token=" + other.token), 403},
      {"POST with the session's id as token", Post("/caller/block", mine.id, "token=" + mine.id), 403},
      {"POST from a foreign Origin",
       [&] { auto in = Post("/caller/block", mine.id, good); in.origin = "http://attacker.example"; return in; }(), 403},
      {"POST with Origin null",
       [&] { auto in = Post("/caller/block", mine.id, good); in.origin = "null"; return in; }(), 403},
      {"POST that is no form",
       [&] { auto in = Post("/caller/block", mine.id, good); in.contentType = "text/plain"; return in; }(), 415},
      {"POST with a malformed form", Post("/caller/block", mine.id, good + "&%zz"), 400},
      {"POST as it should be: not available yet", Post("/caller/block", mine.id, good), 501},
      {"POST without Origin", [&] { auto in = Post("/caller/name", mine.id, good); in.origin = ""; return in; }(), 501},
  };
  for (const Case& c : cases) {
    Response response = server_.Answer(c.in);
    EXPECT_EQ(response.status, c.status) << c.what;
  }
}

TEST_F(ServerTest, FirstVisitGetsASession) {
  Response first = server_.Answer(Get("/style.css"));
  std::string id = CookieId(first);
  ASSERT_EQ(id.size(), 64u) << Header(first, "Set-Cookie");
  std::string cookie = Header(first, "Set-Cookie");
  for (const char* part : {"HttpOnly", "SameSite=Strict", "Path=/"}) {
    EXPECT_NE(cookie.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(cookie.find("Secure"), std::string::npos);
  ASSERT_NE(sessions_.Find(id), nullptr);
  EXPECT_TRUE(sessions_.Find(id)->loggedIn);  // no login: every session may see the pages
  Response again = server_.Answer(Get("/style.css", id));
  EXPECT_EQ(Header(again, "Set-Cookie"), "");
}

TEST_F(ServerTest, Login) {
  context_.passwordHash = HashPassword("secret");
  ASSERT_FALSE(context_.passwordHash.empty());
  Response first = server_.Answer(Get("/"));
  EXPECT_EQ(first.status, 303);
  EXPECT_EQ(Header(first, "Location"), "/login");
  std::string id = CookieId(first);
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(server_.Answer(Get("/caller", id)).status, 303);
  EXPECT_EQ(server_.Answer(Get("/login", id)).status, 200);
  std::string token = sessions_.Find(id)->token;
  EXPECT_EQ(server_.Answer(Post("/caller/block", id, "token=" + token)).status, 403);

  EXPECT_EQ(server_.Answer(Post("/login", id, "token=" + token + "&password=wrong")).status, 401);
  EXPECT_EQ(server_.Answer(Post("/login", id, "password=secret")).status, 403);
  Response in = server_.Answer(Post("/login", id, "token=" + token + "&password=secret"));
  EXPECT_EQ(in.status, 303);
  std::string loggedIn = CookieId(in);
  ASSERT_FALSE(loggedIn.empty());
  EXPECT_NE(loggedIn, id);
  EXPECT_EQ(sessions_.Find(id), nullptr);  // the id from before the login is of no use
  ASSERT_NE(sessions_.Find(loggedIn), nullptr);
  EXPECT_TRUE(sessions_.Find(loggedIn)->loggedIn);
  std::string newToken = sessions_.Find(loggedIn)->token;
  EXPECT_EQ(server_.Answer(Post("/caller/block", loggedIn, "token=" + newToken)).status, 501);

  Response out = server_.Answer(Post("/logout", loggedIn, "token=" + newToken));
  EXPECT_EQ(out.status, 303);
  EXPECT_EQ(sessions_.Find(loggedIn), nullptr);
}

TEST_F(ServerTest, FailedLoginsThrottled) {
  context_.passwordHash = HashPassword("secret");
  std::string id = CookieId(server_.Answer(Get("/login")));
  std::string token = sessions_.Find(id)->token;
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(server_.Answer(Post("/login", id, "token=" + token + "&password=no")).status, 401) << i;
  }
  // Locked: even the right password waits.
  Response locked = server_.Answer(Post("/login", id, "token=" + token + "&password=secret"));
  EXPECT_EQ(locked.status, 429);
  EXPECT_EQ(Header(locked, "Retry-After"), "60");
  now_ += 60;
  EXPECT_EQ(server_.Answer(Post("/login", id, "token=" + token + "&password=secret")).status, 303);
}

}  // namespace
}  // namespace annc::web
