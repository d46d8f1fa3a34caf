#include "posix/systemd_notify.h"

#include <systemd/sd-daemon.h>

#include <cstdlib>
#include <string>

namespace annc {
namespace {

// One field of a notification: its value on one line, since a line break
// would end the field and let the rest pass for another assignment.
std::string Field(std::string_view name, std::string_view value) {
  std::string field(name);
  field += '=';
  for (char c : value) field += (c == '\n' || c == '\r') ? ' ' : c;
  return field;
}

void Send(const std::string& message) {
  if (std::getenv("NOTIFY_SOCKET") == nullptr) return;
  (void)sd_notify(0, message.c_str());  // a lost status is no reason to stop announcing
}

}  // namespace

void NotifyReady(std::string_view status) { Send("READY=1\n" + Field("STATUS", status)); }

void NotifyStatus(std::string_view status) { Send(Field("STATUS", status)); }

void NotifyStopping() { Send("STOPPING=1"); }

std::int64_t NotifyWatchdogInterval() {
  std::uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) <= 0) return 0;
  return static_cast<std::int64_t>(usec / 1000);
}

void NotifyWatchdog() { Send("WATCHDOG=1"); }

}  // namespace annc
