// What the unit tests share: temporary files, whole-file reads, the exit
// code a call asks for, and the words the fake platform was asked to play.
#ifndef ANNC_PLATFORM_TEST_SUPPORT_H_
#define ANNC_PLATFORM_TEST_SUPPORT_H_

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "platform/errors.h"
#include "platform/fake_platform.h"

namespace annc::testing {

// A path in the test's temporary folder, named for this process so that
// parallel runs do not collide; whatever is there is removed at both ends.
class ScopedTempPath {
 public:
  explicit ScopedTempPath(const std::string& name)
      : path_(TempFolder() + "/annc_" + name + "." + std::to_string(::getpid())) {
    std::remove(path_.c_str());
  }
  ~ScopedTempPath() { std::remove(path_.c_str()); }
  ScopedTempPath(const ScopedTempPath&) = delete;
  ScopedTempPath& operator=(const ScopedTempPath&) = delete;
  const std::string& str() const { return path_; }
  operator const std::string&() const { return path_; }

  static std::string TempFolder() {
    const char* dir = std::getenv("TEST_TMPDIR");
    return dir != nullptr && *dir != '\0' ? dir : "/tmp";
  }

 private:
  std::string path_;
};

// Switches LC_CTYPE for one test and back.
class LocaleScope {
 public:
  explicit LocaleScope(const char* name) : old_(std::setlocale(LC_CTYPE, nullptr)) {
    ok_ = std::setlocale(LC_CTYPE, name) != nullptr;
  }
  ~LocaleScope() { std::setlocale(LC_CTYPE, old_.c_str()); }
  LocaleScope(const LocaleScope&) = delete;
  LocaleScope& operator=(const LocaleScope&) = delete;
  bool ok() const { return ok_; }

 private:
  std::string old_;
  bool ok_;
};

// The whole file's bytes; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

inline void WriteWholeFile(const std::string& path, std::string_view bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Runs `call` and returns the exit code it asked for with ExitRequest, or
// `noExit` when it returned.
template <typename Call>
int ExitCodeOf(Call&& call, int noExit = -1) {
  try {
    std::forward<Call>(call)();
  } catch (const ExitRequest& request) {
    return request.code;
  }
  return noExit;
}

// The events as words, blank-separated: a recording by its file name without
// ".wav" ("20"), the chime as "|", the unknown-number recording as "?", a
// pause as "(250)", a beep as "beep", a serial read as "r".
inline std::string SpokenWords(const FakeEvents& events) {
  std::string words;
  for (const FakeEvent& e : events) {
    std::string w;
    switch (e.kind) {
      case FakeEvent::kPlay:
        if (e.file == "InterDigit.Wav") {
          w = "|";
        } else if (e.file == "nophone.wav") {
          w = "?";
        } else if (e.file.size() > 4 && e.file.ends_with(".wav")) {
          w = e.file.substr(0, e.file.size() - 4);
        } else {
          w = e.file;
        }
        break;
      case FakeEvent::kBeep:
        w = "beep";
        break;
      case FakeEvent::kSleep:
        w = "(" + std::to_string(e.ms) + ")";
        break;
      case FakeEvent::kRead:
        w = "r";
        break;
    }
    words += (words.empty() ? "" : " ") + w;
  }
  return words;
}

}  // namespace annc::testing

#endif  // ANNC_PLATFORM_TEST_SUPPORT_H_
