// The NCID client's text handling on arbitrary bytes:
// - the input as a line from the server: no crash, the fields found are
//   parts of the line, and the kind agrees with the ring count;
// - CID and CIDINFO lines built from the input (fields in random order,
//   unknown and repeated keys, random values without '*' or line ends) must
//   give back what was put in;
// - the input as an ncid: argument, a version in the greeting, and a
//   received number.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "line/calls/caller_number.h"
#include "line/sources/server/ncid_line.h"
#include "line/sources/server/server_argument.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Fail;

using fuzz::Within;

void CheckLine(std::string_view line) {
  annc::NcidEvent event = annc::ParseNcidLine(line);
  for (const std::string* field : {&event.lineId, &event.number, &event.name}) {
    if (!Within(*field, line)) Fail("a field is not part of the line", line);
  }
  bool fields = !event.lineId.empty() || !event.number.empty() || !event.name.empty();
  switch (event.kind) {
    case annc::NcidEvent::kIgnored:
    case annc::NcidEvent::kStartupDone:
      if (fields || event.ring != 0) Fail("fields on a line that carries none", line);
      break;
    case annc::NcidEvent::kCall:
      if (event.ring != 0) Fail("a ring count on a call", line);
      break;
    case annc::NcidEvent::kRing:
      if (event.ring <= 0 || !event.number.empty() || !event.name.empty()) Fail("a ring that is not one", line);
      break;
    case annc::NcidEvent::kCallEnded:
      if (event.ring > 0 || event.ring < -3) Fail("an end that is not one", line);
      break;
  }
}

std::string Value(FuzzedDataProvider& in) {
  std::string value = in.ConsumeRandomLengthString(40);
  value.erase(std::remove_if(value.begin(), value.end(), [](char c) { return c == '*' || c == '\r' || c == '\n'; }),
              value.end());
  return value;
}

void CheckBuiltLines(FuzzedDataProvider& in) {
  static constexpr const char* kKeys[] = {"LINE", "NMBR", "NAME", "DATE", "TIME", "MESG", "RING", "X"};
  std::string fields = "*";
  std::string want[3];  // LINE, NMBR, NAME: the first of each
  bool seen[3] = {false, false, false};
  std::string ring;
  int count = in.ConsumeIntegralInRange<int>(0, 10);
  for (int i = 0; i < count; ++i) {
    std::size_t key = in.ConsumeIntegralInRange<std::size_t>(0, std::size(kKeys) - 1);
    std::string value = Value(in);
    fields += std::string(kKeys[key]) + "*" + value + "*";
    if (key < 3 && !seen[key]) {
      seen[key] = true;
      want[key] = value;
    }
  }
  std::string call = "CID: " + fields;
  annc::NcidEvent event = annc::ParseNcidLine(call);
  if (event.kind != annc::NcidEvent::kCall || event.lineId != want[0] || event.number != want[1] ||
      event.name != want[2]) {
    Fail("CID line read back wrong", call);
  }

  int n = in.ConsumeIntegralInRange<int>(-10, 1000);
  std::string info = "CIDINFO: *LINE*" + want[0] + "*RING*" + std::to_string(n) + "*TIME*12:00:00*";
  event = annc::ParseNcidLine(info);
  annc::NcidEvent::Kind kind = n > 0 ? annc::NcidEvent::kRing
                               : n >= -3 ? annc::NcidEvent::kCallEnded
                                         : annc::NcidEvent::kIgnored;
  if (event.kind != kind) Fail("CIDINFO line read back wrong", info);
  if (kind != annc::NcidEvent::kIgnored && (event.ring != n || event.lineId != want[0])) {
    Fail("CIDINFO fields read back wrong", info);
  }
}

void CheckSource(std::string_view text) {
  std::string argument = "ncid:" + std::string(text);
  annc::ParsedServerSource parsed = annc::ParseServerSource(argument, annc::kNcidServer, annc::Charset::kSingleByte);
  if (parsed.source) {
    const annc::ServerSource& source = *parsed.source;
    if (source.host.empty() || source.host.size() > 253 || !Within(source.host, text)) Fail("bad host", argument);
    if (source.port < 1 || source.port > 65535) Fail("bad port", argument);
  } else {
    if (parsed.error.empty()) Fail("refused without a reason", argument);
    for (unsigned char c : parsed.error) {
      if (c < 32 || c == 127) Fail("control byte in the error text", argument);
    }
  }
}

void CheckHello(std::string_view version) {
  std::string hello = annc::NcidHello(version);
  const std::string_view tail = "\r\nHELLO: CMD: no_log\r\n";
  if (hello.rfind("HELLO: IDENT: client annc-line", 0) != 0 || hello.size() < tail.size() ||
      hello.compare(hello.size() - tail.size(), tail.size(), tail) != 0 ||
      std::count(hello.begin(), hello.end(), '\n') != 2 || std::count(hello.begin(), hello.end(), '\r') != 2) {
    Fail("greeting not two lines", version);
  }
}

void CheckNumber(std::string_view raw) {
  std::string number = annc::AnnouncedNumber(raw);
  if (number.empty()) Fail("empty number", raw);
  if (number != "Unknown" && !Within(number, raw)) Fail("number not part of the input", raw);
  if (static_cast<unsigned char>(number.front()) <= 32 || static_cast<unsigned char>(number.back()) <= 32) {
    Fail("number not trimmed", raw);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckLine(text);
  CheckSource(text);
  CheckHello(text);
  CheckNumber(text);
  FuzzedDataProvider in(data, size);
  CheckBuiltLines(in);
  return 0;
}
