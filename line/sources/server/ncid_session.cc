#include "line/sources/server/ncid_session.h"

#include "text/caseless.h"
#include "text/terminal_text.h"

namespace annc {

std::vector<CallEvent> NcidCallEvents(const NcidEvent& event) {
  std::vector<CallEvent> events;
  switch (event.kind) {
    case NcidEvent::kCall: {
      events.push_back(CallEvent{CallEvent::kNumber, event.number, event.lineId});
      std::string_view name = TrimBlanks(event.name);
      if (!name.empty() && name != "-" && !SameAsciiIgnoringCase(name, "NO NAME")) {
        events.push_back(CallEvent{CallEvent::kName, std::string(name), event.lineId});
      }
      events.push_back(CallEvent{CallEvent::kCallerIdComplete, {}, event.lineId});
      break;
    }
    case NcidEvent::kRing:
      events.push_back(CallEvent{CallEvent::kRing, {}, event.lineId});
      break;
    case NcidEvent::kCallEnded:
      events.push_back(CallEvent{CallEvent::kCallEnded, {}, event.lineId});
      break;
    case NcidEvent::kIgnored:
    case NcidEvent::kStartupDone:
      break;
  }
  return events;
}

void NcidSession::OnReset() {
  live_ = false;
  greeted_ = false;
}

bool NcidSession::OnLine(std::string_view line, const SourceOutput& out) {
  if (lines() == 1) greeted_ = line.substr(0, 4) == "200 ";
  NcidEvent event = ParseNcidLine(line);
  if (!live_) {
    live_ = event.kind == NcidEvent::kStartupDone;
    return live_;
  }
  if (!KeepCall(filter_, {}, event.lineId)) return false;
  for (const CallEvent& callEvent : NcidCallEvents(event)) out.event(callEvent);
  return false;
}

}  // namespace annc
