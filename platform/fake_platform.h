// A platform for unit tests: records what would be played, slept and
// written, and serves a scripted clock, keyboard and serial line.
#ifndef ANNC_PLATFORM_FAKE_PLATFORM_H_
#define ANNC_PLATFORM_FAKE_PLATFORM_H_

#include <deque>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace annc {

// One thing the program did through the platform, in order.
struct FakeEvent {
  enum Kind { kPlay, kBeep, kSleep, kRead };
  Kind kind;
  std::string file;  // kPlay: the file name without its folder
  int ms = 0;        // kSleep: the pause; kRead: the read's time-out

  static FakeEvent Play(std::string file) { return {kPlay, std::move(file), 0}; }
  static FakeEvent Beep() { return {kBeep, {}, 0}; }
  static FakeEvent Sleep(int ms) { return {kSleep, {}, ms}; }
  static FakeEvent Read(int timeoutMs) { return {kRead, {}, timeoutMs}; }
  bool operator==(const FakeEvent&) const = default;
};
using FakeEvents = std::vector<FakeEvent>;
std::ostream& operator<<(std::ostream& out, const FakeEvent& event);

class FakePlatform : public Platform {
 public:
  // Installs itself for the lifetime of the object.
  FakePlatform();
  ~FakePlatform() override;

  FakeEvents events;
  std::string out;  // bytes written to standard output

  bool deviceAvailable = true;
  std::set<std::string> missingFiles;     // file names (without folder) that do not exist
  std::set<std::string> unplayableFiles;  // exist but cannot be decoded
  std::string executablePath;  // empty: the real one
  LocalTime time{2026, 12, 8, 9, 5, 7};
  bool stdoutTerminal = false;
  int writeError = 0;  // when set, WriteOut throws this errno
  std::deque<int> keys;

  int checkTerminalError = 0;
  int makeRawError = 0;
  int flushError = 0;
  bool lineRaw = false;
  std::deque<SerialByte> serial;  // what successive reads return; empty: nothing

  // What was done to the console and the serial line, in order: "take
  // console", "give console back", "check 7", "raw 7", "flush 7", "give
  // back 7".
  std::vector<std::string> terminal;
  bool titleShown = false;

  bool WaveDeviceAvailable() override;
  bool PlaySoundFile(const std::string& path) override;
  void Beep() override;
  bool IsRegularFile(const std::string& path) override;
  std::string ExecutablePath() override;
  LocalTime Now() override;
  void Sleep(int milliseconds) override;
  void WriteOut(std::string_view bytes) override;
  bool StdoutIsTerminal() override;
  void TakeConsole() override;
  void ShowTitle(std::string_view sequence) override;
  void GiveConsoleBack() override;
  int PollKey() override;
  int SerialCheckTerminal(int fd) override;
  int SerialMakeRaw(int fd) override;
  int SerialFlush(int fd) override;
  SerialByte SerialReadByte(int fd, int timeoutMs) override;
  void SerialGiveBack(int fd) override;

  // Queues bytes the modem sends, each available at once.
  void ModemSends(std::string_view bytes);

 private:
  Platform* previous_;
};

}  // namespace annc

#endif  // ANNC_PLATFORM_FAKE_PLATFORM_H_
