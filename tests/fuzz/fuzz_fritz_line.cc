// The FRITZ!Box client's text handling on arbitrary bytes:
// - the input as a line from the box: no crash, the fields found are parts
//   of the line, and what is set agrees with the kind;
// - RING, CONNECT, DISCONNECT and CALL lines built from the input (random
//   values without ';' or line ends, missing and extra fields, CR LF or LF)
//   must give back what was put in;
// - the input as a stream from the box, cut into random chunks, through the
//   session with a random filter: lines stay bounded, and the call events
//   make sense (a connection's call is begun before it is answered or
//   ended, and a number always comes with the end of its record);
// - the input as a fritz: argument.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "line/sources/server/fritz_line.h"
#include "line/sources/server/fritz_session.h"
#include "line/sources/server/server_argument.h"
#include "text/terminal_text.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Fail;

using fuzz::Within;

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void CheckLine(std::string_view line) {
  annc::FritzEvent event = annc::ParseFritzLine(line);
  for (const std::string* field : {&event.connectionId, &event.caller, &event.called, &event.trunk}) {
    if (!Within(*field, line)) Fail("a field is not part of the line", line);
    if (field->find(';') != std::string::npos) Fail("a field holds a ';'", line);
  }
  bool callFields = !event.caller.empty() || !event.called.empty() || !event.trunk.empty();
  switch (event.kind) {
    case annc::FritzEvent::kIgnored:
      if (callFields || !event.connectionId.empty()) Fail("fields on an ignored line", line);
      break;
    case annc::FritzEvent::kRing:
      if (!AllDigits(event.connectionId)) Fail("a RING without a connection ID", line);
      if (!Within("RING", line)) Fail("a RING that says none", line);
      break;
    case annc::FritzEvent::kConnect:
    case annc::FritzEvent::kDisconnect:
      if (!AllDigits(event.connectionId)) Fail("an event without a connection ID", line);
      if (callFields) Fail("a RING's fields on another event", line);
      break;
  }
}

// A value as the box might send it: no ';', no line end, no blanks or
// control bytes at its ends (those are dropped).
std::string Value(FuzzedDataProvider& in, std::size_t longest = 30) {
  std::string value = in.ConsumeRandomLengthString(longest);
  value.erase(std::remove_if(value.begin(), value.end(), [](char c) { return c == ';' || c == '\r' || c == '\n'; }),
              value.end());
  return std::string(annc::TrimBlanks(value));
}

void CheckBuiltLines(FuzzedDataProvider& in) {
  static constexpr const char* kEvents[] = {"RING", "CONNECT", "DISCONNECT", "CALL"};
  std::size_t which = in.ConsumeIntegralInRange<std::size_t>(0, std::size(kEvents) - 1);
  std::string id = std::to_string(in.ConsumeIntegralInRange<int>(0, 99999));
  std::vector<std::string> values;
  int count = in.ConsumeIntegralInRange<int>(0, 8);
  for (int i = 0; i < count; ++i) values.push_back(Value(in));
  std::string line = "09.12.26 15:17:43;" + std::string(kEvents[which]) + ";" + id;
  for (const std::string& value : values) line += ";" + value;
  if (in.ConsumeBool()) {
    line += ";";
  } else if (!values.empty() && values.back().empty()) {
    values.pop_back();  // the line ends in ';', which closes the field before it
  }

  annc::FritzEvent event = annc::ParseFritzLine(line);
  auto at = [&values](std::size_t i) { return i < values.size() ? values[i] : std::string(); };
  bool good = true;
  switch (which) {
    case 0:
      if (values.empty()) {
        good = event.kind == annc::FritzEvent::kIgnored;  // no caller field at all
      } else {
        good = event.kind == annc::FritzEvent::kRing && event.connectionId == id && event.caller == at(0) &&
               event.called == at(1) && event.trunk == at(2);
      }
      break;
    case 1:
      good = event.kind == annc::FritzEvent::kConnect && event.connectionId == id;
      break;
    case 2:
      good = event.kind == annc::FritzEvent::kDisconnect && event.connectionId == id;
      break;
    default:
      good = event.kind == annc::FritzEvent::kIgnored;
      break;
  }
  if (!good) Fail("line read back wrong", line);
}

