#include "line/sources/server/server_session.h"

namespace annc {

void ServerSession::Reset() {
  reader_.Reset();
  lines_ = 0;
  cutLines_ = 0;
  OnReset();
}

bool ServerSession::Feed(std::string_view bytes, const SourceOutput& out) {
  bool wentLive = false;
  reader_.Feed(
      bytes,
      [&](std::string_view line) {
        out.line(line);
        ++lines_;
        if (OnLine(line, out)) wentLive = true;
      },
      [&] { ++cutLines_; });
  return wentLive;
}

}  // namespace annc
