// Takes over the serial line to the modem that the launcher handed down as
// an open descriptor.
#ifndef ANNC_MODEM_SERIAL_LINE_H_
#define ANNC_MODEM_SERIAL_LINE_H_

#include <string_view>

#include "platform/platform.h"

namespace annc {

// The inherited modem line; -1 means no line, and every serial step is
// skipped.
extern int SerialLine;

// The time-outs the line runs with: a one-byte read gives up after
// 10 x 1 + 50 = 60 ms.
extern CommTimeouts LineTimeouts;

// State of the one read in flight on the line.
struct ReadRequestState {
  bool pending = false;
  unsigned bytesRead = 0;
};
extern ReadRequestState* ReadRequest;

// How long one read of one byte waits for it, from LineTimeouts.
int ReadTimeoutMs();

// Reads the time-outs, sets ours and purges the line, confirming each step
// on the console. A failing step is logged and ends the process with 254.
void OpenSerialLine(std::string_view value);

// Logs a failed serial operation: "?" and " Name " with the system's text.
void ReportSerialFailure(std::string_view operation, int error);

}  // namespace annc

#endif  // ANNC_MODEM_SERIAL_LINE_H_
