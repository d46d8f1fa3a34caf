// Tells systemd how annc-line is doing when it runs as a Type=notify
// service: that it is ready (the modem took its set-up, or the server's
// start-up ended) and a one-line status that `systemctl status` shows.
// Outside systemd (no NOTIFY_SOCKET in the environment) every call does
// nothing, so callers need not check.
#ifndef ANNC_POSIX_SYSTEMD_NOTIFY_H_
#define ANNC_POSIX_SYSTEMD_NOTIFY_H_

#include <cstdint>
#include <string_view>

namespace annc {

// Sends READY=1 and STATUS=`status` in one message.
void NotifyReady(std::string_view status);

// Sends STATUS=`status`.
void NotifyStatus(std::string_view status);

// Sends STOPPING=1, for a clean end that systemd should not take for a crash.
void NotifyStopping();

// The unit's WatchdogSec= in milliseconds when systemd watches this process
// (WATCHDOG_USEC, WATCHDOG_PID), else 0.
std::int64_t NotifyWatchdogInterval();

// Sends WATCHDOG=1: the loop still turns.
void NotifyWatchdog();

}  // namespace annc

#endif  // ANNC_POSIX_SYSTEMD_NOTIFY_H_
