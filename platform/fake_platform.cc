#include "platform/fake_platform.h"

#include "platform/errors.h"

namespace annc {

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

FakePlatform::FakePlatform() : previous_(SetPlatform(this)) {}
FakePlatform::~FakePlatform() { SetPlatform(previous_); }

bool FakePlatform::WaveDeviceAvailable() { return deviceAvailable; }

bool FakePlatform::PlaySoundFile(const std::string& path) {
  if (unplayableFiles.count(BaseName(path)) != 0) return false;
  events.push_back("play " + BaseName(path));
  return true;
}

void FakePlatform::Beep() { events.push_back("beep"); }

bool FakePlatform::IsRegularFile(const std::string& path) {
  return missingFiles.count(BaseName(path)) == 0;
}

LocalTime FakePlatform::Now() { return time; }

void FakePlatform::Sleep(int milliseconds) { events.push_back("sleep " + std::to_string(milliseconds)); }

void FakePlatform::WriteOut(std::string_view bytes) {
  if (writeError != 0) ThrowIoError(IoErrorText(writeError), 0);
  out.append(bytes);
}

bool FakePlatform::StdoutIsTerminal() { return stdoutTerminal; }

int FakePlatform::PollKey() {
  if (keys.empty()) return 0;
  int key = keys.front();
  keys.pop_front();
  return key;
}

int FakePlatform::SerialGetTimeouts(int, CommTimeouts* timeouts) {
  *timeouts = CommTimeouts{};
  return getTimeoutsError;
}

int FakePlatform::SerialSetTimeouts(int, const CommTimeouts& timeouts) {
  appliedTimeouts = timeouts;
  return setTimeoutsError;
}

int FakePlatform::SerialPurge(int) { return purgeError; }

SerialByte FakePlatform::SerialReadByte(int, int timeoutMs) {
  events.push_back("read " + std::to_string(timeoutMs));
  if (serial.empty()) return SerialByte{};
  SerialByte next = serial.front();
  serial.pop_front();
  return next;
}

void FakePlatform::ModemSends(std::string_view bytes) {
  for (char c : bytes) serial.push_back(SerialByte{SerialByte::kByte, static_cast<unsigned char>(c), 0});
}

}  // namespace annc
