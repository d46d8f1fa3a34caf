#include "line/line_classifier.h"

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

constexpr const char* kUnknownMarkers[] = {"P",           "O",           "A",       "PRIVATE", "ANONYMOUS",
                                           "OUT-OF-AREA", "UNAVAILABLE", "WITHHELD"};

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

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

  // A raw caller-ID packet (one line of hexadecimal digits, from a modem in
  // unformatted mode) is decoded here once a packet decoder exists; until
  // then such a line matches no label below and is ignored.

  // LABEL [blanks] '=' or ':' [blanks] VALUE
  std::size_t separator = line.find_first_of("=:");
  if (separator == std::string_view::npos) return result;
  std::string_view label = TrimBlanks(line.substr(0, separator));
  for (const Label& known : kLabels) {
    if (SameAscii(label, known.text)) {
      result.kind = known.kind;
      result.value.assign(TrimBlanks(line.substr(separator + 1)));
      break;
    }
  }
  return result;
}

std::string AnnouncerNumber(std::string_view number) {
  static const std::string kUnknown = "Unknown";
  number = TrimBlanks(number);
  for (const char* marker : kUnknownMarkers) {
    if (SameAscii(number, marker)) return kUnknown;
  }
  std::string digits;
  for (char c : number) {
    if (c >= '0' && c <= '9') digits += c;
  }
  return digits.empty() ? kUnknown : digits;
}

}  // namespace annc
