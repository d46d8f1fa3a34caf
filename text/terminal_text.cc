#include "text/terminal_text.h"

namespace annc {

namespace {

constexpr char kUtf8C1Lead = '\xc2';

void AppendCaret(char c, std::string* out) {
  *out += '^';
  *out += static_cast<char>((static_cast<unsigned char>(c) & 0x7f) ^ 0x40);
}

}  // namespace

std::size_t C1ControlAt(std::string_view text, std::size_t at, Charset charset) {
  if (at >= text.size()) return 0;
  if (charset == Charset::kSingleByte) return IsC1Byte(text[at]) ? 1 : 0;
  return text[at] == kUtf8C1Lead && at + 1 < text.size() && IsC1Byte(text[at + 1]) ? 2 : 0;
}

std::string CaretNotation(std::string_view text, std::string_view keep, Charset charset) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (std::size_t length = C1ControlAt(text, i, charset)) {
      // The control's code is in its last byte: 0x9B and 0xC2 0x9B alike
      // come out as M-^[.
      i += length - 1;
      result += "M-";
      AppendCaret(text[i], &result);
    } else if (IsControlByte(c) && keep.find(c) == std::string_view::npos) {
      AppendCaret(c, &result);
    } else {
      result += c;
    }
  }
  return result;
}

std::string CaretNotationStream::Take(std::string_view piece, std::string_view keep, Charset charset) {
  std::string text = held_;
  text.append(piece);
  held_.clear();
  if (charset == Charset::kUtf8 && !text.empty() && text.back() == kUtf8C1Lead) {
    held_ = text.back();
    text.pop_back();
  }
  return CaretNotation(text, keep, charset);
}

std::string CaretNotationStream::Flush() {
  std::string held;
  held.swap(held_);
  return held;
}

std::string WithoutControlBytes(std::string_view text, Charset charset) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (std::size_t length = C1ControlAt(text, i, charset)) {
      i += length - 1;
    } else if (charset == Charset::kUtf8 && IsC1Byte(text[i]) && !result.empty() && result.back() == kUtf8C1Lead) {
      // A control dropped between the two made them one C1 control: it
      // goes too.
      result.pop_back();
    } else if (!IsControlByte(text[i])) {
      result += text[i];
    }
  }
  return result;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return text;
}

std::string ToOemText(std::string_view text) { return std::string(text); }

}  // namespace annc
