#include "modem/result_watcher.h"

#include <cstring>

#include "log/event_log.h"
#include "text/terminal_text.h"
#include "modem/serial_line.h"
#include "platform/errors.h"
#include "platform/locale.h"
#include "platform/platform.h"

namespace annc {

ModemLine ModemLineBuffer;
std::set<std::string> LoggedLineFailures;
CaretNotationStream ModemEcho;

namespace {

// The lines that end the program, compared whole and case-sensitively.
const char* const ModemResultCodes[7] = {"OK",          "NO CARRIER", "BUSY", "NO DIAL TONE",
                                         "NO DIALTONE", "RINGING",    "RING"};

constexpr int kResultCodeExit = 99;
constexpr int kPauseBeforeWaitMs = 100;

std::size_t LongestResultCode() {
  std::size_t longest = 0;
  for (const char* code : ModemResultCodes) longest = std::max(longest, std::strlen(code));
  return longest;
}

void Echo(unsigned char byte) {
  char c = static_cast<char>(byte);
  std::string_view raw(&c, 1);
  if (Sys().StdoutIsTerminal()) {
    // The modem passes on caller-ID text from the network: no escape
    // sequence of it may reach the terminal. Under UTF-8 a C1 control is
    // two bytes, read one at a time.
    std::string shown = ModemEcho.Take(raw, "\r\n\t\b", LocaleCharset());
    if (!shown.empty()) Sys().WriteOut(shown);
  } else {
    Sys().WriteOut(raw);
  }
}

void LogLineFailure(const std::string& message) {
  if (LoggedLineFailures.insert(message).second) LogEvent("?", message);
}

// One read of one byte. A byte that is not there at once is waited for
// after a pause; the read's own time-out started with it and is shorter
// than the pause, so the second look takes only what has arrived by then.
// A failure while waiting is logged and counts as nothing read.
bool ReadModemByte(unsigned char* byte) {
  SerialByte got = Sys().SerialReadByte(SerialLine, 0);
  if (got.status != SerialByte::kByte) {
    Sys().Sleep(kPauseBeforeWaitMs);
    if (got.status == SerialByte::kNothing) {
      int left = kLineReadTimeoutMs - kPauseBeforeWaitMs;
      got = Sys().SerialReadByte(SerialLine, left > 0 ? left : 0);
    }
    if (got.status == SerialByte::kError) {
      LogLineFailure(FailureText("GetOverlappedResult", got.error));
    } else if (got.status == SerialByte::kEndOfFile) {
      LogLineFailure(FailureText("GetOverlappedResult", "End of file"));
    }
  }
  if (got.status != SerialByte::kByte) return false;
  *byte = got.byte;
  return true;
}

}  // namespace

bool TakeModemByte(unsigned char byte) {
  static const std::size_t longest = LongestResultCode();
  if (byte != '\r' && byte != '\n') {
    if (ModemLineBuffer.text.size() < longest) {
      ModemLineBuffer.text += static_cast<char>(byte);
    } else {
      ModemLineBuffer.overlong = true;
    }
    return false;
  }
  bool match = false;
  if (!ModemLineBuffer.overlong) {
    for (const char* code : ModemResultCodes) {
      if (ModemLineBuffer.text == code) match = true;
    }
  }
  ModemLineBuffer.Clear();
  return match;
}

void FinishModemEcho() {
  std::string held = ModemEcho.Flush();
  if (!held.empty()) Sys().WriteOut(held);
}

bool DrainModem() {
  if (SerialLine == -1) return false;
  bool any = false;
  unsigned char byte;
  while (ReadModemByte(&byte)) {
    any = true;
    Echo(byte);
    if (TakeModemByte(byte)) throw ExitRequest{kResultCodeExit};
  }
  return any;
}

}  // namespace annc
