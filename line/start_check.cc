#include "line/start_check.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"
#include "text/paths.h"
#include "text/terminal_text.h"

namespace annc {
std::string SoundFolderOf(const std::string& annc) {
  char resolved[PATH_MAX];
  std::string real = ::realpath(annc.c_str(), resolved) != nullptr ? resolved : annc;
  return FolderOf(real) + "Numvoice/";
}

std::optional<std::string> SetupProblem(const LineOptions& options, const std::string& logFile) {
  auto shown = [&options](const std::string& path) { return CaretNotation(path, "", options.charset); };
  if (::access(options.annc.c_str(), X_OK) != 0) return CannotText("run the announcer " + shown(options.annc), errno);

  std::string folder = SoundFolderOf(options.annc);
  struct stat st {};
  int error = ::stat(folder.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (error != 0) {
    return "no sound folder " + shown(folder) + " (" + SystemErrorText(error) +
           "): make one with tools/make_voice.sh " + shown(folder);
  }
  std::string book = folder + "aon.db";
  int fd = ::open(book.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return CannotText("read the phone book " + shown(book), errno) + ": create it (an empty file will do)";
  }
  bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  if (!regular) return "the phone book " + shown(book) + " is not a regular file";

  if (!logFile.empty()) {
    error = 0;
    if (::stat(logFile.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) {
        error = EISDIR;
      } else if (::access(logFile.c_str(), W_OK) != 0) {
        error = errno;
      }
    } else if (errno != ENOENT) {
      error = errno;
    } else {
      std::string dir = FolderOf(logFile);
      if (dir.empty()) dir = ".";
      if (::access(dir.c_str(), W_OK | X_OK) != 0) error = errno;
    }
    if (error != 0) return CannotText("write the log " + shown(logFile), error) + ": choose another with --log FILE";
  }
  return std::nullopt;
}

}  // namespace annc