void CheckSession(FuzzedDataProvider& in, std::string_view stream) {
  annc::CallFilter filter;
  if (in.ConsumeBool()) filter.onlyTo.push_back(Value(in, 10));
  if (in.ConsumeBool()) filter.onlyLines.push_back(Value(in, 6));
  annc::FritzSession session(filter);
  std::vector<std::string> open;  // connections whose call has begun and not ended, oldest first
  std::string numberFor;          // a number given, its record's end not yet
  annc::SourceOutput out;
  out.status = [](const std::string&) {};
  out.line = [&](std::string_view line) {
    if (line.empty() || line.size() > annc::FritzSession::kMaxLine) Fail("a line out of bounds", stream);
    if (line.find_first_of("\r\n") != std::string_view::npos) Fail("a line end inside a line", stream);
  };
  out.event = [&](const annc::CallEvent& e) {
    // Between a number and the end of its record come only the dialled
    // number and the line's name of the same call, never empty.
    bool ofRecord = e.kind == annc::CallEvent::kCalledNumber || e.kind == annc::CallEvent::kLineLabel;
    if (!numberFor.empty() && (e.line != numberFor || (e.kind != annc::CallEvent::kCallerIdComplete && !ofRecord))) {
      Fail("a number without the end of its record", stream);
    }
    if (ofRecord && numberFor.empty()) Fail("a dialled number or a line outside a record", stream);
    if (ofRecord && e.value.empty()) Fail("an empty dialled number or line", stream);
    switch (e.kind) {
      case annc::CallEvent::kCalledNumber:
      case annc::CallEvent::kLineLabel:
        break;
      case annc::CallEvent::kNumber:
        if (std::find(open.begin(), open.end(), e.line) != open.end()) {
          Fail("a call begun twice on one connection", stream);
        }
        if (!AllDigits(e.line)) Fail("a connection that is no number", stream);
        if (open.size() >= annc::FritzSession::kMaxConnections) open.erase(open.begin());  // the oldest forgotten
        open.push_back(e.line);
        numberFor = e.line;
        break;
      case annc::CallEvent::kCallerIdComplete:
        if (numberFor != e.line) Fail("the end of a record without its number", stream);
        numberFor.clear();
        break;
      case annc::CallEvent::kAnswered:
      case annc::CallEvent::kCallEnded: {
        auto it = std::find(open.begin(), open.end(), e.line);
        if (it == open.end()) Fail("a call answered or ended that is not in progress", stream);
        open.erase(it);
        break;
      }
      default:
        Fail("an event a box never gives", stream);
    }
  };
  while (!stream.empty()) {
    std::size_t size = std::min(stream.size(), in.ConsumeIntegralInRange<std::size_t>(1, 64));
    session.Feed(stream.substr(0, size), out);
    stream.remove_prefix(size);
    if (session.pending() > annc::FritzSession::kMaxLine) Fail("more than a line held", stream);
  }
  if (!numberFor.empty()) Fail("a number without the end of its record", stream);
}

void CheckSource(std::string_view text) {
  std::string argument = "fritz:" + std::string(text);
  annc::ParsedServerSource parsed = annc::ParseServerSource(argument, annc::kFritzBox, annc::Charset::kSingleByte);
  if (parsed.source) {
    const annc::ServerSource& source = *parsed.source;
    if (source.host.empty() || source.host.size() > 253 || !Within(source.host, text)) Fail("bad host", argument);
    if (source.port < 1 || source.port > 65535) Fail("bad port", argument);
    if (text.find(':') == std::string_view::npos && source.port != annc::kFritzDefaultPort) {
      Fail("not the default port", argument);
    }
  } else {
    if (parsed.error.empty()) Fail("refused without a reason", argument);
    for (unsigned char c : parsed.error) {
      if (c < 32 || c == 127) Fail("control byte in the error text", argument);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckLine(text);
  CheckSource(text);
  FuzzedDataProvider built(data, size);
  CheckBuiltLines(built);
  FuzzedDataProvider cuts(data, size);
  CheckSession(cuts, text);
  return 0;
}
