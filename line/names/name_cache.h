// The folder of synthesized name recordings: where it is, what its files
// are called, and how it is kept small.
#ifndef ANNC_LINE_NAME_CACHE_H_
#define ANNC_LINE_NAME_CACHE_H_

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "posix/line_system.h"

namespace annc {

// How many recordings the cache keeps; past that the oldest go.
constexpr std::size_t kNameCacheFiles = 1000;

// The variables the default folder is found from; an unset variable gives
// an empty text.
using EnvironmentLookup = std::function<std::string(const char* name)>;

// The cache folder when --name-cache gives none: the cache folder systemd
// gives the service ($CACHE_DIRECTORY, its first entry, with "/names"),
// else the user's ($XDG_CACHE_HOME/annc/names when that is an absolute
// path, ~/.cache/annc/names when $HOME is a folder in `files`), else
// /var/cache/annc/names.
std::string DefaultNameCacheFolder(const EnvironmentLookup& env, Files& files);
// The same from the process's environment.
std::string DefaultNameCacheFolder(Files& files);

// The recording of `text` spoken in `voice`: a file in `folder` named after
// a digest of both, so that the text itself never becomes a path and two
// texts never share a file.
std::string CachedNamePath(const std::string& folder, std::string_view voice, std::string_view text);

// Whether the cache holds a recording at `path` (a regular file that is not
// empty). A hit is marked as just used, so that the cache drops it last.
bool UseCachedName(Files& files, const std::string& path);

// Creates the folder and the folders above it that are missing (mode
// 0700: the names of callers are nobody else's business). 0 or an errno value.
int MakeNameCacheFolder(Files& files, const std::string& folder);

// Removes the oldest recordings of the cache past `keep`, and temporary
// files that a synthesis killed half-way left behind. Other files in the
// folder are never touched; a file that goes away meanwhile is no error.
void PruneNameCache(Files& files, const std::string& folder, std::size_t keep = kNameCacheFiles);

// Whether a file name in the cache folder is one of the cache's recordings,
// or a temporary file on the way to becoming one.
bool IsCachedNameFile(std::string_view fileName);
bool IsCachedNameTempFile(std::string_view fileName);

}  // namespace annc

#endif  // ANNC_LINE_NAME_CACHE_H_
