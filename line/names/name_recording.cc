#include "line/names/name_recording.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "book/phone_book_text.h"
#include "line/names/caller_name.h"
#include "line/names/name_cache.h"
#include "line/names/name_synth.h"
#include "platform/files.h"
#include "text/paths.h"
#include "text/terminal_text.h"

namespace annc {

namespace {

constexpr const char* kSoundFolderName = "Numvoice/";
// The synthesis gives way to annc, which must speak in time.
constexpr int kSynthesisNiceness = 10;

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The child's whole life: the synthesis, then the cache kept within bounds.
[[noreturn]] void RunSynthesis(const std::string& text, const NameRequest& request, const std::string& path) {
  // The launcher's handlers and descriptors are not this process's business:
  // a signal to the process group ends it, and the modem, the sockets and
  // the signal pipe stay the launcher's alone.
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD}) ::signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  (void)::close_range(3, ~0U, 0);
  (void)::setpriority(PRIO_PROCESS, 0, kSynthesisNiceness);

  std::string error;
  if (int e = MakeNameCacheFolder(request.cacheFolder); e != 0) {
    error = "cannot make the name cache " + request.cacheFolder + ": " + std::strerror(e);
  } else {
    error = SynthesizeName(text, request.voice, path);
  }
  if (!error.empty()) {
    (void)WriteAll(STDERR_FILENO,
                   "annc-line: cannot speak the name: " + CaretNotation(error, "", request.charset) + "\n");
    ::_exit(1);
  }
  PruneNameCache(request.cacheFolder);
  ::_exit(0);
}

}  // namespace

NameRequest MakeNameRequest(const NameSettings& settings, const std::string& anncPath, std::string_view number,
                            std::string_view networkName) {
  NameRequest request;
  request.number.assign(number);
  request.networkName.assign(networkName);
  request.soundDir = FolderOf(anncPath) + kSoundFolderName;
  request.voice = settings.voice;
  request.cacheFolder = settings.cacheFolder.empty() ? DefaultNameCacheFolder() : settings.cacheFolder;
  request.charset = settings.charset;
  return request;
}

std::optional<std::string> NameToSpeak(const NameRequest& request) {
  PhoneBookText book;
  std::optional<std::string_view> fromBook;
  // A missing book is annc's to report; here it merely has no names.
  if (book.Read(request.soundDir + "aon.db") == 0) fromBook = FindNameInBook(book, request.number);
  return ChooseCallerName(fromBook, request.networkName);
}

std::string OwnNameRecording(const NameRequest& request) {
  // Only a number of digits becomes a file name: nothing from the network
  // can point elsewhere.
  if (!AllDigits(request.number)) return std::string();
  std::string path = request.soundDir + "names/" + request.number + ".wav";
  return IsRegularFile(path) ? path : std::string();
}

NameJob StartNameRecording(const NameRequest& request) {
  NameJob job;
  job.recording = OwnNameRecording(request);
  if (!job.recording.empty()) return job;
  std::optional<std::string> name = NameToSpeak(request);
  if (!name) return job;
  job.recording = CachedNamePath(request.cacheFolder, request.voice, *name);
  if (UseCachedName(job.recording)) return job;
  pid_t pid = ::fork();
  if (pid == 0) RunSynthesis(*name, request, job.recording);
  if (pid < 0) {
    (void)WriteAll(STDERR_FILENO, std::string("annc-line: cannot speak the name: ") + std::strerror(errno) + "\n");
    job.recording.clear();
    return job;
  }
  job.pid = pid;
  return job;
}

bool FinishNameJob(NameJob* job) {
  if (job->pid <= 0) return true;
  int status = 0;
  pid_t got = ::waitpid(job->pid, &status, WNOHANG);
  if (got == 0) return false;
  if (got < 0 && errno == EINTR) return false;
  job->pid = -1;
  return true;
}

void CancelNameJob(NameJob* job) {
  if (job->pid <= 0) return;
  pid_t pid = job->pid;
  ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  job->pid = -1;
  // What it was writing; the recording itself, if it got that far, is whole.
  (void)::unlink((job->recording + ".tmp" + std::to_string(pid)).c_str());
}

}  // namespace annc
