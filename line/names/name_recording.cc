#include "line/names/name_recording.h"

#include <cerrno>
#include <cstring>

#include "line/names/caller_name.h"
#include "line/names/name_cache.h"
#include "text/paths.h"
#include "text/terminal_text.h"

namespace annc {

namespace {

constexpr const char* kSoundFolderName = "Numvoice/";

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string CannotSpeak(std::string_view why, Charset charset) {
  return "cannot speak the name: " + CaretNotation(why, "", charset);
}

}  // namespace

NameRequest MakeNameRequest(const NameSettings& settings, const std::string& anncPath, std::string_view number,
                            std::string_view networkName, Files& files) {
  NameRequest request;
  request.number.assign(number);
  request.networkName.assign(networkName);
  request.soundDir = FolderOf(anncPath) + kSoundFolderName;
  request.voice = settings.voice;
  request.cacheFolder = settings.cacheFolder.empty() ? DefaultNameCacheFolder(files) : settings.cacheFolder;
  request.charset = settings.charset;
  return request;
}

int ReadPhoneBook(Files& files, const std::string& path, PhoneBookText* book) {
  std::string bytes;
  FileStamp stamp;
  if (int error = files.Read(path, kPhoneBookMaxBytes, &bytes, &stamp); error != 0) return error;
  book->Assign(bytes);
  return 0;
}

std::optional<std::string> NameToSpeak(const NameRequest& request, Files& files) {
  PhoneBookText book;
  std::optional<std::string_view> fromBook;
  // A missing book is annc's to report; here it merely has no names.
  if (ReadPhoneBook(files, request.soundDir + "aon.db", &book) == 0) fromBook = FindNameInBook(book, request.number);
  return ChooseCallerName(fromBook, request.networkName);
}

std::string OwnNameRecording(const NameRequest& request, Files& files) {
  // Only a number of digits becomes a file name: nothing from the network
  // can point elsewhere.
  if (!AllDigits(request.number)) return std::string();
  std::string path = request.soundDir + "names/" + request.number + ".wav";
  FileInfo info;
  return files.Inspect(path, &info) == 0 && info.kind == FileInfo::kRegular ? path : std::string();
}

NameJob StartNameRecording(const NameRequest& request, Files& files, Processes& processes, StatusOutput& output) {
  NameJob job;
  job.recording = OwnNameRecording(request, files);
  if (!job.recording.empty()) return job;
  std::optional<std::string> name = NameToSpeak(request, files);
  if (!name) return job;
  job.recording = CachedNamePath(request.cacheFolder, request.voice, *name);
  if (UseCachedName(files, job.recording)) return job;
  if (int e = MakeNameCacheFolder(files, request.cacheFolder); e != 0) {
    output.Status(CannotSpeak("cannot make the name cache " + request.cacheFolder + ": " + std::strerror(e),
                              request.charset));
    job.recording.clear();
    return job;
  }
  int error = 0;
  pid_t child = processes.StartSpeaking(*name, request.voice, job.recording, &error);
  if (child <= 0) {
    output.Status(CannotSpeak(std::string("annc-name: ") + std::strerror(error), request.charset));
    job.recording.clear();
    return job;
  }
  job.pid = child;
  job.cacheFolder = request.cacheFolder;
  job.charset = request.charset;
  return job;
}

bool FinishNameJob(NameJob* job, Files& files, Processes& processes, StatusOutput& output) {
  if (job->pid <= 0) return true;
  std::string failure;
  if (!processes.Reap(job->pid, &failure)) return false;
  job->pid = -1;
  if (!failure.empty()) {
    output.Status(CannotSpeak(failure, job->charset));
  } else {
    PruneNameCache(files, job->cacheFolder);
  }
  return true;
}

void CancelNameJob(NameJob* job, Files& files, Processes& processes) {
  if (job->pid <= 0) return;
  pid_t child = job->pid;
  processes.Kill(child);
  job->pid = -1;
  // What it was writing; the recording itself, if it got that far, is whole.
  (void)files.Remove(job->recording + ".tmp" + std::to_string(child));
}

}  // namespace annc
