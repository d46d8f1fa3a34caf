// Where the call history is kept when --history does not say.
#ifndef ANNC_LINE_HISTORY_HISTORY_FILE_H_
#define ANNC_LINE_HISTORY_HISTORY_FILE_H_

#include <functional>
#include <string>

#include "posix/line_system.h"

namespace annc {

// The value of an environment variable, "" when it is not set.
using EnvironmentReader = std::function<std::string(const char* name)>;

// $STATE_DIRECTORY/calls.db for a service systemd gave a state folder (the
// first, when it gave several), else $XDG_STATE_HOME/annc/calls.db, else
// ~/.local/state/annc/calls.db; a user without a home of their own (a
// service's) gets /var/lib/annc/calls.db.
std::string DefaultHistoryFile(const EnvironmentReader& env, Files& files);
std::string DefaultHistoryFile(Files& files);

}  // namespace annc

#endif  // ANNC_LINE_HISTORY_HISTORY_FILE_H_
