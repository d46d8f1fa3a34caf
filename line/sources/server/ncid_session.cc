#include "line/sources/server/ncid_session.h"

#include <algorithm>

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

void NcidSession::Reset() {
  reader_.Reset();
  live_ = false;
  greeted_ = false;
  lines_ = 0;
}

bool NcidSession::Feed(std::string_view bytes, const SourceOutput& out) {
  bool wentLive = false;
  reader_.Feed(bytes, [&](std::string_view line) {
    out.line(line);
    if (lines_++ == 0) greeted_ = line.substr(0, 4) == "200 ";
    NcidEvent event = ParseNcidLine(line);
    if (!live_) {
      if (event.kind == NcidEvent::kStartupDone) live_ = wentLive = true;
      return;
    }
    if (!KeepCall(filter_, {}, event.lineId)) return;
    for (const CallEvent& callEvent : NcidCallEvents(event)) out.event(callEvent);
  });
  return wentLive;
}

Millis Backoff::Next() {
  Millis wait = next_;
  next_ = std::min(next_ * 2, kLongest);
  return wait;
}

}  // namespace annc
