// The block and allow lists as files: read at start, read again before a
// decision when a file's modification time or size changed, the last good
// copy kept while a file cannot be read. The files are read through the
// seam's Files, so that tests can stand in for the file system.
#ifndef ANNC_LINE_SCREENER_H_
#define ANNC_LINE_SCREENER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "line/screening/screening.h"
#include "posix/line_system.h"
#include "text/terminal_text.h"

namespace annc {

// One list file and the copy of it in use.
class ListHolder {
 public:
  // `what` names the kind of list in messages: "block list".
  ListHolder(std::string what, std::string path, Files& files, Charset charset);

  // Reads the list; returns "" or one line naming the file and the cause:
  // "cannot read the block list calls.block: No such file or directory".
  std::string Load();
  // Reads the list again when the file's stamp changed. A file that cannot
  // be read keeps the last good copy in use and gives one status line, once
  // until it is read again; each new copy read gives one too.
  void Refresh(std::vector<std::string>* status);

  const ScreeningList& list() const { return list_; }

 private:
  // "" or the cause.
  std::string ReadList();
  std::string Shown() const;

  std::string what_;
  std::string path_;
  Files& files_;
  Charset charset_;
  ScreeningList list_;
  FileStamp stamp_;
  bool failing_ = false;
};

// Screens each call with the lists and quiet hours the command line names.
class Screener {
 public:
  Screener(ScreeningSettings settings, Files& files);

  // Reads every list; returns "" or the error line of the first that cannot
  // be read (annc-line then ends with exit code 1).
  std::string Start();
  // Whether anything is screened at all: a list or a quiet window.
  bool Active() const;
  // The decision for one call, when it is about to be announced: lists
  // whose files changed are read first (status lines about that go into
  // *status), and the call is remembered for the repeat window. `now` is a
  // clock that only goes forward; `minuteOfDay` the local time (0..1439).
  Decision Screen(const ScreenedCall& call, Millis now, int minuteOfDay, std::vector<std::string>* status);

 private:
  ScreeningSettings settings_;
  std::vector<std::unique_ptr<ListHolder>> allow_;
  std::vector<std::unique_ptr<ListHolder>> block_;
  RecentCalls recent_;
};

}  // namespace annc

#endif  // ANNC_LINE_SCREENER_H_
