// The cleaning of text for a terminal on arbitrary bytes, under a locale that
// is not UTF-8 and under a UTF-8 one: no C0 control byte, DEL or C1 control
// of that locale may come out raw, whatever the input; the title text is the
// input with bytes left out only; and caret notation a piece at a time (the
// pieces cut where the input's first bytes say) is the whole text's.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/terminal_text.h"

#include "tests/fuzz/fuzz_support.h"

namespace {

using annc::Charset;
using fuzz::Fail;

constexpr std::string_view kEchoKeeps = "\r\n\t\b";

// The first raw control of `charset` in `text` outside `keep`, or npos.
std::size_t RawControl(std::string_view text, Charset charset, std::string_view keep) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char u = static_cast<unsigned char>(text[i]);
    if ((u < 0x20 || u == 0x7f) && keep.find(text[i]) == std::string_view::npos) return i;
    if (charset == Charset::kSingleByte && u >= 0x80 && u <= 0x9f) return i;
    if (charset == Charset::kUtf8 && u == 0xc2 && i + 1 < text.size()) {
      unsigned char next = static_cast<unsigned char>(text[i + 1]);
      if (next >= 0x80 && next <= 0x9f) return i;
    }
  }
  return std::string_view::npos;
}

bool IsSubsequence(std::string_view part, std::string_view whole) {
  std::size_t at = 0;
  for (char c : part) {
    while (at < whole.size() && whole[at] != c) ++at;
    if (at == whole.size()) return false;
    ++at;
  }
  return true;
}

void Check(std::string_view text, std::string_view cuts, Charset charset) {
  std::string shown = annc::CaretNotation(text, "", charset);
  if (RawControl(shown, charset, "") != std::string_view::npos) Fail("raw control in caret notation", text);
  if (shown.size() < text.size()) Fail("caret notation lost bytes", text);

  std::string titled = annc::WithoutControlBytes(text, charset);
  if (RawControl(titled, charset, "") != std::string_view::npos) Fail("raw control in the title text", text);
  if (!IsSubsequence(titled, text)) Fail("title text not taken from the text", text);

  // The same text in pieces, as a serial line's bytes come.
  annc::CaretNotationStream stream;
  std::string streamed;
  std::size_t at = 0;
  for (unsigned char cut : cuts) {
    std::size_t length = std::min<std::size_t>(cut % 8, text.size() - at);
    std::string piece = stream.Take(text.substr(at, length), kEchoKeeps, charset);
    if (RawControl(piece, charset, kEchoKeeps) != std::string_view::npos) Fail("raw control in a piece", text);
    streamed += piece;
    at += length;
  }
  streamed += stream.Take(text.substr(at), kEchoKeeps, charset);
  std::string held = stream.Flush();
  if (held.size() > 1) Fail("more than one byte held back", text);
  streamed += held;
  if (streamed != annc::CaretNotation(text, kEchoKeeps, charset)) Fail("pieces shown unlike the whole", text);
  if (RawControl(streamed, charset, kEchoKeeps) != std::string_view::npos) Fail("raw control across pieces", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // The first byte says how many of the next ones cut the text into pieces.
  std::size_t cutCount = input.empty() ? 0 : static_cast<unsigned char>(input[0]) % 16;
  std::string_view rest = input.substr(input.empty() ? 0 : 1);
  std::string_view cuts = rest.substr(0, std::min(cutCount, rest.size()));
  std::string_view text = rest.substr(cuts.size());
  for (Charset charset : {Charset::kSingleByte, Charset::kUtf8}) Check(text, cuts, charset);
  return 0;
}
