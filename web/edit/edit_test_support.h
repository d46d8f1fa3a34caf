// What the web/edit tests share: a temporary folder of real files.
#ifndef ANNC_WEB_EDIT_EDIT_TEST_SUPPORT_H_
#define ANNC_WEB_EDIT_EDIT_TEST_SUPPORT_H_

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "web/edit/edited_file.h"

namespace annc::testing {

// A folder of its own for one test, removed with all it holds at the end.
class TempFolder {
 public:
  TempFolder() {
    const char* base = std::getenv("TEST_TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/annc_web_edit.XXXXXX";
    path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : "";
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(*this / name, std::ios::binary | std::ios::trunc) << bytes;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(*this / name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }
  // The names in the folder, sorted: a temporary file left behind shows.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  // The version a page would carry for the file now.
  std::string Version(const std::string& name) const { return ReadSnapshot(*this / name, 1u << 26).version; }

 private:
  std::string path_;
};

}  // namespace annc::testing

#endif  // ANNC_WEB_EDIT_EDIT_TEST_SUPPORT_H_
