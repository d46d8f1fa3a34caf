// The hex caller-ID packet decoder, two ways on each input:
// - the input itself as a line from the modem: no crash, and every field
//   no longer than the bytes the line's digits can hold;
// - a packet built from the input (single- or multiple-message, random tags,
//   lengths and bytes, a correct length and checksum, hex digits in either
//   case, blanks around), which must decode to the fields a reference model
//   of the format expects, with the warnings the model expects.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line/sources/modem/cid_packet.h"

namespace {

[[noreturn]] void Fail(const char* what, std::string_view line) {
  std::fprintf(stderr, "%s: line of %zu bytes \"", what, line.size());
  for (unsigned char c : line) std::fprintf(stderr, c >= 32 && c < 127 ? "%c" : "\\x%02x", c);
  std::fprintf(stderr, "\"\n");
  std::abort();
}

// What a packet is expected to decode to.
struct Model {
  std::optional<std::string> number, dialable, numberAbsent, name, nameAbsent, dateTime;
  std::vector<std::string> warnings;
  bool dateWarned = false;

  static void First(std::optional<std::string>& field, const std::string& data) {
    if (!field) field = data;
  }

  void Take(std::uint8_t tag, const std::string& data) {
    switch (tag) {
      case 0x01:
        if (data.size() == 8) {
          First(dateTime, data);
        } else if (!dateWarned) {
          warnings.push_back("date and time has " + std::to_string(data.size()) + " bytes");
          dateWarned = true;
        }
        break;
      case 0x02: First(number, data); break;
      case 0x03: First(dialable, data); break;
      case 0x04: First(numberAbsent, data); break;
      case 0x07: First(name, data); break;
      case 0x08: First(nameAbsent, data); break;
      default: break;
    }
  }

  std::string Number() const { return number ? *number : dialable ? *dialable : numberAbsent.value_or(""); }
};

std::string Encode(FuzzedDataProvider& in, std::string_view bytes) {
  static constexpr char kUpper[] = "0123456789ABCDEF";
  static constexpr char kLower[] = "0123456789abcdef";
  static constexpr char kBlanks[] = " \t\r\n";
  std::string line(in.ConsumeIntegralInRange<int>(0, 3), kBlanks[in.ConsumeIntegralInRange<int>(0, 3)]);
  bool lower = in.ConsumeBool();
  for (unsigned char b : bytes) {
    const char* digits = lower ? kLower : kUpper;
    line += digits[b >> 4];
    line += digits[b & 0x0f];
  }
  line.append(in.ConsumeIntegralInRange<int>(0, 3), kBlanks[in.ConsumeIntegralInRange<int>(0, 3)]);
  return line;
}

void RoundTrip(FuzzedDataProvider& in) {
  Model model;
  std::string payload;
  bool multiple = in.ConsumeBool();
  if (!multiple) {
    std::string date = in.ConsumeBytesAsString(8);
    date.resize(8, '0');
    std::string number = in.ConsumeRandomLengthString(255 - 8);
    payload = date + number;
    model.dateTime = date;
    model.number = number;
  } else {
    int count = in.ConsumeIntegralInRange<int>(0, 12);
    for (int i = 0; i < count; ++i) {
      static constexpr std::uint8_t kTags[] = {0x01, 0x02, 0x03, 0x04, 0x07, 0x08};
      std::uint8_t tag = in.ConsumeBool() ? in.PickValueInArray(kTags) : in.ConsumeIntegral<std::uint8_t>();
      std::string data = (tag == 0x01 && in.ConsumeBool()) ? in.ConsumeBytesAsString(8)
                                                           : in.ConsumeRandomLengthString(64);
      if (payload.size() + 2 + data.size() > 255) break;
      payload += static_cast<char>(tag);
      payload += static_cast<char>(data.size());
      payload += data;
      model.Take(tag, data);
    }
  }
  std::string bytes = std::string(1, multiple ? '\x80' : '\x04') + static_cast<char>(payload.size()) + payload;
  unsigned sum = 0;
  for (unsigned char b : bytes) sum += b;
  bytes += static_cast<char>((256 - sum % 256) % 256);
  std::string line = Encode(in, bytes);

  std::optional<annc::CallerIdPacket> packet = annc::DecodeHexPacket(line);
  if (!packet) Fail("a well-formed packet was not decoded", line);
  if (packet->number != model.Number()) Fail("number differs", line);
  if (packet->name != model.name.value_or("")) Fail("name differs", line);
  if (packet->nameAbsentReason != model.nameAbsent.value_or("")) Fail("name reason differs", line);
  if (packet->dateTime != model.dateTime.value_or("")) Fail("date and time differ", line);
  if (packet->warnings != model.warnings) Fail("warnings differ", line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  std::optional<annc::CallerIdPacket> packet = annc::DecodeHexPacket(line);
  if (packet) {
    std::size_t most = size / 2;
    for (const std::string* field : {&packet->number, &packet->name, &packet->nameAbsentReason, &packet->dateTime}) {
      if (field->size() > most) Fail("a field is longer than the packet", line);
    }
    if (packet->dateTime.size() != 0 && packet->dateTime.size() != 8) Fail("date and time not 8 bytes", line);
    if (packet->warnings.size() > 4) Fail("more warnings than a packet can earn", line);
  }

  FuzzedDataProvider in(data, size);
  RoundTrip(in);
  return 0;
}
