// The program: start-up, the announcement loop and how it ends.
#ifndef ANNC_APP_ANNC_H_
#define ANNC_APP_ANNC_H_

#include <string>

namespace annc {

// The caller's number (argument 1, cut before its first colon) and the name
// the phone book gives it, empty when none.
extern std::string CallerNumber;
extern std::string CallerName;

// The recording of the caller's name that /N: gives, empty when none: a
// relative path is taken from the current folder.
extern std::string NameRecording;

// Puts every piece of a call's process-wide state back as it is when the
// process starts.
void ResetCallState();

// "number - name", the way the caller is shown and logged. The title and the
// console line keep the separator when there is no name; the log line then
// holds the number alone.
enum class EmptyName { kKeepSeparator, kNumberAlone };
std::string CallerLabel(EmptyName emptyName);

// Runs the program and returns its exit code. Errors that nothing handles
// are reported here on standard output.
int RunAnnc(int argc, char** argv);

}  // namespace annc

#endif  // ANNC_APP_ANNC_H_
