// The calls log read back for the call history, on arbitrary bytes in both
// kinds of locale: every call kept comes from a line of the input, with its
// time as the log wrote it, its text fields bounded and free of raw control
// characters; a line is a call, the log's own, unreadable, or blank.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "line/history/log_import.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// No C0 control, DEL, nor (in the locale's form) C1 control stands raw.
bool Clean(std::string_view text, annc::Charset charset) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 32 || c == 127) return false;
    if (charset == annc::Charset::kSingleByte && c >= 0x80 && c <= 0x9f) return false;
    if (charset == annc::Charset::kUtf8 && c == 0xc2 && i + 1 < text.size()) {
      unsigned char next = static_cast<unsigned char>(text[i + 1]);
      if (next >= 0x80 && next <= 0x9f) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("TZ", "UTC", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t lines = 0;
  for (char c : input) lines += c == '\n';
  ++lines;
  for (annc::Charset charset : {annc::Charset::kSingleByte, annc::Charset::kUtf8}) {
    annc::ImportedLog log = annc::ParseCallsLog(input, charset);
    if (log.records.size() != log.lines.size()) fuzz::Fail("a call without its line", input);
    if (log.records.size() + log.unreadable + log.other > lines) fuzz::Fail("more lines counted than given", input);
    for (std::size_t i = 0; i < log.records.size(); ++i) {
      const annc::CallRecord& r = log.records[i];
      if (!fuzz::Within(log.lines[i], input)) fuzz::Fail("a line that is not in the log", input);
      if (annc::ParseIsoTime(r.time) != r.startedAt) fuzz::Fail("a time that is not the one kept", input);
      for (const std::string* text : {&r.number, &r.name}) {
        if (text->size() > 4 * annc::kRecordTextBytes) fuzz::Fail("a text field beyond its bound", input);
        if (!Clean(*text, charset)) fuzz::Fail("a control character kept raw", input);
      }
      if (r.withheld != r.number.empty()) fuzz::Fail("withheld and the number disagree", input);
      if (r.decision != "announce" && r.decision != "block" && r.decision != "quiet") {
        fuzz::Fail("a decision of no kind", input);
      }
    }
  }
  return 0;
}
