// The text annc-name hands eSpeak NG, from arbitrary bytes (a caller's name
// as the network sent it): well-formed UTF-8 without control characters, no
// longer than what came, a well-formed text without controls kept as it
// is, and cleaning it again changes nothing.
#include <cstdint>
#include <string>
#include <string_view>

#include "speech/annc_name.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view raw(reinterpret_cast<const char*>(data), size);
  std::string plain = annc::PlainSpeechText(raw);
  if (!fuzz::WellFormedUtf8(plain)) fuzz::Fail("not well-formed UTF-8", plain);
  if (fuzz::HasControl(plain, false)) fuzz::Fail("a control character left", plain);
  if (plain.size() > raw.size()) fuzz::Fail("longer than what came", plain);
  if (fuzz::WellFormedUtf8(raw) && !fuzz::HasControl(raw, false) && plain != raw) fuzz::Fail("clean text changed", plain);
  if (annc::PlainSpeechText(plain) != plain) fuzz::Fail("cleaning it again changes it", plain);
  return 0;
}
