#include "line/line_classifier.h"

#include "line/cid_packet.h"
#include "text/caseless.h"
#include "text/terminal_text.h"

namespace annc {
namespace {

struct Label {
  const char* text;
  ModemLine::Kind kind;
};

constexpr Label kLabels[] = {
    {"NMBR", ModemLine::kNumber},        {"DDN_NMBR", ModemLine::kNumber}, {"DDN", ModemLine::kNumber},
    {"NBR", ModemLine::kNumber},         {"CALLER NUMBER", ModemLine::kNumber},
    {"NAME", ModemLine::kName},          {"CALLER NAME", ModemLine::kName},
    {"DATE", ModemLine::kCallerIdInfo},  {"TIME", ModemLine::kCallerIdInfo},
    {"MESG", ModemLine::kCallerIdInfo},
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// RING as a whole word at the start: "RING", "RING A", "RING 1"; not
// "RINGING", not "NAME = SPRINGFIELD".
bool IsRing(std::string_view line) {
  if (!line.starts_with("RING")) return false;
  return line.size() == 4 || IsBlank(line[4]);
}

}  // namespace

ModemLine ClassifyLine(std::string_view line) {
  ModemLine result;
  line = TrimBlanks(line);
  if (IsRing(line)) {
    result.kind = ModemLine::kRing;
    return result;
  }
  if (line == "NO CARRIER") {
    result.kind = ModemLine::kNoCarrier;
  } else if (line == "OK") {
    result.kind = ModemLine::kOk;
  } else if (line == "ERROR") {
    result.kind = ModemLine::kError;
  }
  if (result.kind != ModemLine::kIgnored) return result;

  // A raw caller-ID packet: one line of hexadecimal digits, from a modem in
  // unformatted mode. No label below is made of hexadecimal digits alone.
  if (std::optional<CallerIdPacket> packet = DecodeHexPacket(line)) {
    result.kind = ModemLine::kPacket;
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
      result.value.assign(TrimBlanks(line.substr(separator + 1)));
      break;
    }
  }
  return result;
}

std::vector<CallEvent> ModemCallEvents(ModemLine line) {
  std::vector<CallEvent> events;
  auto add = [&events](CallEvent::Kind kind, std::string value = {}) {
    events.push_back(CallEvent{kind, std::move(value), {}});
  };
  switch (line.kind) {
    case ModemLine::kRing: add(CallEvent::kRing); break;
    case ModemLine::kNumber: add(CallEvent::kNumber, std::move(line.value)); break;
    case ModemLine::kName: add(CallEvent::kName, std::move(line.value)); break;
    case ModemLine::kCallerIdInfo: add(CallEvent::kCallerIdInfo); break;
    case ModemLine::kPacket:
      add(CallEvent::kNumber, std::move(line.value));
      if (!line.name.empty()) add(CallEvent::kName, std::move(line.name));
      add(CallEvent::kCallerIdComplete);
      break;
    case ModemLine::kNoCarrier: add(CallEvent::kCallEnded); break;
    case ModemLine::kOk:
    case ModemLine::kError:
    case ModemLine::kIgnored:
      break;
  }
  return events;
}

}  // namespace annc
