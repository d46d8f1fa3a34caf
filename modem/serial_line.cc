#include "modem/serial_line.h"

#include <string>

#include "log/event_log.h"
#include "log/parse_integer.h"
#include "log/text.h"
#include "platform/errors.h"

namespace annc {

int SerialLine = -1;
CommTimeouts LineTimeouts;
ReadRequestState* ReadRequest = nullptr;

namespace {
constexpr int kSerialSetupFailed = 254;
constexpr int kSettleMs = 250;
}  // namespace

int ReadTimeoutMs() {
  // A read of one byte: the multiplier once, plus the constant.
  return static_cast<int>(LineTimeouts.ReadTotalTimeoutMultiplier * 1 +
                          LineTimeouts.ReadTotalTimeoutConstant);
}

void ReportSerialFailure(std::string_view operation, int error) {
  std::string message = " ";
  message.append(operation);
  message += ' ';
  message += ToOemText(SystemErrorText(error));
  LogEvent("?", message);
}

void OpenSerialLine(std::string_view value) {
  SerialLine = ParseInteger(value).value_or(-1);
  static ReadRequestState request;  // lives as long as the process
  request = ReadRequestState{};
  ReadRequest = &request;

  if (int error = Sys().SerialGetTimeouts(SerialLine, &LineTimeouts); error != 0) {
    ReportSerialFailure("GetCommTimeouts", error);
    throw ExitRequest{kSerialSetupFailed};
  }
  WriteLine(" GetCommTimeouts ");

  LineTimeouts = CommTimeouts{};
  LineTimeouts.ReadIntervalTimeout = 1;
  LineTimeouts.ReadTotalTimeoutMultiplier = 10;
  LineTimeouts.ReadTotalTimeoutConstant = 50;
  LineTimeouts.WriteTotalTimeoutMultiplier = 10;
  LineTimeouts.WriteTotalTimeoutConstant = 50;
  if (int error = Sys().SerialSetTimeouts(SerialLine, LineTimeouts); error != 0) {
    ReportSerialFailure("SetCommTimeouts", error);
    throw ExitRequest{kSerialSetupFailed};
  }
  WriteLine(" SetCommTimeouts ");

  if (int error = Sys().SerialPurge(SerialLine); error != 0) {
    ReportSerialFailure("PurgeComm", error);
    throw ExitRequest{kSerialSetupFailed};
  }
  WriteLine(" PurgeComm ");

  Sys().Sleep(kSettleMs);
}

}  // namespace annc
