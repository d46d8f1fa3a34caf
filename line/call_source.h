// Where calls come from: the event loop polls a source's descriptor and
// calls it back; the source turns what it reads into call events. A modem
// on a serial port is one source; a network caller-ID server can be another.
#ifndef ANNC_LINE_CALL_SOURCE_H_
#define ANNC_LINE_CALL_SOURCE_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "line/call_tracker.h"

namespace annc {

// What a source hands on.
struct SourceOutput {
  std::function<void(const CallEvent&)> event;
  std::function<void(std::string_view)> line;  // every line as read (--check shows them)
  std::function<void(const std::string&)> status;
};

class CallSource {
 public:
  virtual ~CallSource() = default;
  // The descriptor to poll; -1 while not connected.
  virtual int fd() const = 0;
  // Poll it for writing rather than reading (while a connection is made).
  virtual bool WantsWritable() const { return false; }
  // When OnTimer wants to run next (to connect again), if at all.
  virtual std::optional<Millis> NextAttempt() const = 0;
  // The descriptor is ready as asked, or reports a hang-up or an error.
  virtual void OnReady(Millis now, const SourceOutput& out) = 0;
  virtual void OnTimer(Millis now, const SourceOutput& out) = 0;
};

}  // namespace annc

#endif  // ANNC_LINE_CALL_SOURCE_H_
