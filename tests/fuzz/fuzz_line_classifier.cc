// The modem line classifier, with the hex packet decoder, and the call
// tracker behind it, on arbitrary bytes:
// - the input as bytes from a modem, cut into lines of at most 256 bytes as
//   annc-line cuts them, each line classified (the whole input is classified
//   as one line too, for packets longer than that): every value is part of
//   its line, a packet line is nothing but hexadecimal digits and its fields
//   are no longer than its bytes, a ring starts with RING;
// - the call events of those lines fed to a call tracker, with time passing
//   and the announcer ending as the input says: an announcer is started only
//   while none runs, always with a number of digits alone or "Unknown", and
//   no deadline the tracker names stays after OnTimer has run at it;
// - an MDMF packet built from the input (a number of digits, a name), with
//   a correct length and checksum, must classify as a packet giving them back.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "line/calls/call_tracker.h"
#include "line/sources/modem/line_classifier.h"
#include "line/sources/line_reader.h"
#include "text/parse_integer.h"

namespace {

constexpr std::size_t kModemLine = 256;  // annc-line's modem line bound

[[noreturn]] void Fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "%s: %zu bytes \"", what, text.size());
  for (unsigned char c : text) std::fprintf(stderr, c >= 32 && c < 127 ? "%c" : "\\x%02x", c);
  std::fprintf(stderr, "\"\n");
  std::abort();
}

std::size_t HexDigits(std::string_view line) {
  std::size_t count = 0;
  for (char c : line) count += annc::HexDigit(c) >= 0 ? 1 : 0;
  return count;
}

void CheckLine(std::string_view line) {
  annc::ClassifiedLine got = annc::ClassifyLine(line);
  switch (got.kind) {
    case annc::ClassifiedLine::kPacket:
      if (HexDigits(line) % 2 != 0 || HexDigits(line) < 6) Fail("a packet of odd or too few digits", line);
      if (got.value.size() > HexDigits(line) / 2 || got.name.size() > HexDigits(line) / 2) {
        Fail("packet fields longer than its bytes", line);
      }
      for (const std::string& warning : got.warnings) {
        if (warning.empty()) Fail("an empty warning", line);
        for (unsigned char c : warning) {
          if (c < 32 || c == 127) Fail("a control byte in a warning", line);
        }
      }
      break;
    case annc::ClassifiedLine::kRing:
      if (line.find("RING") == std::string_view::npos) Fail("a ring without RING", line);
      [[fallthrough]];
    default:
      if (!got.name.empty() || !got.warnings.empty()) Fail("packet fields on another line", line);
      if (line.find(got.value) == std::string_view::npos) Fail("a value that is not part of the line", line);
      break;
  }
}

bool DigitsOrUnknown(const std::string& number) {
  if (number == "Unknown") return true;
  if (number.empty()) return false;
  for (char c : number) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Plays the lines as a modem sends them into a tracker, as the event loop
// does: time passes between lines, deadlines are run, the announcer ends.
class Loop {
 public:
  explicit Loop(std::string_view input) : input_(input) {}

  void Line(std::string_view line, FuzzedDataProvider& in) {
    Advance(in.ConsumeIntegralInRange<annc::Millis>(0, 3000));
    for (const annc::CallEvent& event : annc::ModemCallEvents(annc::ClassifyLine(line))) {
      Apply(tracker_.OnEvent(event, now_));
    }
    if (running_ && in.ConsumeBool()) {
      running_ = false;
      annc::AnnouncerExit exit{annc::AnnouncerExit::kExited, in.PickValueInArray({0, 1, 99, 254})};
      Apply(tracker_.OnAnnouncerExited(exit, now_));
    }
  }

  // Runs every deadline up to `step` milliseconds from now.
  void Advance(annc::Millis step) {
    annc::Millis until = now_ + step;
    for (auto d = tracker_.NextDeadline(); d && *d <= until; d = tracker_.NextDeadline()) {
      now_ = std::max(now_, *d);
      Apply(tracker_.OnTimer(now_));
      auto next = tracker_.NextDeadline();
      if (next && *next <= now_) Fail("a deadline stays after OnTimer", input_);
    }
    now_ = until;
  }

 private:
  void Apply(const annc::Actions& actions) {
    for (const annc::Action& action : actions) {
      if (action.kind != annc::Action::kStartAnnouncer) continue;
      if (running_) Fail("a second announcer started", input_);
      if (!DigitsOrUnknown(action.number)) Fail("a number that is not digits nor Unknown", input_);
      running_ = true;
    }
  }

  std::string_view input_;
  annc::CallTracker tracker_{annc::TrackerSettings{}};
  annc::Millis now_ = 0;
  bool running_ = false;
};

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0x0f];
  }
  return hex;
}

void CheckBuiltPacket(FuzzedDataProvider& in) {
  std::string number;
  std::size_t digits = in.ConsumeIntegralInRange<std::size_t>(0, 20);
  for (std::size_t i = 0; i < digits; ++i) number += static_cast<char>('0' + in.ConsumeIntegralInRange(0, 9));
  std::string name = in.ConsumeRandomLengthString(30);
  std::string payload = "\x01\x08" "05111852";
  payload += std::string("\x02") + static_cast<char>(number.size()) + number;
  if (!name.empty()) payload += std::string("\x07") + static_cast<char>(name.size()) + name;
  std::string packet = std::string("\x80") + static_cast<char>(payload.size()) + payload;
  unsigned sum = 0;
  for (unsigned char b : packet) sum += b;
  packet += static_cast<char>((256 - sum % 256) % 256);
  std::string line = Hex(packet);
  annc::ClassifiedLine got = annc::ClassifyLine(line);
  if (got.kind != annc::ClassifiedLine::kPacket || got.value != number || got.name != name || !got.warnings.empty()) {
    Fail("built packet read back wrong", line);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckLine(text);
  FuzzedDataProvider in(data, size);
  Loop loop(text);
  annc::LineReader reader(kModemLine);
  reader.Feed(text, [&](std::string_view line) {
    if (line.size() > kModemLine) Fail("a line over the bound", line);
    CheckLine(line);
    loop.Line(line, in);
  });
  loop.Advance(60000);
  CheckBuiltPacket(in);
  return 0;
}
