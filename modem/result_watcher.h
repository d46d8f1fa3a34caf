// Watches what the modem says on the serial line and ends the program with
// exit code 99 when it reports a result code.
#ifndef ANNC_MODEM_RESULT_WATCHER_H_
#define ANNC_MODEM_RESULT_WATCHER_H_

#include <set>
#include <string>
#include <string_view>

#include "text/terminal_text.h"

namespace annc {

// What has arrived since the last line end. A line longer than the longest
// result code can never match, so only that much is kept, with a mark that
// the line has already grown too long.
struct ModemLine {
  std::string text;
  bool overlong = false;
  void Clear() {
    text.clear();
    overlong = false;
  }
};
extern ModemLine ModemLineBuffer;

// The failures of the serial line logged so far in this run. A failure
// that repeats (a hung-up line fails after every spoken number) is logged
// the first time only.
extern std::set<std::string> LoggedLineFailures;

// The modem's bytes as they are echoed to a terminal, with the first byte of
// a UTF-8 C1 control held back until the next one arrives.
extern CaretNotationStream ModemEcho;

// Writes a byte the echo still holds back, as it came: the modem has said
// its last.
void FinishModemEcho();

// Adds one received byte to ModemLineBuffer. Returns true when it ends a
// line that is one of the result codes.
bool TakeModemByte(unsigned char byte);

// Reads, echoes and examines everything the modem has sent until the line is
// quiet. Returns true when at least one byte was read. Throws ExitRequest 99
// on a result code.
bool DrainModem();

}  // namespace annc

#endif  // ANNC_MODEM_RESULT_WATCHER_H_
