#include "platform/locale.h"

#include <clocale>
#include <langinfo.h>

namespace annc {

void UseEnvironmentLocale() {
  std::setlocale(LC_CTYPE, "");
  std::setlocale(LC_TIME, "");
  std::setlocale(LC_COLLATE, "");
}

std::string LocaleTimeSeparator() {
  const char* format = ::nl_langinfo(T_FMT);
  if (format == nullptr) return ":";
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p == '%') {
      ++p;
      while (*p == '-' || *p == '_' || *p == '0' || *p == '^' || *p == '#' || *p == 'E' || *p == 'O') ++p;
      if (*p == '\0') break;
      // Composite conversions that stand for hours and minutes with colons.
      if (*p == 'T' || *p == 'R' || *p == 'r' || *p == 'X') return ":";
      continue;
    }
    if (*p != ' ') return std::string(1, *p);
  }
  return ":";
}

}  // namespace annc
