#include "text/terminal_text.h"

namespace annc {

std::string CaretNotation(std::string_view text, std::string_view keep) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    if (IsControlByte(c) && keep.find(c) == std::string_view::npos) {
      result += '^';
      result += static_cast<char>(static_cast<unsigned char>(c) ^ 0x40);
    } else {
      result += c;
    }
  }
  return result;
}

std::string WithoutControlBytes(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    if (!IsControlByte(c)) result += c;
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
