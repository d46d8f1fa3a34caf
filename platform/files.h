// Files, the executable's own path and the process's locale: real services
// only (tests use real files).
#ifndef ANNC_PLATFORM_FILES_H_
#define ANNC_PLATFORM_FILES_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace annc {

// Reads the whole file into `contents` in one piece. Returns 0 or an errno
// value (EISDIR for a folder).
int ReadWholeFile(const std::string& path, std::string* contents);

// A file opened for appending, created when missing, and held under an
// exclusive advisory lock until closed, so that writers in several processes
// take turns.
class LockedAppendFile {
 public:
  LockedAppendFile() = default;
  ~LockedAppendFile();
  LockedAppendFile(const LockedAppendFile&) = delete;
  LockedAppendFile& operator=(const LockedAppendFile&) = delete;

  // Returns 0 or the errno value of the failed attempt.
  int Open(const std::string& path);
  // Cuts off the run of `mark` bytes that ends the file, if any.
  void DropTrailing(unsigned char mark);
  // Writes at the end of the file; errors are ignored.
  void Append(std::string_view bytes);
  void Close();

 private:
  int fd_ = -1;
  bool readable_ = false;
};

// The full path of the running executable.
std::string ExecutablePath();

// Takes the locale from the environment for character classes and time.
void UseEnvironmentLocale();

// The separator the locale's time format puts between hours and minutes,
// ":" when it gives none.
std::string LocaleTimeSeparator();

}  // namespace annc

#endif  // ANNC_PLATFORM_FILES_H_
