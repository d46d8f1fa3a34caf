// Ways to end the process from deep inside: each unwinds to main, which
// prints the report (for errors) and returns the exit code.
#ifndef ANNC_PLATFORM_ERRORS_H_
#define ANNC_PLATFORM_ERRORS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace annc {

// Ends the process with `code` and nothing printed, spoken or logged.
struct ExitRequest {
  int code;
};

// An error that nothing handles: reported on standard output, exit code 1.
struct UnhandledError {
  std::string kind;     // "EFOpenError", "EInOutError"
  std::string message;  // without the final dot
  std::uintptr_t site;  // code address of the failing site, load-relative
};

// The code address of the call that failed, relative to where the executable
// was loaded, so the same failure gives the same value on every run and
// `addr2line -e annc 0x<value>` names the line.
std::uintptr_t SiteOf(const void* returnAddress);

#define ANNC_FAILING_SITE() ::annc::SiteOf(__builtin_return_address(0))

[[noreturn]] void ThrowIoError(const std::string& message, std::uintptr_t site);
[[noreturn]] void ThrowOpenError(const std::string& message, std::uintptr_t site);

// The system's text for an error number, with trailing blanks, control
// characters and dots cut off: the one reading of errno for both programs.
std::string SystemErrorText(int error);

// How annc-line reports a failed operation in one line: "cannot " + what +
// ": " + SystemErrorText(error), as in "cannot start annc: No such file or
// directory".
std::string CannotText(std::string_view what, int error);

// "I/O error %d".
std::string IoErrorText(int code);

// The two-line report for an unhandled error.
std::string ErrorReport(const UnhandledError& error, const std::string& module);

}  // namespace annc

#endif  // ANNC_PLATFORM_ERRORS_H_
