// Tells systemd how annc-line is doing when it runs as a Type=notify
// service: that it is ready (the modem took its set-up, or the server's
// start-up ended) and a one-line status that `systemctl status` shows.
// Outside systemd (no NOTIFY_SOCKET in the environment) every call does
// nothing, so callers need not check.
#ifndef ANNC_POSIX_SYSTEMD_NOTIFY_H_
#define ANNC_POSIX_SYSTEMD_NOTIFY_H_

#include <string_view>

namespace annc {

// Sends READY=1 and STATUS=`status` in one message.
void NotifyReady(std::string_view status);

// Sends STATUS=`status`.
void NotifyStatus(std::string_view status);

// Sends STOPPING=1, for a clean end that systemd should not take for a crash.
void NotifyStopping();

}  // namespace annc

#endif  // ANNC_POSIX_SYSTEMD_NOTIFY_H_
