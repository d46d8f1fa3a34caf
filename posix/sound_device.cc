#include "posix/sound_device.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace annc {

namespace {

void SilentAlsaError(const char*, int, const char*, int, const char*, ...) {}

// ALSA's library is loaded here, in the child, alone: linked, its pages
// would stay mapped in annc-line for nothing.
std::optional<std::string> OpenDefaultDevice() {
  void* alsa = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
  auto open = alsa != nullptr ? reinterpret_cast<decltype(&::snd_pcm_open)>(::dlsym(alsa, "snd_pcm_open")) : nullptr;
  auto close = alsa != nullptr ? reinterpret_cast<decltype(&::snd_pcm_close)>(::dlsym(alsa, "snd_pcm_close")) : nullptr;
  auto strerror = alsa != nullptr ? reinterpret_cast<decltype(&::snd_strerror)>(::dlsym(alsa, "snd_strerror")) : nullptr;
  if (open == nullptr || close == nullptr || strerror == nullptr) {
    return std::string("ALSA's default sound device cannot be checked: libasound.so.2 cannot be loaded");
  }
  // ALSA's library writes its own lines to standard error (a journal full
  // of "ALSA lib ... Unknown PCM default" on a box without sound); the one
  // line annc-line says of it is enough.
  auto handler = reinterpret_cast<decltype(&::snd_lib_error_set_handler)>(::dlsym(alsa, "snd_lib_error_set_handler"));
  if (handler != nullptr) handler(SilentAlsaError);
  snd_pcm_t* pcm = nullptr;
  // Without waiting for a device another program holds.
  int error = open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (error == 0) close(pcm);
  if (error == 0) return std::nullopt;
  if (error == -EBUSY || error == -EAGAIN) return std::nullopt;  // there, only busy now
  return std::string("ALSA's default sound device cannot be opened: ") + strerror(error);
}

}  // namespace

std::optional<std::string> DefaultSoundDeviceProblem() {
  // Opened in a child that ends at once: ALSA's library, its configuration
  // and its plugins never become the long-running launcher's memory. The
  // child's answer comes back through a pipe.
  int pipe[2];
  // A check that cannot be made says nothing: it is advice, annc tells
  // for itself when it cannot play.
  if (::pipe2(pipe, O_CLOEXEC) != 0) return std::nullopt;
  pid_t child = ::fork();
  if (child < 0) {
    ::close(pipe[0]);
    ::close(pipe[1]);
    return std::nullopt;
  }
  if (child == 0) {
    ::close(pipe[0]);
    std::optional<std::string> problem = OpenDefaultDevice();
    if (problem) {
      std::string_view rest = *problem;
      while (!rest.empty()) {
        ssize_t n = ::write(pipe[1], rest.data(), rest.size());
        if (n <= 0 && errno != EINTR) break;
        if (n > 0) rest.remove_prefix(static_cast<std::size_t>(n));
      }
    }
    ::_exit(problem ? 1 : 0);
  }
  ::close(pipe[1]);
  std::string said;
  char buffer[256];
  for (;;) {
    ssize_t n = ::read(pipe[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || said.size() > 1024) break;
    said.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipe[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return std::nullopt;
  if (said.empty()) return std::string("ALSA's default sound device cannot be checked: the check ended abnormally");
  return said;
}

}  // namespace annc
