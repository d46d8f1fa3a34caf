// --say-names: the recording of a caller's name that annc is given with /N:,
// made while the call rings.
#ifndef ANNC_LINE_NAME_RECORDER_H_
#define ANNC_LINE_NAME_RECORDER_H_

#include <string>
#include <vector>

#include "line/names/name_recording.h"
#include "posix/line_system.h"

namespace annc {

class NameRecorder {
 public:
  virtual ~NameRecorder() = default;
  // The path for /N: for a call announced with `number` (as annc is given
  // it) and the network's `name`; empty for none. Returns at once.
  virtual std::string Start(const std::string& number, const std::string& name) = 0;
  // Reaps what has finished, without waiting.
  virtual void Reap() = 0;
  // annc-line's end: ends what still runs.
  virtual void Cancel() = 0;
};

// Names recorded by the user or synthesized by annc-name in child processes
// of their own.
class ChildNameRecorder : public NameRecorder {
 public:
  // `annc` is the announcer's real path: the recordings are beside it.
  ChildNameRecorder(NameSettings settings, std::string annc, const LineSystem& system)
      : settings_(std::move(settings)), annc_(std::move(annc)), system_(system) {}
  ~ChildNameRecorder() override { Cancel(); }

  std::string Start(const std::string& number, const std::string& name) override;
  void Reap() override;
  void Cancel() override;

 private:
  NameSettings settings_;
  std::string annc_;
  const LineSystem& system_;
  std::vector<NameJob> jobs_;
};

}  // namespace annc

#endif  // ANNC_LINE_NAME_RECORDER_H_
