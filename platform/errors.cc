#include "platform/errors.h"

#include <cstdio>
#include <cstring>

extern "C" char __executable_start;

namespace annc {

std::uintptr_t SiteOf(const void* returnAddress) {
  // One byte back from the return address lies inside the call instruction,
  // which addr2line attributes to the calling line.
  return reinterpret_cast<std::uintptr_t>(returnAddress) - 1 -
         reinterpret_cast<std::uintptr_t>(&__executable_start);
}

void ThrowIoError(const std::string& message, std::uintptr_t site) {
  throw UnhandledError{"EInOutError", message, site};
}

void ThrowOpenError(const std::string& message, std::uintptr_t site) {
  throw UnhandledError{"EFOpenError", message, site};
}

std::string SystemErrorText(int error) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may not be in `buffer`.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  std::string result = text != nullptr ? text : "";
  while (!result.empty() &&
         (static_cast<unsigned char>(result.back()) <= 32 || result.back() == '.')) {
    result.pop_back();
  }
  return result;
}

std::string CannotText(std::string_view what, int error) {
  std::string text = "cannot ";
  text.append(what);
  text += ": ";
  text += SystemErrorText(error);
  return text;
}

std::string IoErrorText(int code) { return "I/O error " + std::to_string(code); }

std::string ErrorReport(const UnhandledError& error, const std::string& module) {
  char site[32];
  std::snprintf(site, sizeof site, "%08X", static_cast<unsigned>(error.site & 0xFFFFFFFFu));
  std::string report = "Exception " + error.kind + " in module " + module + " at " + site + ".\n";
  report += error.message;
  if (report.empty() || report.back() != '.') report += '.';
  report += "\r\n";
  return report;
}

}  // namespace annc
