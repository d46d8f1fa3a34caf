// Where calls come from: the event loop waits on a source's handle and
// calls it back; the source turns what it reads into call events. A modem
// on a serial port is one source; a network caller-ID server is another.
#ifndef ANNC_LINE_CALL_SOURCE_H_
#define ANNC_LINE_CALL_SOURCE_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "line/calls/call_tracker.h"

namespace annc {

// What a source hands on.
struct SourceOutput {
  std::function<void(const CallEvent&)> event;
  std::function<void(std::string_view)> line;  // every line as read (--check shows them)
  std::function<void(const std::string&)> status;
  // What a service manager shows; `ready` once the source is set up.
  std::function<void(const std::string&, bool)> service = [](const std::string&, bool) {};
};

class CallSource {
 public:
  // How the first opening or connection went.
  enum Startup { kStarting, kStarted, kFailed };

  virtual ~CallSource() = default;
  // The first attempt; startup() tells how it goes.
  virtual void Begin(Millis now, const SourceOutput& out) = 0;
  virtual Startup startup() const = 0;
  // kFailed: why annc-line cannot start, in one line.
  virtual std::string FailureText() const = 0;

  // The handle to wait on; -1 while there is none.
  virtual int handle() const = 0;
  // Wait for it to be writable rather than readable (while connecting).
  virtual bool WantsWritable() const { return false; }
  // When OnTimer wants to run next, if at all.
  virtual std::optional<Millis> NextDeadline() const = 0;
  // The handle is ready as asked, or reports a hang-up or an error.
  virtual void OnReady(Millis now, const SourceOutput& out) = 0;
  virtual void OnTimer(Millis now, const SourceOutput& out) = 0;
};

}  // namespace annc

#endif  // ANNC_LINE_CALL_SOURCE_H_
