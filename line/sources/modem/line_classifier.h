// What one line from a caller-ID modem means.
#ifndef ANNC_LINE_LINE_CLASSIFIER_H_
#define ANNC_LINE_LINE_CLASSIFIER_H_

#include <string>
#include <string_view>
#include <vector>

#include "line/calls/call_tracker.h"

namespace annc {

struct ClassifiedLine {
  enum Kind {
    kIgnored,      // anything else: unknown labels, CONNECT, DRON=...
    kRing,         // RING, or RING and a blank and more (distinctive rings)
    kNumber,       // NMBR, DDN_NMBR, DDN, NBR, CALLER NUMBER
    kName,         // NAME, CALLER NAME
    kCallerIdInfo, // DATE, TIME, MESG: part of a caller-ID block, value unused
    kPacket,       // a whole caller-ID packet in hexadecimal (unformatted mode)
    kNoCarrier,
    kOk,
    kError,
  };
  Kind kind = kIgnored;
  std::string value;  // what follows a label, blanks at its ends cut off;
                      // kPacket: the number (or its absence reason, P or O)
  std::string name;   // kPacket: the name, else the reason it is absent
  std::vector<std::string> warnings;  // kPacket: what was wrong with it
};

// Classifies one line as read (no line end). Blanks and control bytes at the
// ends of the line do not count. Labels match in any letter case; RING and
// the result codes only as modems write them. A line of hexadecimal digits
// that decodes as a caller-ID packet (SDMF or MDMF) is one; what decodes
// cleanly of a packet with a wrong length or checksum is still used.
ClassifiedLine ClassifyLine(std::string_view line);

// The call events a classified line gives: a ring, a number, a name, another
// line of a caller-ID block, NO CARRIER; a packet gives its number, its name
// when it has one, and the end of the block (it is the whole block). Result
// codes and other lines give none. A modem has one line: the events name none.
std::vector<CallEvent> ModemCallEvents(ClassifiedLine line);

}  // namespace annc

#endif  // ANNC_LINE_LINE_CLASSIFIER_H_
