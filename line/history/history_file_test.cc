#include "line/history/history_file.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "posix/posix_line_system.h"

namespace annc {
namespace {

TEST(HistoryFileTest, TheDefaultPlace) {
  struct Case {
    std::map<std::string, std::string> env;
    const char* path;
  };
  const Case cases[] = {
      {{{"STATE_DIRECTORY", "/var/lib/annc"}, {"XDG_STATE_HOME", "/tmp/xdg"}, {"HOME", "/tmp"}},
       "/var/lib/annc/calls.db"},
      {{{"STATE_DIRECTORY", "/var/lib/annc:/var/lib/other"}}, "/var/lib/annc/calls.db"},
      {{{"STATE_DIRECTORY", "relative"}, {"HOME", "/tmp"}}, "/tmp/.local/state/annc/calls.db"},
      {{{"XDG_STATE_HOME", "/tmp/xdg"}, {"HOME", "/tmp"}}, "/tmp/xdg/annc/calls.db"},
      {{{"XDG_STATE_HOME", "relative"}, {"HOME", "/tmp"}}, "/tmp/.local/state/annc/calls.db"},
      {{{"HOME", "/tmp"}}, "/tmp/.local/state/annc/calls.db"},
      // A service user without a home of its own.
      {{{"HOME", "/nonexistent"}}, "/var/lib/annc/calls.db"},
      {{{"HOME", "/"}}, "/var/lib/annc/calls.db"},
      {{}, "/var/lib/annc/calls.db"},
  };
  for (const Case& c : cases) {
    auto env = [&c](const char* name) {
      auto it = c.env.find(name);
      return it == c.env.end() ? std::string() : it->second;
    };
    SystemFiles files;
    EXPECT_EQ(DefaultHistoryFile(env, files), c.path);
  }
}

}  // namespace
}  // namespace annc
