#include "line/sources/modem/line_classifier.h"

#include <algorithm>

#include "line/sources/modem/cid_packet.h"
#include "text/caseless.h"
#include "text/terminal_text.h"

namespace annc {
namespace {

struct Label {
  const char* text;
  ClassifiedLine::Kind kind;
};

constexpr Label kLabels[] = {
    {"NMBR", ClassifiedLine::kNumber},        {"DDN_NMBR", ClassifiedLine::kNumber}, {"DDN", ClassifiedLine::kNumber},
    {"NBR", ClassifiedLine::kNumber},         {"CALLER NUMBER", ClassifiedLine::kNumber},
    {"NAME", ClassifiedLine::kName},          {"CALLER NAME", ClassifiedLine::kName},
    {"DATE", ClassifiedLine::kCallerIdInfo},  {"TIME", ClassifiedLine::kCallerIdInfo},
    {"MESG", ClassifiedLine::kCallerIdInfo},
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// RING as a whole word at the start: "RING", "RING A", "RING 1"; not
// "RINGING", not "NAME = SPRINGFIELD".
bool IsRing(std::string_view line) {
  if (!line.starts_with("RING")) return false;
  return line.size() == 4 || IsBlank(line[4]);
}

}  // namespace

ClassifiedLine ClassifyLine(std::string_view line) {
  ClassifiedLine result;
  line = TrimBlanks(line);
  if (IsRing(line)) {
    result.kind = ClassifiedLine::kRing;
    return result;
  }
  if (line == "NO CARRIER") {
    result.kind = ClassifiedLine::kNoCarrier;
  } else if (line == "OK") {
    result.kind = ClassifiedLine::kOk;
  } else if (line == "ERROR") {
    result.kind = ClassifiedLine::kError;
  }
  if (result.kind != ClassifiedLine::kIgnored) return result;

  // A raw caller-ID packet: one line of hexadecimal digits, from a modem in
  // unformatted mode. No label below is made of hexadecimal digits alone.
  if (std::optional<CallerIdPacket> packet = DecodeHexPacket(line)) {
    result.kind = ClassifiedLine::kPacket;
    result.value = std::move(packet->number);
    result.name = packet->name.empty() ? std::move(packet->nameAbsentReason) : std::move(packet->name);
    result.warnings = std::move(packet->warnings);
    return result;
  }

  // LABEL [blanks] '=' or ':' [blanks] VALUE
  std::size_t separator = line.find_first_of("=:");
  if (separator == std::string_view::npos) return result;
  std::string_view label = TrimBlanks(line.substr(0, separator));
  for (const Label& known : kLabels) {
    if (SameAsciiIgnoringCase(label, known.text)) {
      result.kind = known.kind;
      // Only blanks and tabs go at the value's start: a control byte there
      // may open an escape sequence, which must reach the cleaning whole.
      std::string_view value = line.substr(separator + 1);
      value.remove_prefix(std::min(value.size(), value.find_first_not_of(" \t")));
      result.value.assign(value);
      break;
    }
  }
  return result;
}

std::vector<CallEvent> ModemCallEvents(ClassifiedLine line) {
  std::vector<CallEvent> events;
  auto add = [&events](CallEvent::Kind kind, std::string value = {}) {
    events.push_back(CallEvent{kind, std::move(value), {}});
  };
  switch (line.kind) {
    case ClassifiedLine::kRing: add(CallEvent::kRing); break;
    case ClassifiedLine::kNumber: add(CallEvent::kNumber, std::move(line.value)); break;
    case ClassifiedLine::kName: add(CallEvent::kName, std::move(line.value)); break;
    case ClassifiedLine::kCallerIdInfo: add(CallEvent::kCallerIdInfo); break;
    case ClassifiedLine::kPacket:
      add(CallEvent::kNumber, std::move(line.value));
      if (!line.name.empty()) add(CallEvent::kName, std::move(line.name));
      add(CallEvent::kCallerIdComplete);
      break;
    case ClassifiedLine::kNoCarrier: add(CallEvent::kCallEnded); break;
    case ClassifiedLine::kOk:
    case ClassifiedLine::kError:
    case ClassifiedLine::kIgnored:
      break;
  }
  return events;
}

}  // namespace annc
