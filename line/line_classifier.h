// What one line from a caller-ID modem means.
#ifndef ANNC_LINE_LINE_CLASSIFIER_H_
#define ANNC_LINE_LINE_CLASSIFIER_H_

#include <string>
#include <string_view>

namespace annc {

struct ModemLine {
  enum Kind {
    kIgnored,      // anything else: unknown labels, CONNECT, DRON=...
    kRing,         // RING, or RING and a blank and more (distinctive rings)
    kNumber,       // NMBR, DDN_NMBR, DDN, NBR, CALLER NUMBER
    kName,         // NAME, CALLER NAME
    kCallerIdInfo, // DATE, TIME, MESG: part of a caller-ID block, value unused
    kNoCarrier,
    kOk,
    kError,
  };
  Kind kind = kIgnored;
  std::string value;  // what follows a label, blanks at its ends cut off
};

// Classifies one line as read (no line end). Blanks and control bytes at the
// ends of the line do not count. Labels match in any letter case; RING and
// the result codes only as modems write them.
ModemLine ClassifyLine(std::string_view line);

}  // namespace annc

#endif  // ANNC_LINE_LINE_CLASSIFIER_H_
