// The name cleaning on arbitrary bytes: what reaches the synthesizer is
// well-formed UTF-8 of at most 64 characters, without control characters,
// brackets or blanks at its ends, and cleaning it again changes nothing.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "line/names/caller_name.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Fail;

// The number of characters, or -1 when the text is not well-formed UTF-8
// free of control characters.
long CleanCharacters(std::string_view s) {
  long count = 0;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    std::size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return -1;
    if (n == 1 && (b < 0x20 || b == 0x7F || b == '[' || b == ']' || b == '<' || b == '>')) return -1;
    if (n == 2 && b == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0) return -1;  // C1 controls
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return -1;
    }
    i += n;
    ++count;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view raw(reinterpret_cast<const char*>(data), size);
  std::string spoken = annc::SpeakableName(raw);
  long characters = CleanCharacters(spoken);
  if (characters < 0) Fail("not clean", raw);
  if (characters > static_cast<long>(annc::kMaxSpokenNameCharacters)) Fail("too long", raw);
  if (!spoken.empty() && (spoken.front() == ' ' || spoken.back() == ' ')) Fail("blank at an end", raw);
  if (spoken.find("  ") != std::string::npos) Fail("two blanks", raw);
  if (annc::SpeakableName(spoken) != spoken) Fail("cleaning twice changes it", raw);
  auto chosen = annc::ChooseCallerName(std::nullopt, raw);
  if (chosen && (chosen->empty() || annc::IsPlaceholderName(*chosen))) Fail("a placeholder chosen", raw);
  return 0;
}
