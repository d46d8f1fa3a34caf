// Files and the executable's own path: real services only (tests use real
// files).
#ifndef ANNC_PLATFORM_FILES_H_
#define ANNC_PLATFORM_FILES_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace annc {

// A file's bytes, read whole in one piece into memory of their own. A big
// file goes into huge pages where the system offers them, so that reading a
// large phone book costs little more than copying it.
class FileText {
 public:
  FileText() = default;
  ~FileText();
  FileText(const FileText&) = delete;
  FileText& operator=(const FileText&) = delete;

  // Returns 0 or an errno value; on failure the text is empty. Only a
  // regular file is read: a folder gives EISDIR, anything else (a FIFO, a
  // device, a socket) EINVAL, found without reading from it and without
  // waiting for a FIFO's writer.
  int Read(const std::string& path);
  // Holds a copy of `text` instead.
  void Assign(std::string_view text);
  std::string_view view() const { return std::string_view(data_, size_); }

 private:
  bool Reserve(std::size_t capacity);
  void Free();
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// A file opened for appending, created when missing, and held under an
// exclusive advisory lock until closed, so that writers in several processes
// take turns.
class LockedAppendFile {
 public:
  LockedAppendFile() = default;
  ~LockedAppendFile();
  LockedAppendFile(const LockedAppendFile&) = delete;
  LockedAppendFile& operator=(const LockedAppendFile&) = delete;

  // Returns 0 or the errno value of the failed attempt. The lock is waited
  // for at most `lockWaitMs` milliseconds; past that the file is closed
  // again and the result is EWOULDBLOCK.
  int Open(const std::string& path, int lockWaitMs);
  // Cuts off the run of `mark` bytes that ends the file, if any.
  void DropTrailing(unsigned char mark);
  // Writes at the end of the file; errors are ignored.
  void Append(std::string_view bytes);
  void Close();

 private:
  int fd_ = -1;
  bool readable_ = false;
};

// Writes all of `bytes`, going on after partial writes and interruptions.
// Returns 0 or the errno value of the failed write.
int WriteAll(int fd, std::string_view bytes);

// The full path of the running executable.
std::string ExecutablePath();

// `path` with its symbolic links, "." and ".." resolved (realpath), or
// `path` itself when it cannot be resolved (it does not exist, say).
std::string RealPathOr(const std::string& path);

}  // namespace annc

#endif  // ANNC_PLATFORM_FILES_H_
