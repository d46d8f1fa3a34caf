#include "line/history/history_file.h"

#include <cstdlib>

namespace annc {

std::string DefaultHistoryFile(const EnvironmentReader& env, Files& files) {
  std::string service = env("STATE_DIRECTORY");
  service = service.substr(0, service.find(':'));
  if (!service.empty() && service[0] == '/') return service + "/calls.db";
  std::string xdg = env("XDG_STATE_HOME");
  if (!xdg.empty() && xdg[0] == '/') return xdg + "/annc/calls.db";
  std::string home = env("HOME");
  FileInfo info;
  if (!home.empty() && home[0] == '/' && home != "/" && files.Inspect(home, &info) == 0 &&
      info.kind == FileInfo::kFolder) {
    return home + "/.local/state/annc/calls.db";
  }
  return "/var/lib/annc/calls.db";
}

std::string DefaultHistoryFile(Files& files) {
  return DefaultHistoryFile(
      [](const char* name) {
        const char* value = std::getenv(name);
        return value == nullptr ? std::string() : std::string(value);
      },
      files);
}

}  // namespace annc
