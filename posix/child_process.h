// Starting a child program that inherits one extra descriptor, and learning
// how it ended.
#ifndef ANNC_POSIX_CHILD_PROCESS_H_
#define ANNC_POSIX_CHILD_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace annc {

// Starts the program `argv[0]` with the arguments `argv`. The child gets
// standard input, output and error as they are, `keepFd` at the same number,
// and no other descriptor of this process; signal handling starts afresh
// (SIGPIPE back to its default, nothing blocked), and SIGTERM when this
// process dies. Returns 0 and the process
// id, or the errno value of the failed fork or exec (the program is missing
// or cannot be run): a failed exec is reported here, not as an exit code.
// With `errorsToOutput` the child's standard error is this process's
// standard output (the console, where its beeps and messages belong).
int SpawnWithDescriptor(const std::vector<std::string>& argv, int keepFd, pid_t* pid, bool errorsToOutput = false);

// How a child ended.
struct ChildEnd {
  bool exited = false;  // true: `code` holds the exit code
  int code = 0;
  int signal = 0;  // the signal that ended it, when not exited
};

// Reaps `pid` when it has ended, without waiting; true then, with `end` filled.
bool ReapChild(pid_t pid, ChildEnd* end);

}  // namespace annc

#endif  // ANNC_POSIX_CHILD_PROCESS_H_
