#include "line/sources/server/fritz_session.h"

#include <algorithm>

namespace annc {

bool FritzSession::Forget(const std::string& id) {
  auto it = std::find(ringing_.begin(), ringing_.end(), id);
  if (it == ringing_.end()) return false;
  ringing_.erase(it);
  return true;
}

bool FritzSession::OnLine(std::string_view line, const SourceOutput& out) {
  FritzEvent event = ParseFritzLine(line);
  const std::string& id = event.connectionId;
  switch (event.kind) {
    case FritzEvent::kRing:
      // The box reuses a connection ID only once its call is over.
      if (Forget(id)) out.event(CallEvent{CallEvent::kCallEnded, {}, id});
      if (!KeepCall(filter_, event.called, event.trunk)) break;
      if (ringing_.size() >= kMaxConnections) ringing_.erase(ringing_.begin());
      ringing_.push_back(id);
      out.event(CallEvent{CallEvent::kNumber, event.caller, id});
      if (!event.called.empty()) out.event(CallEvent{CallEvent::kCalledNumber, event.called, id});
      if (!event.trunk.empty()) out.event(CallEvent{CallEvent::kLineLabel, event.trunk, id});
      out.event(CallEvent{CallEvent::kCallerIdComplete, {}, id});
      break;
    case FritzEvent::kConnect:
      if (Forget(id)) out.event(CallEvent{CallEvent::kAnswered, {}, id});
      break;
    case FritzEvent::kDisconnect:
      if (Forget(id)) out.event(CallEvent{CallEvent::kCallEnded, {}, id});
      break;
    case FritzEvent::kIgnored:
      break;
  }
  return false;
}

}  // namespace annc
