#include "app/command_line.h"

#include "platform/platform.h"
#include "text/caseless.h"

namespace annc {

std::vector<std::string> Arguments;

void SetArguments(int argc, char** argv) {
  Arguments.clear();
  std::string self = Sys().ExecutablePath();
  if (self.empty() && argc > 0 && argv[0] != nullptr) self = argv[0];
  Arguments.push_back(self);
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr && argv[i][0] != '\0') Arguments.emplace_back(argv[i]);
  }
}

int ArgumentCount() { return Arguments.empty() ? 0 : static_cast<int>(Arguments.size()) - 1; }

int FindSwitch(std::string_view switchText, std::string_view switchChars, bool ignoreCase) {
  for (int i = 1; i <= ArgumentCount(); ++i) {
    std::string_view a = Arguments[static_cast<std::size_t>(i)];
    if (a.empty()) continue;
    if (!switchChars.empty() && switchChars.find(a[0]) == std::string_view::npos) continue;
    std::string_view r = a.substr(1);
    if (r.size() < switchText.size()) continue;
    bool same = true;
    for (std::size_t k = 0; k < switchText.size() && same; ++k) {
      same = ignoreCase ? AsciiLower(r[k]) == AsciiLower(switchText[k]) : r[k] == switchText[k];
    }
    if (same) return i;
  }
  return 0;
}

std::string SwitchValue(int index) {
  const std::string& a = Arguments[static_cast<std::size_t>(index)];
  return a.size() > 3 ? a.substr(3) : std::string();
}

}  // namespace annc
