// What the fuzz targets share: reporting a broken check with the input that
// broke it.
#ifndef ANNC_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define ANNC_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace fuzz {

// Prints what failed and the input (bytes outside printable ASCII as \xNN),
// then aborts, so that libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "%s: input of %zu bytes \"", what, text.size());
  for (unsigned char c : text) std::fprintf(stderr, c >= 32 && c < 127 ? "%c" : "\\x%02x", c);
  std::fprintf(stderr, "\"\n");
  std::abort();
}

inline bool Within(std::string_view part, std::string_view whole) { return whole.find(part) != std::string_view::npos; }

}  // namespace fuzz

#endif  // ANNC_TESTS_FUZZ_FUZZ_SUPPORT_H_
