// What annc will need, checked before annc-line takes any call: a set-up in
// which every call would end in annc's error report is said at start.
#ifndef ANNC_LINE_START_CHECK_H_
#define ANNC_LINE_START_CHECK_H_

#include <optional>
#include <string>

#include "line/options.h"
#include "posix/line_system.h"

namespace annc {

// The sound folder annc reads: Numvoice/ beside annc's real path.
std::string SoundFolderOf(const std::string& annc);

// One line naming the file, the cause and what to do, or nothing when annc
// can run: it can be executed, its sound folder and phone book are there
// and readable, `logFile` can be appended to or created, and the --on-call
// program can be executed; all of it looked at in `files`.
std::optional<std::string> SetupProblem(const LineOptions& options, const std::string& logFile, Files& files);

}  // namespace annc

#endif  // ANNC_LINE_START_CHECK_H_
