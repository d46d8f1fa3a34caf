// Reading a file the page edits, with the version the page carries back,
// and replacing it whole and atomically: a new file in the same folder with
// the old one's mode, owner and group, synced, renamed over the old one,
// and the folder synced. A symbolic link is written through: the file it
// names is replaced (a packaged phone book is such a link), the link stays.
#ifndef ANNC_WEB_EDIT_EDITED_FILE_H_
#define ANNC_WEB_EDIT_EDITED_FILE_H_

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace annc {

// One line for the page, fit for HTML escaping; `ok` when the change was
// made or there was none to make.
struct EditOutcome {
  bool ok = false;
  std::string message;
};

// The version of a file that does not exist.
inline constexpr std::string_view kMissingFileVersion = "none";

// The version of a file's bytes: their SHA-256 in lower-case hex.
std::string FileVersion(std::string_view bytes);

// A file as it was read.
struct FileSnapshot {
  std::string path;    // as given
  std::string target;  // the file written: symbolic links resolved
  bool exists = false;
  std::string bytes;
  std::string version;  // kMissingFileVersion when it does not exist
  mode_t mode = 0644;
  uid_t owner = 0;
  gid_t group = 0;
  std::string error;  // empty when read (or missing); else why not, in a few words
};

// Reads `path` whole; a file over `maxBytes` or not a regular file is an
// error. A missing file is no error, but a link to a missing file is.
FileSnapshot ReadSnapshot(const std::string& path, std::size_t maxBytes);

// Replaces `old.target` with `bytes` atomically (a missing file is created
// with mode 0644). Empty on success, else the reason; on every way out no
// temporary file is left behind.
std::string ReplaceFile(const FileSnapshot& old, std::string_view bytes);

// An edit of one file: under an exclusive lock on its folder (so that two
// edits from the page take turns), reads it, refuses it when its version is
// not `version`, then asks `edit` for the new bytes and writes them when
// they differ. `edit` sets the outcome; it leaves *bytes as they are for no
// change, and a refusal (ok false) writes nothing.
using FileEdit = std::function<EditOutcome(const FileSnapshot& file, std::string* bytes)>;
EditOutcome EditFile(const std::string& path, std::string_view version, std::size_t maxBytes, const FileEdit& edit);

}  // namespace annc

#endif  // ANNC_WEB_EDIT_EDITED_FILE_H_
