// annc-web's pages, each one entry of the route table.
#ifndef ANNC_WEB_PAGES_H_
#define ANNC_WEB_PAGES_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "book/phone_book_text.h"
#include "web/auth/login_throttle.h"
#include "web/auth/sessions.h"
#include "web/history/history_reader.h"
#include "web/html/page_frame.h"
#include "web/http.h"

namespace annc::web {

// What the pages work with; owned by the program, alive while it serves.
struct WebContext {
  HistoryReader* history = nullptr;
  SessionTable* sessions = nullptr;
  LoginThrottle* throttle = nullptr;
  // The password's hash line; "" when the login is off.
  std::string passwordHash;
  // The phone book (null without --book) and the lists' files, for the
  // pages that show and edit them.
  const PhoneBookText* book = nullptr;
  std::string bookFile;
  std::vector<std::string> blockFiles;
  std::vector<std::string> allowFiles;
  // The time of day, epoch seconds; injected for the tests.
  std::function<std::int64_t()> now;
};

// The frame's context for a request to the page at `path`.
FrameContext FrameFor(const Request& request, const std::string& path);

// Adds every page of the program to `routes`.
void AddPages(RouteTable& routes, WebContext& context);

// The session cookie's name.
constexpr char kSessionCookie[] = "annc_session";
// The Set-Cookie header's value for a session.
std::string SessionCookie(const Session& session);

}  // namespace annc::web

#endif  // ANNC_WEB_PAGES_H_
