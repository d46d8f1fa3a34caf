// The program: start-up, the announcement loop and how it ends.
#ifndef ANNC_APP_ANNC_H_
#define ANNC_APP_ANNC_H_

#include <string>

namespace annc {

// The caller's number (argument 1, cut before its first colon) and the name
// the phone book gives it, empty when none.
extern std::string CallerNumber;
extern std::string CallerName;

// Non-zero when a key was pressed; consumes at most one pending key.
int KeyPressed();

// Runs the program and returns its exit code. Errors that nothing handles
// are reported here on standard output.
int RunAnnc(int argc, char** argv);

}  // namespace annc

#endif  // ANNC_APP_ANNC_H_
