#include "line/name_recorder.h"

namespace annc {

std::string ChildNameRecorder::Start(const std::string& number, const std::string& name) {
  NameJob job = StartNameRecording(MakeNameRequest(settings_, annc_, number, name));
  if (job.pid > 0) jobs_.push_back(job);
  return job.recording;
}

void ChildNameRecorder::Reap() {
  std::erase_if(jobs_, [](NameJob& job) { return FinishNameJob(&job); });
}

void ChildNameRecorder::Cancel() {
  for (NameJob& job : jobs_) CancelNameJob(&job);
  jobs_.clear();
}

}  // namespace annc
