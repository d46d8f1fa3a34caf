// SHA-256 (libmd's), for names of cache files that stand for a text
// without holding it, and that no one can make two texts share.
#ifndef ANNC_LINE_SHA256_H_
#define ANNC_LINE_SHA256_H_

#include <string>
#include <string_view>

namespace annc {

// The digest of `bytes` as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view bytes);

}  // namespace annc

#endif  // ANNC_LINE_SHA256_H_
