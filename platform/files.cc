#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <ctime>
#include <cstring>
#include <vector>

namespace annc {

FileText::~FileText() { Free(); }

void FileText::Free() {
  if (data_ != nullptr) ::munmap(data_, capacity_);
  data_ = nullptr;
  size_ = capacity_ = 0;
}

bool FileText::Reserve(std::size_t capacity) {
  constexpr std::size_t kHugePage = 2u << 20;
  capacity = (capacity + 4095) & ~static_cast<std::size_t>(4095);
  if (capacity <= capacity_) return true;
  void* memory = data_ == nullptr
                     ? ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                     : ::mremap(data_, capacity_, capacity, MREMAP_MAYMOVE);
  if (memory == MAP_FAILED) return false;
  data_ = static_cast<char*>(memory);
  capacity_ = capacity;
  if (capacity_ >= kHugePage) ::madvise(data_, capacity_, MADV_HUGEPAGE);
  return true;
}

void FileText::Assign(std::string_view text) {
  Free();
  if (!text.empty() && Reserve(text.size())) {
    std::memcpy(data_, text.data(), text.size());
    size_ = text.size();
  }
}

int FileText::Read(const std::string& path) {
  Free();
  // Opening a FIFO for reading would wait for a writer: O_NONBLOCK keeps
  // the open from waiting, and the type is known before anything is read.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  struct stat st;
  int error = 0;
  if (::fstat(fd, &st) != 0) {
    error = errno;
  } else if (S_ISDIR(st.st_mode)) {
    error = EISDIR;
  } else if (!S_ISREG(st.st_mode)) {
    error = EINVAL;
  } else {
    // A regular file is read as usual, blocking where the file system may.
    (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // One read of the whole size; a file that grows meanwhile is read on to
    // its end.
    std::size_t expected = static_cast<std::size_t>(st.st_size);
    if (!Reserve(expected + 1)) error = ENOMEM;
    while (error == 0) {
      if (size_ == capacity_ && !Reserve(capacity_ * 2)) {
        error = ENOMEM;
        break;
      }
      ssize_t n = ::read(fd, data_ + size_, capacity_ - size_);
      if (n < 0) {
        if (errno == EINTR) continue;
        error = errno;
      } else if (n == 0) {
        break;
      } else {
        size_ += static_cast<std::size_t>(n);
      }
    }
  }
  ::close(fd);
  if (error != 0) Free();
  return error;
}

LockedAppendFile::~LockedAppendFile() { Close(); }

namespace {

long long MonotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Takes the exclusive lock, trying again in short steps until `waitMs` have
// passed. Returns false when another holder kept it all that time.
bool LockWithin(int fd, int waitMs) {
  constexpr long kStepNs = 5 * 1000000L;
  const long long deadline = MonotonicMs() + waitMs;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return true;  // no locks here: write unlocked
    if (MonotonicMs() >= deadline) return false;
    timespec step{0, kStepNs};
    ::nanosleep(&step, nullptr);
  }
}

}  // namespace

int LockedAppendFile::Open(const std::string& path, int lockWaitMs) {
  Close();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  readable_ = fd_ >= 0;
  if (fd_ < 0) {
    int createError = errno;
    // A file that may be written but not read is still appended to, without
    // looking at its end; it is never emptied.
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd_ < 0) return createError;
  }
  if (!LockWithin(fd_, lockWaitMs)) {
    Close();
    return EWOULDBLOCK;
  }
  return 0;
}

void LockedAppendFile::DropTrailing(unsigned char mark) {
  if (fd_ < 0 || !readable_) return;
  struct stat st;
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return;
  off_t end = st.st_size;
  off_t keep = end;
  char block[128];
  while (keep > 0) {
    off_t from = keep >= static_cast<off_t>(sizeof block) ? keep - static_cast<off_t>(sizeof block) : 0;
    ssize_t n = ::pread(fd_, block, static_cast<std::size_t>(keep - from), from);
    if (n != keep - from) return;  // cannot look: leave the file alone
    ssize_t i = n;
    while (i > 0 && static_cast<unsigned char>(block[i - 1]) == mark) --i;
    keep = from + i;
    if (i > 0) break;
  }
  if (keep != end) (void)::ftruncate(fd_, keep);
}

void LockedAppendFile::Append(std::string_view bytes) {
  if (fd_ < 0) return;
  // A device such as /dev/full cannot seek: the write goes where it goes.
  if (readable_) (void)::lseek(fd_, 0, SEEK_END);
  (void)WriteAll(fd_, bytes);  // a failed write loses the line; the program goes on
}

int WriteAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += static_cast<std::size_t>(n);
    left -= static_cast<std::size_t>(n);
  }
  return 0;
}

void LockedAppendFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);  // also releases the lock
    fd_ = -1;
  }
}

std::string ExecutablePath() {
  std::vector<char> buffer(PATH_MAX + 1);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

std::string RealPathOr(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

}  // namespace annc
