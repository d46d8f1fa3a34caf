#include "line/names/name_cache.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
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
constexpr std::int64_t kStaleTempNs = 600LL * 1000000000;

bool IsDigest(std::string_view text) {
  if (text.size() != kDigestDigits) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

std::string DefaultNameCacheFolder(const EnvironmentLookup& env, Files& files) {
  std::string service = env("CACHE_DIRECTORY");
  service = service.substr(0, service.find(':'));
  if (!service.empty() && service[0] == '/') return service + "/names";
  std::string xdg = env("XDG_CACHE_HOME");
  if (!xdg.empty() && xdg[0] == '/') return xdg + "/annc/names";
  std::string home = env("HOME");
  // A system user's home is often "/" or a folder that does not exist
  // ("/nonexistent"): the system's cache folder suits it better.
  FileInfo info;
  if (!home.empty() && home[0] == '/' && home != "/" && files.Inspect(home, &info) == 0 &&
      info.kind == FileInfo::kFolder) {
    return home + "/.cache/annc/names";
  }
  return "/var/cache/annc/names";
}

std::string DefaultNameCacheFolder(Files& files) {
  return DefaultNameCacheFolder(
      [](const char* name) {
        const char* value = std::getenv(name);
        return value == nullptr ? std::string() : std::string(value);
      },
      files);
}

std::string CachedNamePath(const std::string& folder, std::string_view voice, std::string_view text) {
  std::string key(voice);
  key += '\0';
  key.append(text);
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  return path + Sha256Hex(key).substr(0, kDigestDigits) + std::string(kExtension);
}

bool UseCachedName(Files& files, const std::string& path) {
  FileInfo info;
  if (files.Inspect(path, &info) != 0 || info.kind != FileInfo::kRegular || info.stamp.size == 0) return false;
  files.Touch(path);
  return true;
}

int MakeNameCacheFolder(Files& files, const std::string& folder) {
  if (folder.empty()) return ENOENT;
  return files.MakeFolders(folder, 0700);
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

void PruneNameCache(Files& files, const std::string& folder, std::size_t keep) {
  std::vector<FolderEntry> entries;
  if (files.List(folder, &entries) != 0) return;
  struct Entry {
    std::int64_t modifiedNs;
    std::string path;
  };
  std::vector<Entry> recordings;
  std::int64_t now = files.FileTimeNow();
  for (const FolderEntry& e : entries) {
    bool recording = IsCachedNameFile(e.name);
    if (!recording && !IsCachedNameTempFile(e.name)) continue;
    if (e.info.kind != FileInfo::kRegular) continue;  // gone meanwhile, or not ours
    std::string path = folder + "/" + e.name;
    if (recording) {
      recordings.push_back({e.info.stamp.modifiedNs, std::move(path)});
    } else if (now - e.info.stamp.modifiedNs > kStaleTempNs) {
      (void)files.Remove(path);
    }
  }
  if (recordings.size() <= keep) return;
  auto older = [](const Entry& a, const Entry& b) {
    if (a.modifiedNs != b.modifiedNs) return a.modifiedNs < b.modifiedNs;
    return a.path < b.path;
  };
  std::size_t extra = recordings.size() - keep;
  std::nth_element(recordings.begin(), recordings.begin() + static_cast<std::ptrdiff_t>(extra - 1),
                   recordings.end(), older);
  for (std::size_t i = 0; i < extra; ++i) (void)files.Remove(recordings[i].path);
}

}  // namespace annc
