#include "line/name_recorder.h"

namespace annc {

std::string ChildNameRecorder::Start(const std::string& number, const std::string& name) {
  NameJob job = StartNameRecording(MakeNameRequest(settings_, annc_, number, name, system_.files), system_.files,
                                   system_.processes, system_.output);
  if (job.pid > 0) jobs_.push_back(job);
  return job.recording;
}

void ChildNameRecorder::Reap() {
  std::erase_if(jobs_, [this](NameJob& job) { return FinishNameJob(&job, system_.files, system_.processes, system_.output); });
}

void ChildNameRecorder::Cancel() {
  for (NameJob& job : jobs_) CancelNameJob(&job, system_.files, system_.processes);
  jobs_.clear();
}

}  // namespace annc
