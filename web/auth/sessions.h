// The sessions annc-web gives browsers: a random id in a cookie, and a
// random token bound to it that every POST form carries.
#ifndef ANNC_WEB_AUTH_SESSIONS_H_
#define ANNC_WEB_AUTH_SESSIONS_H_

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace annc::web {

// Seconds on a clock that only goes forward; injected for the tests.
using SecondsClock = std::function<std::int64_t()>;
SecondsClock SteadySeconds();

struct Session {
  std::string id;     // the cookie's value: 32 random bytes, hex
  std::string token;  // the forms' token: 32 random bytes, hex
  bool loggedIn = false;
  std::int64_t lastUsed = 0;
  // A line for the next page this session is shown (the outcome of a
  // change, after its redirect); shown once, as text.
  std::string notice;
};

class SessionTable {
 public:
  // At most `maxSessions`, each forgotten `idleSeconds` after its last use
  // (and every session `maxAgeSeconds` after it began).
  SessionTable(SecondsClock clock, std::size_t maxSessions = 256, std::int64_t idleSeconds = 12 * 3600,
               std::int64_t maxAgeSeconds = 7 * 24 * 3600);

  // A new session; when the table is full the one used longest ago goes,
  // sessions not logged in first.
  Session& Create();
  // The session whose id is `id`, null when there is none or it expired.
  // Finding it counts as using it.
  Session* Find(const std::string& id);
  // Forgets the session (logging out).
  void Remove(const std::string& id);
  std::size_t size() const { return sessions_.size(); }

 private:
  struct Entry {
    Session session;
    std::int64_t created;
  };
  void Expire(std::int64_t now);
  // Sessions are looked up by a hash of the id, so that the lookup's time
  // tells nothing of the ids held.
  static std::string Key(const std::string& id);

  SecondsClock clock_;
  std::size_t maxSessions_;
  std::int64_t idleSeconds_;
  std::int64_t maxAgeSeconds_;
  std::map<std::string, Entry> sessions_;
};

// Whether the form's `given` token is the session's.
bool TokenMatches(const Session& session, const std::string& given);

}  // namespace annc::web

#endif  // ANNC_WEB_AUTH_SESSIONS_H_
