// A caller-ID modem as a source of calls: its lines become call events; when
// it is unplugged it is closed, and opened and initialised again every 2 s
// until it is back.
#ifndef ANNC_LINE_MODEM_SOURCE_H_
#define ANNC_LINE_MODEM_SOURCE_H_

#include <string>

#include "line/call_source.h"
#include "line/modem_port.h"

namespace annc {

class ModemSource : public CallSource {
 public:
  static constexpr Millis kRetryMs = 2000;

  ModemSource(const LineOptions& options, SignalPipe& signals) : options_(options), port_(options, signals) {}

  // The first opening: kReady, or why annc-line cannot start.
  ModemSetup OpenAtStart(const SourceOutput& out);
  // The one line saying why the modem cannot be used (for exit code 1).
  std::string FailureText(const ModemSetup& setup) const;

  ModemPort& port() { return port_; }

  int fd() const override { return port_.fd(); }
  std::optional<Millis> NextAttempt() const override;
  void OnReady(Millis now, const SourceOutput& out) override;
  void OnTimer(Millis now, const SourceOutput& out) override;

 private:
  void Ready(const ModemSetup& setup, const SourceOutput& out);
  void Deliver(std::string_view line, const SourceOutput& out);

  const LineOptions& options_;
  ModemPort port_;
  bool waiting_ = false;  // unplugged, trying to open it again
  Millis nextAttempt_ = 0;
};

}  // namespace annc

#endif  // ANNC_LINE_MODEM_SOURCE_H_
