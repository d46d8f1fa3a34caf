// The real platform: ALSA and libsndfile for sound, termios and poll for the
// console and the serial line, the local clock.
#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <poll.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/samples.h"
#include "platform/terminal.h"
#include "text/caseless.h"
#include "text/key_sequence.h"

namespace annc {
namespace {

// Keeps alsa-lib from printing its own diagnostics on standard error, where
// only the beeps belong.
void SilentAlsaError(const char*, int, const char*, int, const char*, ...) {}

// How long the poll waits for each further byte of a key that has begun
// (an escape sequence, a multibyte character): a terminal sends a key's
// bytes together, a slow link may space them a little.
constexpr int kKeyByteWaitMs = 10;

// Whether two descriptors are the same terminal device.
bool SameTerminal(int a, int b) {
  struct stat sa;
  struct stat sb;
  if (::fstat(a, &sa) != 0 || ::fstat(b, &sb) != 0) return false;
  if (S_ISCHR(sa.st_mode) && S_ISCHR(sb.st_mode) && sa.st_rdev == sb.st_rdev) return true;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

class LinuxPlatform : public Platform {
 public:
  LinuxPlatform() {
    snd_lib_error_set_handler(SilentAlsaError);
    // A reader that went away must show as a failed write, not kill us.
    ::signal(SIGPIPE, SIG_IGN);
    stdoutIsTerminal_ = ::isatty(STDOUT_FILENO) == 1;
    stdinIsTerminal_ = ::isatty(STDIN_FILENO) == 1;
  }
  ~LinuxPlatform() override { ClosePcm(); }

  bool WaveDeviceAvailable() override {
    if (pcm_ != nullptr) return true;
    if (snd_pcm_open(&pcm_, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0) {
      pcm_ = nullptr;
      return false;
    }
    rate_ = 0;
    channels_ = 0;
    return true;
  }

  bool PlaySoundFile(const std::string& path) override {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return false;
    bool played = PlayDecoded(file, info);
    sf_close(file);
    return played;
  }

  void Beep() override { (void)WriteAll(STDERR_FILENO, "\a"); }

  bool IsRegularFile(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  std::string ExecutablePath() override { return annc::ExecutablePath(); }

  LocalTime Now() override {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                     local.tm_hour,        local.tm_min,     local.tm_sec};
  }

  void Sleep(int milliseconds) override {
    if (milliseconds <= 0) return;
    timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  void WriteOut(std::string_view bytes) override {
    if (int error = WriteAll(STDOUT_FILENO, bytes); error != 0) {
      ThrowIoError(IoErrorText(error), ANNC_FAILING_SITE());
    }
  }

  bool StdoutIsTerminal() override { return stdoutIsTerminal_; }

  void TakeConsole() override { terminal::TakeConsole(); }

  void ShowTitle(std::string_view sequence) override {
    if (int error = terminal::ShowTitle(sequence); error != 0) {
      ThrowIoError(IoErrorText(error), ANNC_FAILING_SITE());
    }
  }

  void GiveConsoleBack() override { terminal::GiveConsoleBack(); }

  int PollKey() override {
    // After a background start or a stop the console is taken when the
    // process is in front again; until then no key is read.
    terminal::TakeConsole();
    if (stdinIsTerminal_ && !terminal::InForeground(STDIN_FILENO)) return 0;
    unsigned char c = 0;
    if (terminal::ReadKeyboardByte(&c, 0) != 1) return 0;  // end of input or an error is no key
    if (!stdinIsTerminal_) return c != 0 ? c : 256;
    // The rest of the key, so that none of it is left for the shell.
    KeySequence key(LocaleIsUtf8());
    unsigned char more;
    if (!key.Add(c)) {
      while (terminal::ReadKeyboardByte(&more, kKeyByteWaitMs) == 1 && !key.Add(more)) {
      }
    }
    return c;  // a NUL byte from a terminal is no key
  }

  int SerialCheckTerminal(int fd) override {
    termios tio;
    if (::tcgetattr(fd, &tio) != 0) return errno;
    // The user's own terminal is the keyboard, not a modem line.
    if (SameTerminal(fd, STDIN_FILENO)) return ENOTTY;
    return 0;
  }

  int SerialMakeRaw(int fd) override {
    termios saved;
    if (::tcgetattr(fd, &saved) != 0) return errno;
    termios tio = saved;
    // Reads never block: the time-out is a poll around each read.
    TermiosFields changed;
    changed.lflag = ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN;
    changed.iflag = INLCR | IGNCR | ICRNL;
    changed.minAndTime = true;
    tio.c_lflag &= ~changed.lflag;
    tio.c_iflag &= ~changed.iflag;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return terminal::TakeLine(fd, saved, tio, changed);
  }

  void SerialGiveBack(int) override { terminal::GiveLineBack(); }

  int SerialFlush(int fd) override {
    if (::tcflush(fd, TCIOFLUSH) != 0) return errno;
    return 0;
  }

  SerialByte SerialReadByte(int fd, int timeoutMs) override {
    SerialByte result;
    pollfd p{fd, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs)) < 0 && errno == EINTR) {
    }
    if (ready < 0) {
      result.status = SerialByte::kError;
      result.error = errno;
      return result;
    }
    if (ready == 0) return result;  // nothing within the time-out
    if (p.revents & POLLNVAL) {
      result.status = SerialByte::kError;
      result.error = EBADF;
      return result;
    }
    ssize_t n;
    while ((n = ::read(fd, &result.byte, 1)) < 0 && errno == EINTR) {
    }
    if (n == 1) {
      result.status = SerialByte::kByte;
    } else if (n == 0) {
      result.status = SerialByte::kEndOfFile;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      result.status = SerialByte::kNothing;
    } else {
      result.status = SerialByte::kError;
      result.error = errno;
    }
    return result;
  }

 private:
  bool Configure(unsigned rate, unsigned channels) {
    if (rate == rate_ && channels == channels_) {
      // Same format as the last word: the device is only prepared again.
      snd_pcm_state_t state = snd_pcm_state(pcm_);
      if (state == SND_PCM_STATE_PREPARED) return true;
      if (snd_pcm_prepare(pcm_) == 0) return true;
    }
    rate_ = channels_ = 0;
    snd_pcm_drop(pcm_);
    if (snd_pcm_set_params(pcm_, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, channels, rate,
                           1 /* resample */, 100000 /* us */) < 0) {
      return false;
    }
    rate_ = rate;
    channels_ = channels;
    return true;
  }

  bool PlayDecoded(SNDFILE* file, const SF_INFO& info) {
    constexpr int kMaxChannels = 64;
    if (info.channels < 1 || info.channels > kMaxChannels || info.samplerate < 1) return false;
    if (!WaveDeviceAvailable()) return false;
    if (!Configure(static_cast<unsigned>(info.samplerate), static_cast<unsigned>(info.channels))) {
      return false;
    }
    // Floating-point recordings are read as they are and converted here at
    // their own level: libsndfile would either scale each file to its own
    // peak or, without that, turn +-1.0 into +-1.
    const int subformat = info.format & SF_FORMAT_SUBMASK;
    const bool floating = subformat == SF_FORMAT_FLOAT || subformat == SF_FORMAT_DOUBLE;
    constexpr sf_count_t kChunkFrames = 2048;
    const std::size_t chunkSamples = static_cast<std::size_t>(kChunkFrames) * static_cast<std::size_t>(info.channels);
    samples_.resize(chunkSamples);
    if (floating) floatSamples_.resize(chunkSamples);
    bool failed = false;
    for (;;) {
      sf_count_t frames;
      if (floating) {
        frames = sf_readf_float(file, floatSamples_.data(), kChunkFrames);
        if (frames > 0) {
          ShortSamplesOf(floatSamples_.data(), static_cast<std::size_t>(frames * info.channels), samples_.data());
        }
      } else {
        frames = sf_readf_short(file, samples_.data(), kChunkFrames);
      }
      if (frames <= 0) break;
      const short* p = samples_.data();
      while (frames > 0) {
        snd_pcm_sframes_t written = snd_pcm_writei(pcm_, p, static_cast<snd_pcm_uframes_t>(frames));
        if (written < 0) {
          if (snd_pcm_recover(pcm_, static_cast<int>(written), 1) < 0) {
            failed = true;
            break;
          }
          continue;
        }
        p += written * info.channels;
        frames -= written;
      }
      if (failed) break;
    }
    if (failed) {
      // The device is gone or broken: open it afresh for the next word.
      ClosePcm();
      return false;
    }
    // Synchronous: return when the last sample has been played.
    if (snd_pcm_drain(pcm_) < 0) {
      ClosePcm();
      return false;
    }
    return true;
  }

  void ClosePcm() {
    if (pcm_ != nullptr) {
      snd_pcm_close(pcm_);
      pcm_ = nullptr;
    }
    rate_ = channels_ = 0;
  }

  snd_pcm_t* pcm_ = nullptr;
  unsigned rate_ = 0;
  unsigned channels_ = 0;
  std::vector<short> samples_;
  std::vector<float> floatSamples_;
  bool stdoutIsTerminal_ = false;
  bool stdinIsTerminal_ = false;
};

}  // namespace

Platform& RealPlatform() {
  static LinuxPlatform platform;
  return platform;
}

void KeepStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Opened against its use (standard input for writing, the outputs for
    // reading), so that using it fails as it did while it was closed: a
    // closed standard output still ends the program with its write error.
    // The lowest free number is `fd` itself, the lower ones being open.
    (void)::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
  }
}

}  // namespace annc
