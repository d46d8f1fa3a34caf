#include "line/sources/modem/cid_packet.h"

#include <cstdint>
#include <optional>

#include "text/parse_integer.h"
#include "text/terminal_text.h"

namespace annc {

namespace {

constexpr std::uint8_t kSingleMessage = 0x04;
constexpr std::uint8_t kMultipleMessage = 0x80;
constexpr std::size_t kDateTimeBytes = 8;  // MMDDHHMM
// Type, length, at most 255 bytes of payload, checksum.
constexpr std::size_t kLongestPacket = 1 + 1 + 255 + 1;

enum Tag : std::uint8_t {
  kDateTime = 0x01,
  kNumber = 0x02,
  kDialableNumber = 0x03,
  kNumberAbsent = 0x04,
  kName = 0x07,
  kNameAbsent = 0x08,
};

// The bytes the digits stand for; nullopt unless the text is an even number
// of hexadecimal digits and nothing else.
std::optional<std::string> HexBytes(std::string_view digits) {
  if (digits.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(digits.size() / 2);
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    int high = HexDigit(digits[i]);
    int low = HexDigit(digits[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return bytes;
}

std::string HexByte(std::uint8_t byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[byte >> 4], kDigits[byte & 0x0f]};
}

void DecodeSingleMessage(std::string_view payload, CallerIdPacket& packet) {
  if (payload.size() < kDateTimeBytes) {
    packet.warnings.push_back("date and time cut short");
    return;
  }
  packet.dateTime = payload.substr(0, kDateTimeBytes);
  packet.number = payload.substr(kDateTimeBytes);
}

// Parameters: tag, length, data. The first of each kind counts; unknown tags
// are skipped; a parameter that runs past the end is left out.
void DecodeMultipleMessage(std::string_view payload, CallerIdPacket& packet) {
  std::optional<std::string_view> number, dialable, numberAbsent, name, nameAbsent, dateTime;
  bool dateWarned = false;  // one warning is enough for the status line
  std::size_t pos = 0;
  while (pos < payload.size()) {
    if (payload.size() - pos < 2) {
      packet.warnings.push_back("parameter " + HexByte(static_cast<std::uint8_t>(payload[pos])) + " cut short");
      break;
    }
    auto tag = static_cast<std::uint8_t>(payload[pos]);
    auto length = static_cast<std::uint8_t>(payload[pos + 1]);
    pos += 2;
    if (payload.size() - pos < length) {
      packet.warnings.push_back("parameter " + HexByte(tag) + " cut short");
      break;
    }
    std::string_view data = payload.substr(pos, length);
    pos += length;
    auto keepFirst = [data](std::optional<std::string_view>& field) {
      if (!field) field = data;
    };
    switch (tag) {
      case kDateTime:
        if (data.size() == kDateTimeBytes) {
          keepFirst(dateTime);
        } else if (!dateWarned) {
          packet.warnings.push_back("date and time has " + std::to_string(data.size()) + " bytes");
          dateWarned = true;
        }
        break;
      case kNumber: keepFirst(number); break;
      case kDialableNumber: keepFirst(dialable); break;
      case kNumberAbsent: keepFirst(numberAbsent); break;
      case kName: keepFirst(name); break;
      case kNameAbsent: keepFirst(nameAbsent); break;
      default: break;
    }
  }
  if (number) {
    packet.number = *number;
  } else if (dialable) {
    packet.number = *dialable;
  } else if (numberAbsent) {
    packet.number = *numberAbsent;
  }
  if (name) packet.name = *name;
  if (nameAbsent) packet.nameAbsentReason = *nameAbsent;
  if (dateTime) packet.dateTime = *dateTime;
}

}  // namespace

std::optional<CallerIdPacket> DecodeHexPacket(std::string_view line) {
  std::string_view digits = TrimBlanks(line);
  if (digits.size() < 2 * 3 || digits.size() > 2 * kLongestPacket) return std::nullopt;
  std::optional<std::string> bytes = HexBytes(digits);
  if (!bytes) return std::nullopt;
  std::string_view packetBytes = *bytes;
  auto type = static_cast<std::uint8_t>(packetBytes[0]);
  if (type != kSingleMessage && type != kMultipleMessage) return std::nullopt;

  CallerIdPacket packet;
  std::size_t declared = static_cast<std::uint8_t>(packetBytes[1]);
  unsigned sum = 0;
  for (char byte : packetBytes) sum += static_cast<std::uint8_t>(byte);
  bool checksumOk = sum % 256 == 0;

  // Everything between the length and the last byte is payload, whatever the
  // length says: printed examples often get the length wrong. When the length
  // counts the last byte too and the sum is off, the checksum was left out.
  std::string_view payload = packetBytes.substr(2, packetBytes.size() - 3);
  if (!checksumOk && declared == packetBytes.size() - 2) {
    payload = packetBytes.substr(2);
    packet.warnings.push_back("no checksum");
  } else {
    if (declared != payload.size()) {
      packet.warnings.push_back("length says " + std::to_string(declared) + ", packet has " +
                                std::to_string(payload.size()));
    }
    if (!checksumOk) packet.warnings.push_back("bad checksum");
  }

  if (type == kSingleMessage) {
    DecodeSingleMessage(payload, packet);
  } else {
    DecodeMultipleMessage(payload, packet);
  }
  return packet;
}

}  // namespace annc
