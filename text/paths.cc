#include "text/paths.h"

namespace annc {

std::string BaseName(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string FolderOf(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

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

}  // namespace annc
