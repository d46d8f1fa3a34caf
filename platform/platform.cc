#include "platform/platform.h"

#include "platform/errors.h"
#include "platform/locale.h"
#include "text/terminal_text.h"

namespace annc {

Platform& RealPlatform();  // linux_platform.cc

namespace {
Platform* installed = nullptr;
}  // namespace

Platform& Sys() { return installed != nullptr ? *installed : RealPlatform(); }

Platform* SetPlatform(Platform* platform) {
  Platform* previous = installed;
  installed = platform;
  return previous;
}

void WriteLine(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text);
  line.append("\r\n");
  Sys().WriteOut(line);
}

void SetConsoleTitle(std::string_view text) {
  if (!Sys().StdoutIsTerminal()) return;
  Sys().ShowTitle("\x1b]0;" + WithoutControlBytes(text, LocaleCharset()) + "\a");
}

std::string FailureText(std::string_view operation, int error) {
  return FailureText(operation, SystemErrorText(error));
}

std::string FailureText(std::string_view operation, std::string_view text) {
  std::string message = " ";
  message.append(operation);
  message += ' ';
  message += ToOemText(text);
  return message;
}

}  // namespace annc
