#include "platform/fake_platform.h"

#include "platform/errors.h"
#include "platform/files.h"
#include "text/paths.h"

namespace annc {

std::ostream& operator<<(std::ostream& out, const FakeEvent& event) {
  switch (event.kind) {
    case FakeEvent::kPlay:
      return out << "play " << event.file;
    case FakeEvent::kBeep:
      return out << "beep";
    case FakeEvent::kSleep:
      return out << "sleep " << event.ms;
    case FakeEvent::kRead:
      return out << "read " << event.ms;
  }
  return out;
}

FakePlatform::FakePlatform() : previous_(SetPlatform(this)) {}
FakePlatform::~FakePlatform() { SetPlatform(previous_); }

bool FakePlatform::WaveDeviceAvailable() { return deviceAvailable; }

bool FakePlatform::PlaySoundFile(const std::string& path) {
  if (unplayableFiles.count(BaseName(path)) != 0) return false;
  events.push_back(FakeEvent::Play(BaseName(path)));
  return true;
}

void FakePlatform::Beep() { events.push_back(FakeEvent::Beep()); }

bool FakePlatform::IsRegularFile(const std::string& path) {
  return missingFiles.count(BaseName(path)) == 0;
}

std::string FakePlatform::ExecutablePath() {
  return executablePath.empty() ? annc::ExecutablePath() : executablePath;
}

LocalTime FakePlatform::Now() { return time; }

void FakePlatform::Sleep(int milliseconds) { events.push_back(FakeEvent::Sleep(milliseconds)); }

void FakePlatform::WriteOut(std::string_view bytes) {
  if (writeError != 0) ThrowIoError(IoErrorText(writeError), 0);
  out.append(bytes);
}

bool FakePlatform::StdoutIsTerminal() { return stdoutTerminal; }

void FakePlatform::TakeConsole() { terminal.push_back("take console"); }

void FakePlatform::ShowTitle(std::string_view sequence) {
  WriteOut(std::string(kSaveTitle) + std::string(sequence));
  titleShown = true;
}

void FakePlatform::GiveConsoleBack() {
  terminal.push_back("give console back");
  if (titleShown) out.append(kRestoreTitle);
  titleShown = false;
}

int FakePlatform::PollKey() {
  if (keys.empty()) return 0;
  int key = keys.front();
  keys.pop_front();
  return key;
}

int FakePlatform::SerialCheckTerminal(int fd) {
  terminal.push_back("check " + std::to_string(fd));
  return checkTerminalError;
}

int FakePlatform::SerialMakeRaw(int fd) {
  terminal.push_back("raw " + std::to_string(fd));
  if (makeRawError == 0) lineRaw = true;
  return makeRawError;
}

int FakePlatform::SerialFlush(int fd) {
  terminal.push_back("flush " + std::to_string(fd));
  return flushError;
}

SerialByte FakePlatform::SerialReadByte(int, int timeoutMs) {
  events.push_back(FakeEvent::Read(timeoutMs));
  if (serial.empty()) return SerialByte{};
  SerialByte next = serial.front();
  serial.pop_front();
  return next;
}

void FakePlatform::SerialGiveBack(int fd) {
  terminal.push_back("give back " + std::to_string(fd));
  lineRaw = false;
}

void FakePlatform::ModemSends(std::string_view bytes) {
  for (char c : bytes) serial.push_back(SerialByte{SerialByte::kByte, static_cast<unsigned char>(c), 0});
}

}  // namespace annc
