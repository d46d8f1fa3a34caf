#include "web/edit/edited_file.h"

#include <fcntl.h>
#include <sha2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/files.h"
#include "text/paths.h"
#include "web/edit/edit_values.h"

namespace annc {

namespace {

// How long an edit waits for another one in the same folder.
constexpr auto kLockWait = std::chrono::seconds(3);

std::string ErrorText(int error) { return std::strerror(error); }

// A descriptor closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // 0 or the errno value of close().
  int Close() {
    if (fd_ < 0) return 0;
    int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

// The folder of a path, "." for a bare file name.
std::string FolderPath(const std::string& path) {
  std::string folder = FolderOf(path);
  return folder.empty() ? std::string(".") : folder;
}

// The file that writing `path` replaces: where its links lead. A path that
// does not exist names itself; a link that leads nowhere is refused.
bool ResolveTarget(const std::string& path, std::string* target, std::string* error) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) {
    *target = resolved;
    return true;
  }
  int failure = errno;
  struct stat link;
  if (failure == ENOENT && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    *error = "it is a symbolic link to a missing file";
    return false;
  }
  if (failure != ENOENT) {
    *error = ErrorText(failure);
    return false;
  }
  *target = path;
  return true;
}

}  // namespace

std::string FileVersion(std::string_view bytes) {
  char hex[SHA256_DIGEST_STRING_LENGTH];
  SHA256Data(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), hex);
  return std::string(hex, SHA256_DIGEST_STRING_LENGTH - 1);
}

FileSnapshot ReadSnapshot(const std::string& path, std::size_t maxBytes) {
  FileSnapshot file;
  file.path = path;
  file.version = std::string(kMissingFileVersion);
  if (path.empty()) {
    file.error = "no file is named";
    return file;
  }
  if (!ResolveTarget(path, &file.target, &file.error)) return file;
  // Without O_NONBLOCK a FIFO would hold the page until someone writes it.
  Descriptor fd(::open(file.target.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) {
    if (errno != ENOENT) file.error = ErrorText(errno);
    return file;
  }
  struct stat status;
  if (::fstat(fd.get(), &status) != 0) {
    file.error = ErrorText(errno);
    return file;
  }
  if (!S_ISREG(status.st_mode)) {
    file.error = "it is not a regular file";
    return file;
  }
  std::string tooBig = "it is larger than " + std::to_string(maxBytes) + " bytes";
  if (static_cast<std::uintmax_t>(status.st_size) > maxBytes) {
    file.error = tooBig;
    return file;
  }
  // Read up to one byte past the bound, in case the file grew meanwhile.
  std::string bytes(static_cast<std::size_t>(status.st_size) + 1, '\0');
  std::size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      if (bytes.size() > maxBytes) {
        file.error = tooBig;
        return file;
      }
      bytes.resize(std::min(bytes.size() * 2, maxBytes + 1));
    }
    ssize_t got = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      file.error = ErrorText(errno);
      return file;
    }
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  bytes.resize(used);
  file.exists = true;
  file.bytes = std::move(bytes);
  file.version = FileVersion(file.bytes);
  file.mode = status.st_mode & 07777;
  file.owner = status.st_uid;
  file.group = status.st_gid;
  return file;
}

std::string ReplaceFile(const FileSnapshot& old, std::string_view bytes) {
  const std::string& target = old.target.empty() ? old.path : old.target;
  const std::string folder = FolderPath(target);
  Descriptor folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folderFd.get() < 0) return "cannot open its folder: " + ErrorText(errno);

  std::string temp = FolderOf(target) + "." + BaseName(target) + ".XXXXXX";
  Descriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) return "cannot make a new file beside it: " + ErrorText(errno);
  // From here on every way out but the rename removes the new file.
  struct TempFile {
    const std::string& path;
    bool renamed = false;
    ~TempFile() {
      if (!renamed) ::unlink(path.c_str());
    }
  } guard{temp};

  if (old.exists) {
    // The owner first: a change of owner clears the set-ID bits, which the
    // mode then sets again. Someone who is not root may not give the file
    // away, so the new file keeps ours when it already matches.
    struct stat made;
    if (::fstat(fd.get(), &made) != 0) return "cannot read the new file's status: " + ErrorText(errno);
    uid_t owner = made.st_uid != old.owner ? old.owner : static_cast<uid_t>(-1);
    gid_t group = made.st_gid != old.group ? old.group : static_cast<gid_t>(-1);
    bool differs = owner != static_cast<uid_t>(-1) || group != static_cast<gid_t>(-1);
    if (differs && ::fchown(fd.get(), owner, group) != 0) {
      return "cannot give the new file the old one's owner and group: " + ErrorText(errno);
    }
  }
  if (::fchmod(fd.get(), old.exists ? old.mode : 0644) != 0) {
    return "cannot set the new file's mode: " + ErrorText(errno);
  }
  if (int error = WriteAll(fd.get(), bytes); error != 0) return "cannot write the new file: " + ErrorText(error);
  if (::fsync(fd.get()) != 0) return "cannot sync the new file: " + ErrorText(errno);
  if (int error = fd.Close(); error != 0) return "cannot write the new file: " + ErrorText(error);
  if (::rename(temp.c_str(), target.c_str()) != 0) return "cannot put the new file in place: " + ErrorText(errno);
  guard.renamed = true;
  if (::fsync(folderFd.get()) != 0) return "written, but its folder could not be synced: " + ErrorText(errno);
  return "";
}

EditOutcome EditFile(const std::string& path, std::string_view version, std::size_t maxBytes, const FileEdit& edit) {
  auto refused = [&](const std::string& why) { return EditOutcome{false, OneLine(path + ": " + why)}; };
  std::string target;
  std::string error;
  if (path.empty()) return EditOutcome{false, "no file is named"};
  if (!ResolveTarget(path, &target, &error)) return refused(error);

  // Edits of files in one folder take turns on a lock of the folder; the
  // lock goes with the descriptor.
  Descriptor folderFd(::open(FolderPath(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folderFd.get() < 0) return refused("cannot open its folder: " + ErrorText(errno));
  const auto giveUp = std::chrono::steady_clock::now() + kLockWait;
  while (::flock(folderFd.get(), LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= giveUp) {
      return refused("another change is being made; try again");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  FileSnapshot file = ReadSnapshot(path, maxBytes);
  if (!file.error.empty()) return refused(file.error);
  if (file.version != version) {
    return refused("the file changed since the page was shown; reload the page and try again");
  }
  std::string bytes = file.bytes;
  EditOutcome outcome = edit(file, &bytes);
  outcome.message = OneLine(outcome.message);
  if (!outcome.ok || bytes == file.bytes) return outcome;
  if (std::string why = ReplaceFile(file, bytes); !why.empty()) return refused(why);
  return outcome;
}

}  // namespace annc
