// The one seam between the program and the operating system: sound, clock,
// pauses, console and the serial line. The real implementation talks to ALSA,
// libsndfile, termios and the clock; unit tests install a fake.
#ifndef ANNC_PLATFORM_PLATFORM_H_
#define ANNC_PLATFORM_PLATFORM_H_

#include <string>
#include <string_view>

namespace annc {

struct LocalTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Outcome of one attempt to read one byte from the serial line.
struct SerialByte {
  enum Status { kByte, kNothing, kEndOfFile, kError };
  Status status = kNothing;
  unsigned char byte = 0;
  int error = 0;  // errno for kError
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Sound. WaveDeviceAvailable() is asked before every word; PlaySoundFile()
  // plays a file synchronously and returns false when it could not be
  // decoded or played. Beep() is the audible fallback.
  virtual bool WaveDeviceAvailable() = 0;
  virtual bool PlaySoundFile(const std::string& path) = 0;
  virtual void Beep() = 0;
  // True only for an existing regular file.
  virtual bool IsRegularFile(const std::string& path) = 0;

  // The full path of the running executable.
  virtual std::string ExecutablePath() = 0;

  // Clock and pauses.
  virtual LocalTime Now() = 0;
  virtual void Sleep(int milliseconds) = 0;

  // Console. WriteOut() writes bytes to standard output at once and throws
  // IoError when the write fails.
  virtual void WriteOut(std::string_view bytes) = 0;
  virtual bool StdoutIsTerminal() = 0;
  // Takes the console at start-up: a terminal on standard input is switched
  // to single keys without echo, so that keys typed meanwhile are neither
  // echoed nor lost. A process that is not in the terminal's foreground
  // leaves it alone; the polls take it when it is.
  virtual void TakeConsole() = 0;
  // Shows a title sequence on the terminal on standard output, the user's
  // title saved on the terminal's title stack first (kSaveTitle). Throws
  // IoError when the write fails.
  virtual void ShowTitle(std::string_view sequence) = 0;
  // Gives the console back as it was: the user's title (kRestoreTitle, when
  // ours was shown) and the keyboard's settings. Safe to call more than
  // once; never fails.
  virtual void GiveConsoleBack() = 0;
  // Non-blocking poll of standard input; consumes at most one key: on a
  // terminal every byte of it that has arrived (an escape sequence, a
  // multibyte character). Returns non-zero for a key press. A process that
  // is not in the terminal's foreground reads nothing.
  virtual int PollKey() = 0;

  // The serial line on an inherited descriptor. Each step returns 0 or an
  // errno value.
  // Whether the descriptor is a terminal line at all.
  virtual int SerialCheckTerminal(int fd) = 0;
  // Bytes as they come: unechoed, untranslated, reads that never block.
  // Speed, parity, flow control and the modem lines stay as they were set.
  virtual int SerialMakeRaw(int fd) = 0;
  // Throws away what was received and not yet read, and what was written
  // and not yet sent.
  virtual int SerialFlush(int fd) = 0;
  // Reads one byte, waiting at most timeoutMs milliseconds (0: only what is
  // already there).
  virtual SerialByte SerialReadByte(int fd, int timeoutMs) = 0;
  // Gives the line back: the settings it had before SerialMakeRaw, applied
  // at once and with nothing flushed, so that what the modem sent after the
  // last byte read stays for the launcher. Does nothing when the line was
  // not made raw.
  virtual void SerialGiveBack(int fd) = 0;
};

// The platform in use: the real one unless a test installed another.
Platform& Sys();
// Installs `platform` (not owned) and returns the previous one; nullptr
// restores the real platform.
Platform* SetPlatform(Platform* platform);

// Writes `text` and CR LF to standard output at once.
void WriteLine(std::string_view text);

// Shows `text` as the terminal window's title when standard output is a
// terminal, with every control byte dropped; does nothing otherwise.
void SetConsoleTitle(std::string_view text);

// Opens each standard descriptor (0, 1, 2) that is closed on /dev/null, so
// that nothing the program opens later (a log, a phone book, the sound
// device) takes its number and is used as the keyboard or the console.
// Called first thing in main.
void KeepStandardDescriptors();

// Save the terminal's title on its title stack, and restore it from there.
// A terminal that does not know them ignores them.
constexpr std::string_view kSaveTitle = "\x1b[22;0t";
constexpr std::string_view kRestoreTitle = "\x1b[23;0t";

// How a failed system operation is reported in annc: " Operation " and the
// system's text (SystemErrorText, errors.h) for the error number, fit for the console.
std::string FailureText(std::string_view operation, int error);
// The same with a text of the program's own where no error number applies.
std::string FailureText(std::string_view operation, std::string_view text);

}  // namespace annc

#endif  // ANNC_PLATFORM_PLATFORM_H_
