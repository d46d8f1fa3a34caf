// Path helpers: folders are separated by '/'.
#ifndef ANNC_TEXT_PATHS_H_
#define ANNC_TEXT_PATHS_H_

#include <string>
#include <string_view>

namespace annc {

// The file name after the last '/', the whole path when it has none.
std::string BaseName(std::string_view path);

// The folder part of a path, up to and including its last '/'; empty when
// it has none.
std::string FolderOf(std::string_view path);

struct ExtensionInfo {
  std::size_t dotPos;  // position of the last dot, counted from 1; 0 when none
  bool hasExtension;
};

// Whether the path's last dot starts an extension: no folder separator among
// the (up to 64) characters after it.
ExtensionInfo HasExtension(std::string_view path);

// The path with its extension replaced by `extension`, or "." and the
// extension appended when it has none.
std::string ChangeExtension(std::string_view path, std::string_view extension);

}  // namespace annc

#endif  // ANNC_TEXT_PATHS_H_
