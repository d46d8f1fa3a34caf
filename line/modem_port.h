// The port holder: a caller-ID modem on a serial port, locked the way other
// modem programs expect, initialised, and read line by line.
#ifndef ANNC_LINE_MODEM_PORT_H_
#define ANNC_LINE_MODEM_PORT_H_

#include <sys/types.h>

#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "line/line_reader.h"
#include "line/options.h"
#include "line/uucp_lock.h"
#include "posix/signal_pipe.h"

namespace annc {

// How opening and initialising the modem went.
struct ModemSetup {
  enum Kind {
    kReady,
    kOpenFailed,   // error, step: the device cannot be opened or set up
    kInUse,        // owner: the process holding the lock (0 when unknown)
    kLockFailed,   // error: the lock file cannot be made
    kNoAnswer,     // nothing answered the reset, twice
    kLost,         // the device went away while it was being initialised
    kInterrupted,  // a signal asked annc-line to end
  };
  Kind kind = kOpenFailed;
  int error = 0;
  const char* step = "";
  pid_t owner = 0;
  std::string callerIdCommand;        // kReady: the one the modem accepted; empty when none
  std::vector<std::string> warnings;  // kReady: commands refused or unanswered
};

// The answer to one AT command.
struct ModemAnswer {
  enum Kind { kOk, kError, kNone, kLost, kInterrupted };
  Kind kind = kNone;
  std::vector<std::string> lines;  // what came before OK or ERROR, echo left out
};

class ModemPort {
 public:
  // Modem lines are cut at this length.
  static constexpr std::size_t kMaxLine = 256;
  // Each command is answered within this time or not at all.
  static constexpr int kAnswerMs = 3000;

  ModemPort(const LineOptions& options, SignalPipe& signals) : options_(options), signals_(signals) {}
  ~ModemPort() { Close(); }
  ModemPort(const ModemPort&) = delete;
  ModemPort& operator=(const ModemPort&) = delete;

  // Locks and opens the device and runs the initialisation: ATZ (one retry
  // when unanswered), ATE0V1Q0, every --init command, then caller ID on
  // (AT+VCID=1, else AT#CID=1, else AT%CCID=1) unless an --init command
  // that sets the caller-ID mode was accepted. Anything but kReady leaves
  // the port closed and the lock released.
  ModemSetup Open();
  // Closes the port and removes the lock.
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Sends `command` and CR, and collects the answer. With `numericResults`
  // "0" and "4" count as OK and ERROR too (before V1 has been set).
  ModemAnswer Command(std::string_view command, bool numericResults = false);

  // Hands lines that came after a command's answer, in the same read, to
  // `onLine`.
  void TakeLeftover(const std::function<void(std::string_view)>& onLine);
  // Reads what the modem has sent (call it when poll says the port is
  // readable: the read blocks) and hands each whole line to `onLine`.
  // Returns false when the modem is gone (unplugged, hung up).
  bool ReadLines(const std::function<void(std::string_view)>& onLine);

 private:
  bool Send(std::string_view bytes);
  ModemSetup Initialise();

  const LineOptions& options_;
  SignalPipe& signals_;
  UucpLock lock_;
  int fd_ = -1;
  LineReader reader_{kMaxLine};
  std::deque<std::string> leftover_;  // lines that came after a command's answer
};

}  // namespace annc

#endif  // ANNC_LINE_MODEM_PORT_H_
