#include "line/names/sha256.h"

#include <sha2.h>

#include <cstdint>

namespace annc {

std::string Sha256Hex(std::string_view bytes) {
  char hex[SHA256_DIGEST_STRING_LENGTH];
  SHA256Data(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), hex);
  return std::string(hex, SHA256_DIGEST_STRING_LENGTH - 1);
}

}  // namespace annc
