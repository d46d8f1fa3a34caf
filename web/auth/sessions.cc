#include "web/auth/sessions.h"

#include <sodium.h>

#include <chrono>
#include <utility>

#include "web/auth/password.h"

namespace annc::web {

SecondsClock SteadySeconds() {
  return [] {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
}

SessionTable::SessionTable(SecondsClock clock, std::size_t maxSessions, std::int64_t idleSeconds,
                           std::int64_t maxAgeSeconds)
    : clock_(std::move(clock)), maxSessions_(maxSessions), idleSeconds_(idleSeconds), maxAgeSeconds_(maxAgeSeconds) {}

std::string SessionTable::Key(const std::string& id) {
  unsigned char hash[crypto_generichash_BYTES];
  crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(id.data()), id.size(), nullptr, 0);
  return std::string(reinterpret_cast<const char*>(hash), sizeof hash);
}

void SessionTable::Expire(std::int64_t now) {
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    bool idle = now - it->second.session.lastUsed >= idleSeconds_;
    bool old = now - it->second.created >= maxAgeSeconds_;
    it = idle || old ? sessions_.erase(it) : std::next(it);
  }
}

Session& SessionTable::Create() {
  std::int64_t now = clock_();
  Expire(now);
  // Full: the session used longest ago goes, one not logged in before any
  // logged in, so that a flood of new visitors cannot log the user out.
  while (!sessions_.empty() && sessions_.size() >= maxSessions_) {
    auto oldest = sessions_.begin();
    auto older = [](const Session& a, const Session& b) {
      if (a.loggedIn != b.loggedIn) return !a.loggedIn;
      return a.lastUsed < b.lastUsed;
    };
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
      if (older(it->second.session, oldest->second.session)) oldest = it;
    }
    sessions_.erase(oldest);
  }
  Session session;
  session.id = RandomHex(32);
  session.token = RandomHex(32);
  session.lastUsed = now;
  std::string key = Key(session.id);
  Entry& entry = sessions_[key];
  entry = Entry{std::move(session), now};
  return entry.session;
}

Session* SessionTable::Find(const std::string& id) {
  std::int64_t now = clock_();
  Expire(now);
  if (id.size() != 64) return nullptr;
  auto it = sessions_.find(Key(id));
  if (it == sessions_.end()) return nullptr;
  it->second.session.lastUsed = now;
  return &it->second.session;
}

void SessionTable::Remove(const std::string& id) { sessions_.erase(Key(id)); }

bool TokenMatches(const Session& session, const std::string& given) { return SameSecret(session.token, given); }

}  // namespace annc::web
