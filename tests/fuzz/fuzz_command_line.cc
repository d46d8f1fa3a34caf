// Arbitrary argument vectors through SetArguments, FindSwitch, SwitchValue
// and FolderOf, and through the program's start-up (RunAnnc on the platform
// fake) for the caller's number, against plain re-statements of their rules.
//
// Input: byte 0 holds flags (bit 0: ignore case), then NUL-separated fields:
// a switch text, a set of switch characters, and the arguments after
// argument 0 (NUL cannot occur inside an argument).
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/annc.h"
#include "app/command_line.h"
#include "text/paths.h"
#include "log/event_log.h"
#include "modem/result_watcher.h"
#include "modem/serial_line.h"
#include "platform/fake_platform.h"
#include "voice/wave_player.h"

namespace {

std::string selfPath;
std::string initialSoundDir;

[[noreturn]] void Fail(const char* what, const std::vector<std::string>& argv) {
  std::fprintf(stderr, "%s\narguments:", what);
  for (const std::string& a : argv) {
    std::fprintf(stderr, " \"");
    for (unsigned char c : a) std::fprintf(stderr, c >= 32 && c < 127 ? "%c" : "\\x%02x", c);
    std::fprintf(stderr, "\"");
  }
  std::fprintf(stderr, "\n");
  std::abort();
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

// The index among `kept` (counted from 1) of the first argument whose first
// character is one of `chars` and whose next characters are `text`.
int ReferenceFind(const std::vector<std::string>& kept, std::string_view text, std::string_view chars,
                  bool ignoreCase) {
  for (std::size_t i = 0; i < kept.size(); ++i) {
    const std::string& a = kept[i];
    if (a.size() < 1 + text.size()) continue;
    bool isSwitchChar = false;
    for (char c : chars) isSwitchChar = isSwitchChar || c == a[0];
    if (!isSwitchChar) continue;
    bool same = true;
    for (std::size_t k = 0; k < text.size(); ++k) {
      char x = a[1 + k], y = text[k];
      if (ignoreCase ? Lower(x) != Lower(y) : x != y) same = false;
    }
    if (same) return static_cast<int>(i) + 1;
  }
  return 0;
}

void CheckSwitch(const std::vector<std::string>& argv, const std::vector<std::string>& kept,
                 std::string_view text, std::string_view chars, bool ignoreCase) {
  int got = annc::FindSwitch(text, chars, ignoreCase);
  if (got != ReferenceFind(kept, text, chars, ignoreCase)) Fail("FindSwitch: wrong argument", argv);
  if (got == 0) return;
  const std::string& a = kept[static_cast<std::size_t>(got) - 1];
  std::string value = annc::SwitchValue(got);
  if (value != (a.size() > 3 ? a.substr(3) : std::string())) Fail("SwitchValue: wrong value", argv);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char buffer[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) std::abort();
  selfPath.assign(buffer, static_cast<std::size_t>(n));
  // Start-up reads the phone book from the sound folder beside the
  // executable: give it one there.
  initialSoundDir = annc::SoundDir;
  std::string folder = annc::FolderOf(selfPath) + initialSoundDir;
  ::mkdir(folder.c_str(), 0777);
  std::FILE* book = std::fopen((folder + "aon.db").c_str(), "wb");
  if (book == nullptr) std::abort();
  std::fputs("5551234=Ann Lee\r\nunknown=Withheld\r\n:=Colon\r\n=Empty\r\n", book);
  std::fclose(book);
  return 0;
}

namespace {

bool IsLogSwitch(const std::string& a) {
  return a.size() >= 3 && (a[0] == '-' || a[0] == '/') && Lower(a[1]) == 'l' && a[2] == ':';
}

// Runs the program's start-up on the arguments with a key already pressed,
// so that it stops before the first announcement, and checks the number it
// took. No log is written: every log switch is emptied, and an empty one
// ends the list for arguments without any.
void CheckStartUp(std::vector<std::string> argv) {
  for (std::size_t i = 1; i < argv.size(); ++i) {
    if (IsLogSwitch(argv[i])) argv[i] = "/L:";
  }
  argv.push_back("/L:");
  std::vector<char*> pointers;
  for (std::string& a : argv) pointers.push_back(a.data());
  pointers.push_back(nullptr);

  annc::FakePlatform fake;
  fake.keys.push_back('q');
  annc::SoundDir = initialSoundDir;
  annc::CallerNumber.clear();
  annc::CallerName.clear();
  int code = annc::RunAnnc(static_cast<int>(argv.size()), pointers.data());
  if (code != 0) Fail("start-up did not end on the key", argv);
  if (!annc::LogFileName.empty()) Fail("a log file was chosen", argv);

  std::string first;
  for (std::size_t i = 1; i < argv.size() && first.empty(); ++i) first = argv[i];
  std::string expected;
  for (char c : first) {
    if (c == ':') break;
    expected += c;
  }
  if (annc::CallerNumber != expected) Fail("caller's number cut at the wrong place", argv);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool ignoreCase = (data[0] & 1) != 0;
  std::vector<std::string> fields;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  for (;;) {
    std::size_t nul = rest.find('\0');
    fields.emplace_back(rest.substr(0, nul));
    if (nul == std::string_view::npos) break;
    rest.remove_prefix(nul + 1);
  }
  if (fields.size() < 2) return 0;
  const std::string switchText = fields[0];
  const std::string switchChars = fields[1];

  // argv as a launcher passes it: argument 0 is a name of its choosing.
  std::vector<std::string> argv = {"annc"};
  argv.insert(argv.end(), fields.begin() + 2, fields.end());
  std::vector<char*> pointers;
  for (std::string& a : argv) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  annc::SetArguments(static_cast<int>(argv.size()), pointers.data());

  // Argument 0 is the running executable; empty arguments are dropped.
  std::vector<std::string> kept;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    if (!argv[i].empty()) kept.push_back(argv[i]);
  }
  if (annc::Arguments.size() != kept.size() + 1) Fail("SetArguments: wrong count", argv);
  if (annc::ArgumentCount() != static_cast<int>(kept.size())) Fail("ArgumentCount: wrong count", argv);
  if (annc::Arguments[0] != selfPath) Fail("SetArguments: argument 0 is not the executable", argv);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (annc::Arguments[i + 1] != kept[i]) Fail("SetArguments: argument changed or moved", argv);
  }

  // The program's own switches, then the ones the input asks for. An empty
  // set of switch characters is never used and is not checked.
  CheckSwitch(argv, kept, "L:", "-/", true);
  CheckSwitch(argv, kept, "H:", "-/", true);
  if (!switchChars.empty()) CheckSwitch(argv, kept, switchText, switchChars, ignoreCase);

  for (const std::string& a : annc::Arguments) {
    std::string folder = annc::FolderOf(a);
    std::size_t cut = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i] == '/') cut = i + 1;
    }
    if (folder != a.substr(0, cut)) Fail("FolderOf: wrong folder", argv);
  }

  CheckStartUp(argv);
  return 0;
}
