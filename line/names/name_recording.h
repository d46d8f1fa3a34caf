// The recording of the caller's name that annc plays with /N:FILE: the
// user's own, or one synthesized from the name and kept in a cache.
//
// When a call is about to be announced:
//
//   NameJob job = StartNameRecording(MakeNameRequest(settings, anncPath, number, networkName, files),
//                                    files, processes, output);
//   if (!job.recording.empty()) argv.push_back("/N:" + job.recording);
//   ... start annc at once; the synthesis, if any, runs meanwhile in the
//   program annc-name, in a child process of its own ...
//   FinishNameJob(&job, files, processes, output)  whenever children are reaped (non-blocking);
//   CancelNameJob(&job, files, processes)  when annc-line ends before it finished.
//
// annc plays the name only after the time and the opening chime, and leaves
// a recording that is not there yet out without a beep: a synthesis that is
// slower than that only misses the first cycle.
#ifndef ANNC_LINE_NAME_RECORDING_H_
#define ANNC_LINE_NAME_RECORDING_H_

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "book/phone_book_text.h"
#include "posix/line_system.h"
#include "text/terminal_text.h"

namespace annc {

// What a call's name recording is made from.
struct NameRequest {
  std::string number;       // as annc is given it (digits, or "Unknown")
  std::string networkName;  // as the modem or the server sent it; empty when none
  std::string soundDir;     // annc's sound folder, ending in "/": aon.db and names/ are there
  std::string voice = "en";
  std::string cacheFolder;  // where synthesized names are kept
  Charset charset = Charset::kSingleByte;  // the locale's, for the synthesis's error in its status line
};

// What --voice and --name-cache say.
struct NameSettings {
  std::string voice = "en";
  std::string cacheFolder;  // empty: DefaultNameCacheFolder()
  Charset charset = Charset::kSingleByte;  // the locale's
};

// The request for a call: the sound folder beside `anncPath`, the voice and
// the cache folder of the settings (the default one when they name none).
NameRequest MakeNameRequest(const NameSettings& settings, const std::string& anncPath, std::string_view number,
                            std::string_view networkName, Files& files);

// The largest phone book read through the seam.
constexpr std::size_t kPhoneBookMaxBytes = std::size_t{1} << 30;

// Reads the phone book at `path` from `files` into *book: 0 or an errno
// value (only a regular file of at most kPhoneBookMaxBytes is read).
int ReadPhoneBook(Files& files, const std::string& path, PhoneBookText* book);

// The name a call is to be spoken with, already cleaned for the
// synthesizer: the phone book's entry for the number (aon.db in the sound
// folder, read now) when there is one, else the network's name unless it is
// a placeholder. None when neither gives one.
std::optional<std::string> NameToSpeak(const NameRequest& request, Files& files);

// The user's own recording of the caller, names/NUMBER.wav in the sound
// folder, when it is there; empty otherwise.
std::string OwnNameRecording(const NameRequest& request, Files& files);

struct NameJob {
  // The path to give annc as /N:PATH; empty: no name for this call.
  std::string recording;
  // The process synthesizing `recording`, when it is not there yet; -1 when
  // there is nothing to wait for.
  pid_t pid = -1;
  // Where it is cached, and the locale's charset for its status line.
  std::string cacheFolder;
  Charset charset = Charset::kSingleByte;
};

// Finds the name's recording, starting a synthesis (the program annc-name,
// run by `processes`) when the cache does not hold it yet; returns at once
// (no synthesis here). The cache folder is made first. A synthesis that
// cannot be started says one status line, "cannot speak the name: ...", on
// `output`, and the call has no recording; annc leaves a recording that
// is missing out quietly.
NameJob StartNameRecording(const NameRequest& request, Files& files, Processes& processes, StatusOutput& output);

// Reaps the synthesis when it has ended, without waiting; true when there
// is nothing left to wait for (also when there never was). One that failed
// says one status line, "cannot speak the name: ..." and what the program
// said (caret notation); after one that spoke, the cache is kept within
// its bound.
bool FinishNameJob(NameJob* job, Files& files, Processes& processes, StatusOutput& output);

// Ends a synthesis still running and reaps it, then removes its temporary
// file. For annc-line's own end.
void CancelNameJob(NameJob* job, Files& files, Processes& processes);

}  // namespace annc

#endif  // ANNC_LINE_NAME_RECORDING_H_
