#include "line/start_check.h"


#include <cerrno>

#include "platform/errors.h"
#include "platform/files.h"
#include "text/paths.h"
#include "text/terminal_text.h"

namespace annc {
std::string SoundFolderOf(const std::string& annc) { return FolderOf(RealPathOr(annc)) + "Numvoice/"; }

std::optional<std::string> SetupProblem(const LineOptions& options, const std::string& logFile, Files& files) {
  auto shown = [&options](const std::string& path) { return CaretNotation(path, "", options.charset); };
  if (int error = files.CanUse(options.annc, Files::kRun); error != 0) {
    return CannotText("run the announcer " + shown(options.annc), error);
  }

  std::string folder = SoundFolderOf(options.annc);
  FileInfo info;
  int error = files.Inspect(folder, &info);
  if (error == 0 && info.kind != FileInfo::kFolder) error = ENOTDIR;
  if (error != 0) {
    return "no sound folder " + shown(folder) + " (" + SystemErrorText(error) +
           "): make one with tools/make_voice.sh " + shown(folder);
  }
  std::string book = folder + "aon.db";
  if (error = files.CanUse(book, Files::kRead); error != 0) {
    return CannotText("read the phone book " + shown(book), error) + ": create it (an empty file will do)";
  }
  if (files.Inspect(book, &info) != 0 || info.kind != FileInfo::kRegular) {
    return "the phone book " + shown(book) + " is not a regular file";
  }

  if (!logFile.empty()) {
    error = files.Inspect(logFile, &info);
    if (error == 0) {
      error = info.kind == FileInfo::kFolder ? EISDIR : files.CanUse(logFile, Files::kWrite);
    } else if (error == ENOENT) {
      std::string dir = FolderOf(logFile);
      if (dir.empty()) dir = ".";
      error = files.CanUse(dir, Files::kMakeIn);
    }
    if (error != 0) return CannotText("write the log " + shown(logFile), error) + ": choose another with --log FILE";
  }
  if (!options.onCall.empty()) {
    error = files.Inspect(options.onCall, &info);
    if (error == 0 && info.kind == FileInfo::kFolder) error = EISDIR;
    if (error == 0) error = files.CanUse(options.onCall, Files::kRun);
    if (error != 0) return CannotText("run the --on-call program " + shown(options.onCall), error);
  }
  return std::nullopt;
}

}  // namespace annc
