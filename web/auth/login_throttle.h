// Failed logins counted per client address: after a few in a row, further
// attempts from that address are turned away for a while.
#ifndef ANNC_WEB_AUTH_LOGIN_THROTTLE_H_
#define ANNC_WEB_AUTH_LOGIN_THROTTLE_H_

#include <cstdint>
#include <map>
#include <string>

#include "web/auth/sessions.h"

namespace annc::web {

class LoginThrottle {
 public:
  // After `freeFailures` failures in a row from one address, each further
  // attempt within `lockSeconds` of the last failure is refused. At most
  // `maxAddresses` are remembered: past that the stalest goes.
  LoginThrottle(SecondsClock clock, int freeFailures = 5, std::int64_t lockSeconds = 60,
                std::size_t maxAddresses = 1024);

  // 0 when `address` may try now, else the seconds to wait.
  std::int64_t RetryAfter(const std::string& address);
  void Failed(const std::string& address);
  void Succeeded(const std::string& address);
  std::size_t size() const { return failures_.size(); }

 private:
  struct Record {
    int count = 0;
    std::int64_t last = 0;
  };
  SecondsClock clock_;
  int freeFailures_;
  std::int64_t lockSeconds_;
  std::size_t maxAddresses_;
  std::map<std::string, Record> failures_;
};

}  // namespace annc::web

#endif  // ANNC_WEB_AUTH_LOGIN_THROTTLE_H_
