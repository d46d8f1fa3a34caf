// The command line: the arguments as the program sees them and the switches
// among them.
#ifndef ANNC_APP_COMMAND_LINE_H_
#define ANNC_APP_COMMAND_LINE_H_

#include <string>
#include <string_view>
#include <vector>

namespace annc {

// Argument 0 is the running executable's full path; empty arguments are
// left out.
extern std::vector<std::string> Arguments;

void SetArguments(int argc, char** argv);
// The number of arguments after argument 0.
int ArgumentCount();

// The index (1 or more) of the first argument that starts with one of
// `switchChars` (any character when it is empty) and then `switchText`, or 0
// when none does.
int FindSwitch(std::string_view switchText, std::string_view switchChars, bool ignoreCase);

// The value of a two-letter switch: the argument from its 4th character on.
std::string SwitchValue(int index);

}  // namespace annc

#endif  // ANNC_APP_COMMAND_LINE_H_
