// A platform for unit tests: records what would be played, slept and
// written, and serves a scripted clock, keyboard and serial line.
#ifndef ANNC_PLATFORM_FAKE_PLATFORM_H_
#define ANNC_PLATFORM_FAKE_PLATFORM_H_

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace annc {

class FakePlatform : public Platform {
 public:
  // Installs itself for the lifetime of the object.
  FakePlatform();
  ~FakePlatform() override;

  // Everything that happened, in order: "play <file>", "beep",
  // "sleep <ms>", "read <timeout>".
  std::vector<std::string> events;
  std::string out;  // bytes written to standard output

  bool deviceAvailable = true;
  std::set<std::string> missingFiles;     // file names (without folder) that do not exist
  std::set<std::string> unplayableFiles;  // exist but cannot be decoded
  LocalTime time{2026, 12, 8, 9, 5, 7};
  bool stdoutTerminal = false;
  int writeError = 0;  // when set, WriteOut throws this errno
  std::deque<int> keys;

  int getTimeoutsError = 0;
  int setTimeoutsError = 0;
  int purgeError = 0;
  std::deque<SerialByte> serial;  // what successive reads return; empty: nothing
  CommTimeouts appliedTimeouts;

  bool WaveDeviceAvailable() override;
  bool PlaySoundFile(const std::string& path) override;
  void Beep() override;
  bool IsRegularFile(const std::string& path) override;
  LocalTime Now() override;
  void Sleep(int milliseconds) override;
  void WriteOut(std::string_view bytes) override;
  bool StdoutIsTerminal() override;
  int PollKey() override;
  int SerialGetTimeouts(int fd, CommTimeouts* timeouts) override;
  int SerialSetTimeouts(int fd, const CommTimeouts& timeouts) override;
  int SerialPurge(int fd) override;
  SerialByte SerialReadByte(int fd, int timeoutMs) override;

  // Queues bytes the modem sends, each available at once.
  void ModemSends(std::string_view bytes);

 private:
  Platform* previous_;
};

// The file name after the last '/'.
std::string BaseName(const std::string& path);

}  // namespace annc

#endif  // ANNC_PLATFORM_FAKE_PLATFORM_H_
