// Caller-ID packets as modems in unformatted mode send them: one line of
// hexadecimal digits holding the packet bytes.
#ifndef ANNC_LINE_CID_PACKET_H_
#define ANNC_LINE_CID_PACKET_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace annc {

// What a packet says. Text fields hold the bytes as sent.
struct CallerIdPacket {
  std::string number;            // SDMF number, or MDMF 02, else 03; else the MDMF 04 reason ("P", "O")
  std::string name;              // MDMF 07; empty when absent
  std::string nameAbsentReason;  // MDMF 08 ("P", "O"); empty when absent
  std::string dateTime;          // "MMDDHHMM" as sent; empty when absent
  std::vector<std::string> warnings;  // e.g. "bad checksum", "length says 18, packet has 17"
};

// Decodes one line from the modem as a caller-ID packet: type, length (of the
// payload), payload, checksum (all bytes add up to 0 modulo 256). Type 04 is
// a single-message packet (8 bytes MMDDHHMM, then the number); type 80 a
// multiple-message one (parameters: tag, length, data). Blanks around the
// line are allowed.
//
// nullopt when the line is not such a packet at all: not an even number of
// hexadecimal digits, fewer than 3 bytes, more bytes than any packet can
// hold, or an unknown type. A packet with a wrong length or checksum still
// gives what decodes cleanly, with warnings; a parameter cut short by the
// end of the packet is left out.
std::optional<CallerIdPacket> DecodeHexPacket(std::string_view line);

}  // namespace annc

#endif  // ANNC_LINE_CID_PACKET_H_
