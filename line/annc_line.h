// annc-line: holds a caller-ID modem, or listens to an NCID server or a
// FRITZ!Box's call monitor, or to several of these at once, screens each
// call and runs annc once per call that is to be announced.
#ifndef ANNC_LINE_ANNC_LINE_H_
#define ANNC_LINE_ANNC_LINE_H_

#include <string>

#include "line/options.h"
#include "posix/line_system.h"

namespace annc {

// The whole program; returns its exit code: 0 ended by a signal or after
// --once, 1 a fatal error, 2 a usage error.
int RunAnncLine(int argc, char** argv);

// The program after its command line, on `system`: the call sources
// started, then calls announced (or, with --check, the one source's lines
// printed) until a signal or --once ends it. `options.annc` names the announcer.
int RunLine(const LineOptions& options, const LineSystem& system);

// The calls log annc writes: --log's, or annc's default (its real path with
// the extension .log).
std::string CallLogFile(const LineOptions& options);

}  // namespace annc

#endif  // ANNC_LINE_ANNC_LINE_H_
