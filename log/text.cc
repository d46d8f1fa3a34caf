#include "log/text.h"

namespace annc {

ExtensionInfo HasExtension(std::string_view path) {
  std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return {0, false};
  std::string_view after = path.substr(dot + 1, 64);
  return {dot + 1, after.find('/') == std::string_view::npos};
}

std::string ChangeExtension(std::string_view path, std::string_view extension) {
  ExtensionInfo info = HasExtension(path);
  std::string result;
  if (info.dotPos > 0 && info.hasExtension) {
    result.assign(path.substr(0, info.dotPos));
  } else {
    result.assign(path);
    result += '.';
  }
  result.append(extension);
  return result;
}

std::string ToOemText(std::string_view text) { return std::string(text); }

std::string CaretNotation(std::string_view text, std::string_view keep) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if ((u < 32 || u == 127) && keep.find(c) == std::string_view::npos) {
      result += '^';
      result += static_cast<char>(u ^ 0x40);
    } else {
      result += c;
    }
  }
  return result;
}

}  // namespace annc
