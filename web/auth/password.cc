#include "web/auth/password.h"

#include <sodium.h>

#include <vector>

namespace annc::web {

bool InitCrypto() { return sodium_init() >= 0; }

std::string HashPassword(const std::string& password) {
  char hash[crypto_pwhash_STRBYTES];
  // Argon2id with the interactive limits: about 64 MiB and a fraction of a
  // second per login, which the login throttle keeps rare.
  if (crypto_pwhash_str_alg(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                            crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0) {
    return "";
  }
  return hash;
}

bool IsPasswordHash(const std::string& line) {
  return line.size() < crypto_pwhash_STRBYTES && line.rfind("$argon2id$", 0) == 0;
}

bool VerifyPassword(const std::string& hash, const std::string& password) {
  if (!IsPasswordHash(hash)) return false;
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::string RandomHex(std::size_t bytes) {
  std::vector<unsigned char> raw(bytes);
  randombytes_buf(raw.data(), raw.size());
  std::string hex(bytes * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), raw.data(), raw.size());
  hex.pop_back();
  sodium_memzero(raw.data(), raw.size());
  return hex;
}

bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return false;
  return sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace annc::web
