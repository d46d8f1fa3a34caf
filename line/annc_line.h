// annc-line: holds a caller-ID modem, or listens to an NCID server, and runs
// annc once per call.
#ifndef ANNC_LINE_ANNC_LINE_H_
#define ANNC_LINE_ANNC_LINE_H_

namespace annc {

// The whole program; returns its exit code: 0 ended by a signal or after
// --once, 1 a fatal error, 2 a usage error.
int RunAnncLine(int argc, char** argv);

}  // namespace annc

#endif  // ANNC_LINE_ANNC_LINE_H_
