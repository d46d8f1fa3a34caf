// What the --on-call program writes, as annc-line turns it into status
// lines: arbitrary bytes (the program may echo a caller's name) written in
// up to eight pieces, run through the runner on the scripted fake system as
// annc-line's loop drives it, in both kinds of locale. Checked against a
// reference reading of the whole output: split at LF, each line's first
// kLineBytes kept, one CR at its end dropped, blank lines left out, the
// first maxLinesPerRun said (cleaned as record text) and the rest counted
// in one line; however the output was cut into pieces, the status lines are
// the same, and none holds a raw control character.
#include <fuzzer/FuzzedDataProvider.h>

#include <signal.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "line/calls/call_record.h"
#include "line/on_call/on_call_runner.h"
#include "posix/fake_line_system.h"
#include "tests/fuzz/fuzz_support.h"
#include "text/terminal_text.h"

namespace {

using fuzz::Fail;

constexpr annc::Millis kTakes = 1000;  // the program runs this long
constexpr pid_t kFirstPid = 4243;      // the fake's first program

std::vector<std::string> Expected(const std::string& output, const annc::OnCallSettings& settings) {
  std::vector<std::string> said;
  std::size_t leftOut = 0;
  auto say = [&](std::string_view line) {
    line = line.substr(0, annc::OnCallRunner::kLineBytes);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (annc::TrimBlanks(line).empty()) return;
    if (said.size() < settings.maxLinesPerRun) {
      said.push_back("hook: " + annc::RecordText(line, settings.charset));
    } else {
      ++leftOut;
    }
  };
  std::size_t start = 0;
  for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
    say(std::string_view(output).substr(start, end - start));
  }
  if (start < output.size()) say(std::string_view(output).substr(start));
  if (leftOut > 0) {
    said.push_back("hook: " + std::to_string(leftOut) + (leftOut == 1 ? " more line" : " more lines") +
                   " of output left out");
  }
  return said;
}

std::vector<std::string> Run(const std::vector<std::string>& writes, const annc::OnCallSettings& settings) {
  annc::FakeLineSystem fake;
  fake.programs.push_back(annc::FakeLineSystem::ProgramScript{"", kTakes, 0});
  annc::OnCallRunner runner(settings, fake, fake);
  annc::CallRecord record;
  record.id = 1;
  record.number = "5551234";
  runner.CallDecided(record, 0);
  for (std::size_t i = 0; i < writes.size(); ++i) {
    fake.At(static_cast<annc::Millis>(100 * (i + 1)), [&fake, &text = writes[i]] { fake.ProgramWrites(kFirstPid, text); });
  }
  // annc-line's loop, for the runner alone, until the program has ended.
  while (fake.now < 2 * kTakes) {
    std::vector<annc::Watch> watches = {annc::Watch{annc::FakeLineSystem::kSignalHandle, false, false}};
    runner.AddWatches(&watches);
    std::optional<annc::Millis> deadline = runner.NextDeadline();
    if (!deadline || *deadline > 2 * kTakes) deadline = 2 * kTakes;
    fake.Wait(&watches, deadline);
    runner.OnReady(watches, fake.now);
    if (watches[0].ready) {
      fake.Take();
      if (fake.Seen(SIGCHLD)) {
        fake.Clear(SIGCHLD);
        runner.Reap(fake.now);
      }
    }
    runner.OnTimer(fake.now);
  }
  // The status lines of the trace, "TIME: text", without their times.
  std::vector<std::string> status;
  for (const std::string& line : fake.trace) {
    std::size_t at = line.find(": ");
    if (at != std::string::npos && line.find_first_not_of("0123456789") == at) status.push_back(line.substr(at + 2));
  }
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 8192) return 0;
  std::string_view whole(reinterpret_cast<const char*>(data), size);
  FuzzedDataProvider input(data, size);
  annc::OnCallSettings settings;
  settings.program = "/usr/local/lib/hooks/hook";
  settings.charset = input.ConsumeBool() ? annc::Charset::kUtf8 : annc::Charset::kSingleByte;
  std::vector<std::string> writes;
  std::string output;
  for (int i = 0; i < 8 && input.remaining_bytes() > 0; ++i) {
    writes.push_back(input.ConsumeRandomLengthString(2048));
    output += writes.back();
  }
  std::vector<std::string> expected = Expected(output, settings);
  if (Run(writes, settings) != expected) Fail("status lines unlike the reference", whole);
  // Written all at once, it says the same.
  if (writes.size() > 1 && Run({output}, settings) != expected) Fail("status lines depend on the pieces", whole);
  for (const std::string& line : expected) {
    for (unsigned char c : line) {
      if (c < 0x20 || c == 0x7F) Fail("a raw control character in a status line", whole);
    }
  }
  return 0;
}
