// The modem's line assembly on arbitrary byte streams, in two ways: byte by
// byte through TakeModemByte, and in bursts through DrainModem reading the
// platform fake's serial line. Both are compared with a reference that keeps
// every line whole.
//
// Input: byte 0 holds flags (bit 0: standard output is a terminal); the
// stream comes from the front of the rest, the burst lengths from its back.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "log/event_log.h"
#include "modem/result_watcher.h"
#include "modem/serial_line.h"
#include "platform/errors.h"
#include "platform/fake_platform.h"

namespace {

constexpr std::size_t kLongestCode = 12;  // "NO DIAL TONE"

[[noreturn]] void Fail(const char* what, std::string_view stream, std::size_t at) {
  std::fprintf(stderr, "%s at byte %zu of \"", what, at);
  for (unsigned char c : stream) std::fprintf(stderr, c >= 32 && c < 127 ? "%c" : "\\x%02x", c);
  std::fprintf(stderr, "\"\n");
  std::abort();
}

bool IsResultCode(const std::string& line) {
  static const std::vector<std::string> kCodes = {"OK",          "NO CARRIER", "BUSY", "NO DIAL TONE",
                                                  "NO DIALTONE", "RINGING",    "RING"};
  return std::find(kCodes.begin(), kCodes.end(), line) != kCodes.end();
}

// The modem's output so far, every line kept whole.
struct ReferenceLine {
  std::string line;
  // Whether this byte ends a line that is a result code.
  bool Take(unsigned char byte) {
    if (byte != '\r' && byte != '\n') {
      line += static_cast<char>(byte);
      return false;
    }
    bool code = IsResultCode(line);
    line.clear();
    return code;
  }
};

// What a terminal is shown for one byte from the modem, in the C locale the
// fuzzer runs in: C0 controls and DEL in caret notation, the C1 controls
// (0x80-0x9f) as "M-^X".
std::string Shown(unsigned char byte, bool terminal) {
  bool control = byte < 32 || byte == 127;
  bool c1 = byte >= 0x80 && byte <= 0x9f;
  bool kept = byte == '\r' || byte == '\n' || byte == '\t' || byte == '\b';
  if (!terminal || (!control && !c1) || kept) return std::string(1, static_cast<char>(byte));
  if (c1) return std::string{'M', '-', '^', static_cast<char>(byte - 0x80 + 64)};
  return std::string{'^', static_cast<char>(byte == 127 ? '?' : byte + 64)};
}

void ByteByByte(std::string_view stream) {
  annc::ModemLineBuffer.Clear();
  ReferenceLine reference;
  for (std::size_t i = 0; i < stream.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(stream[i]);
    bool got = annc::TakeModemByte(byte);
    if (got != reference.Take(byte)) Fail(got ? "false result code" : "result code missed", stream, i);
    const annc::ModemLine& kept = annc::ModemLineBuffer;
    if (kept.text.size() > kLongestCode) Fail("line buffer grew beyond the longest code", stream, i);
    // What is kept is the start of the line; a line too long for any code is marked.
    bool tooLong = reference.line.size() > kLongestCode;
    if (kept.text != reference.line.substr(0, kLongestCode) || kept.overlong != tooLong) {
      Fail("line buffer does not hold the line's start", stream, i);
    }
  }
}

void InBursts(std::string_view stream, const std::vector<std::size_t>& bursts, bool terminal) {
  annc::FakePlatform fake;
  fake.stdoutTerminal = terminal;
  annc::ModemLineBuffer.Clear();
  annc::ModemEcho.Clear();
  annc::SerialLine = 7;  // any open line; the fake ignores the number
  ReferenceLine reference;
  std::string shown;
  std::size_t at = 0;
  for (std::size_t burst : bursts) {
    std::string_view bytes = stream.substr(at, burst);
    fake.ModemSends(bytes);
    fake.events.clear();
    // The burst is read up to and including the first byte that ends a result-code line.
    std::size_t readUpTo = bytes.size();
    bool codeSeen = false;
    for (std::size_t k = 0; k < bytes.size() && !codeSeen; ++k) {
      shown += Shown(static_cast<unsigned char>(bytes[k]), terminal);
      if (reference.Take(static_cast<unsigned char>(bytes[k]))) {
        readUpTo = k + 1;
        codeSeen = true;
      }
    }
    int exitCode = 0;
    bool any = false;
    try {
      any = annc::DrainModem();
    } catch (const annc::ExitRequest& request) {
      exitCode = request.code;
    }
    at += readUpTo;
    if (fake.out != shown) Fail("echo differs from what the modem sent", stream, at);
    if (fake.serial.size() != bytes.size() - readUpTo) Fail("read too much or too little", stream, at);
    if (exitCode != 0 && exitCode != 99) Fail("exit code is not 99", stream, at);
    if (codeSeen != (exitCode == 99)) Fail(codeSeen ? "result code missed" : "false result code", stream, at);
    if (codeSeen) break;  // the program ends here
    if (any != !bytes.empty()) Fail("DrainModem misreported whether it read", stream, at);
    if (annc::ModemLineBuffer.text.size() > kLongestCode) Fail("line buffer grew", stream, at);
  }
  annc::SerialLine = -1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  annc::LogFileName.clear();  // a failed read must not write a log here
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool terminal = (data[0] & 1) != 0;
  FuzzedDataProvider provider(data + 1, size - 1);
  // Burst lengths come from the back of the data, the stream is what remains.
  std::vector<std::size_t> bursts;
  std::size_t total = 0;
  while (provider.remaining_bytes() > total) {
    std::size_t burst = provider.ConsumeIntegralInRange<std::size_t>(0, 31);
    bursts.push_back(burst);
    total += burst;
  }
  std::string stream = provider.ConsumeRemainingBytesAsString();
  if (total < stream.size()) bursts.push_back(stream.size() - total);

  ByteByByte(stream);
  InBursts(stream, bursts, terminal);
  return 0;
}
