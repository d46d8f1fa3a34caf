// Takes over the serial line to the modem that the launcher handed down as
// an open descriptor.
#ifndef ANNC_MODEM_SERIAL_LINE_H_
#define ANNC_MODEM_SERIAL_LINE_H_

#include <string_view>

namespace annc {

// The inherited modem line; -1 means no line, and every serial step is
// skipped.
extern int SerialLine;

// How long one read of one byte waits for it. The line is polled between
// spoken words, so a read must give up quickly: 60 ms is long enough for a
// byte already on its way at any usual line speed.
constexpr int kLineReadTimeoutMs = 60;

// Checks that the descriptor is a terminal line, makes it raw and flushes
// it, confirming each step on the console. A failing step is logged and
// ends the process with 254.
void OpenSerialLine(std::string_view value);

// Gives the line back to the launcher with the settings it had before it
// was made raw, nothing it holds thrown away. Does nothing when it was not
// made raw.
void GiveSerialLineBack();

}  // namespace annc

#endif  // ANNC_MODEM_SERIAL_LINE_H_
