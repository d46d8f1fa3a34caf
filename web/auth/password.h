// The login's password, kept only as libsodium's Argon2id hash string.
#ifndef ANNC_WEB_AUTH_PASSWORD_H_
#define ANNC_WEB_AUTH_PASSWORD_H_

#include <string>

namespace annc::web {

// Must run once before anything below (libsodium's sodium_init); false when
// libsodium cannot work.
bool InitCrypto();

// The hash string of `password` ($argon2id$...), "" when hashing failed
// (out of memory).
std::string HashPassword(const std::string& password);
// Whether `password` is the one `hash` was made from. A hash that is no
// Argon2id hash string matches nothing.
bool VerifyPassword(const std::string& hash, const std::string& password);
// Whether `line` looks like what HashPassword makes.
bool IsPasswordHash(const std::string& line);

// `bytes` random bytes from libsodium, as lower-case hex.
std::string RandomHex(std::size_t bytes);
// Compares two secrets in a time that does not depend on where they differ.
bool SameSecret(const std::string& a, const std::string& b);

}  // namespace annc::web

#endif  // ANNC_WEB_AUTH_PASSWORD_H_
