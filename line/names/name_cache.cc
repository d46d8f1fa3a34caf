#include "line/names/name_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "line/names/sha256.h"

namespace annc {

namespace {

// Recordings are a 32-digit digest and ".wav"; a temporary file adds
// ".tmp" and the writer's process id.
constexpr std::size_t kDigestDigits = 32;
constexpr std::string_view kExtension = ".wav";
constexpr std::string_view kTempMark = ".tmp";
// A temporary file this old is left over from a synthesis that was killed.
constexpr std::time_t kStaleTempSeconds = 600;

bool IsDigest(std::string_view text) {
  if (text.size() != kDigestDigits) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

std::string DefaultNameCacheFolder(const EnvironmentLookup& env) {
  std::string service = env("CACHE_DIRECTORY");
  service = service.substr(0, service.find(':'));
  if (!service.empty() && service[0] == '/') return service + "/names";
  std::string xdg = env("XDG_CACHE_HOME");
  if (!xdg.empty() && xdg[0] == '/') return xdg + "/annc/names";
  std::string home = env("HOME");
  // A system user's home is often "/" or a folder that does not exist
  // ("/nonexistent"): the system's cache folder suits it better.
  struct stat st;
  if (!home.empty() && home[0] == '/' && home != "/" && ::stat(home.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    return home + "/.cache/annc/names";
  }
  return "/var/cache/annc/names";
}

std::string DefaultNameCacheFolder() {
  return DefaultNameCacheFolder([](const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
  });
}

std::string CachedNamePath(const std::string& folder, std::string_view voice, std::string_view text) {
  std::string key(voice);
  key += '\0';
  key.append(text);
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  return path + Sha256Hex(key).substr(0, kDigestDigits) + std::string(kExtension);
}

bool UseCachedName(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return false;
  (void)::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
  return true;
}

int MakeNameCacheFolder(const std::string& folder) {
  if (folder.empty()) return ENOENT;
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    std::string part = folder.substr(0, slash);
    if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    if (slash == std::string::npos) break;
  }
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

bool IsCachedNameFile(std::string_view fileName) {
  return fileName.size() == kDigestDigits + kExtension.size() && fileName.ends_with(kExtension) &&
         IsDigest(fileName.substr(0, kDigestDigits));
}

bool IsCachedNameTempFile(std::string_view fileName) {
  std::size_t mark = fileName.find(kTempMark);
  if (mark == std::string_view::npos || !IsCachedNameFile(fileName.substr(0, mark))) return false;
  std::string_view pid = fileName.substr(mark + kTempMark.size());
  return !pid.empty() && std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void PruneNameCache(const std::string& folder, std::size_t keep) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  struct Entry {
    std::timespec modified;
    std::string path;
  };
  std::vector<Entry> recordings;
  std::time_t now = std::time(nullptr);
  while (dirent* e = ::readdir(dir)) {
    std::string_view name = e->d_name;
    bool recording = IsCachedNameFile(name);
    if (!recording && !IsCachedNameTempFile(name)) continue;
    std::string path = folder + "/" + std::string(name);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;  // gone meanwhile, or not ours
    if (recording) {
      recordings.push_back({st.st_mtim, std::move(path)});
    } else if (now - st.st_mtime > kStaleTempSeconds) {
      (void)::unlink(path.c_str());
    }
  }
  ::closedir(dir);
  if (recordings.size() <= keep) return;
  auto older = [](const Entry& a, const Entry& b) {
    if (a.modified.tv_sec != b.modified.tv_sec) return a.modified.tv_sec < b.modified.tv_sec;
    if (a.modified.tv_nsec != b.modified.tv_nsec) return a.modified.tv_nsec < b.modified.tv_nsec;
    return a.path < b.path;
  };
  std::size_t extra = recordings.size() - keep;
  std::nth_element(recordings.begin(), recordings.begin() + static_cast<std::ptrdiff_t>(extra - 1),
                   recordings.end(), older);
  for (std::size_t i = 0; i < extra; ++i) (void)::unlink(recordings[i].path.c_str());
}

}  // namespace annc
