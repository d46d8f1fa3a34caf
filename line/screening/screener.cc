#include "line/screening/screener.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "text/terminal_text.h"

namespace annc {

namespace {

ListFileStamp StampOf(const struct stat& st) {
  return ListFileStamp{static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                       static_cast<std::int64_t>(st.st_size)};
}

class SystemFiles : public ListFiles {
 public:
  int Stamp(const std::string& path, ListFileStamp* stamp) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return errno;
    *stamp = StampOf(st);
    return 0;
  }

  int Read(const std::string& path, std::string* text, ListFileStamp* stamp) override {
    text->clear();
    // O_NONBLOCK: a FIFO must not wait for a writer before it is turned down.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return errno;
    int error = ReadOpen(fd, text, stamp);
    ::close(fd);
    if (error != 0) text->clear();
    return error;
  }

 private:
  static int ReadOpen(int fd, std::string* text, ListFileStamp* stamp) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    if (static_cast<std::uint64_t>(st.st_size) > ScreeningList::kMaxBytes) return EFBIG;
    *stamp = StampOf(st);
    // A file that grows while it is read is read up to the limit and one
    // byte beyond, which tells that it went past it.
    text->resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t got = 0;
    for (;;) {
      if (got == text->size()) {
        if (text->size() > ScreeningList::kMaxBytes) return EFBIG;
        text->resize(std::min(text->size() * 2, ScreeningList::kMaxBytes + 1));
      }
      ssize_t n = ::read(fd, text->data() + got, text->size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno;
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    text->resize(got);
    return 0;
  }
};

}  // namespace

ListFiles& SystemListFiles() {
  static SystemFiles files;
  return files;
}

ListHolder::ListHolder(std::string what, std::string path, ListFiles& files, Charset charset)
    : what_(std::move(what)), path_(std::move(path)), files_(files), charset_(charset) {}

std::string ListHolder::Shown() const { return "the " + what_ + " " + CaretNotation(path_, "", charset_); }

std::string ListHolder::ReadList() {
  std::string text;
  ListFileStamp stamp;
  if (int error = files_.Read(path_, &text, &stamp); error != 0) return std::strerror(error);
  std::string problem;
  ScreeningList list = ScreeningList::Parse(path_, std::move(text), &problem);
  if (!problem.empty()) return problem;
  list_ = std::move(list);
  stamp_ = stamp;
  return {};
}

std::string ListHolder::Load() {
  std::string cause = ReadList();
  return cause.empty() ? std::string() : "cannot read " + Shown() + ": " + cause;
}

void ListHolder::Refresh(std::vector<std::string>* status) {
  ListFileStamp now;
  std::string cause;
  if (int error = files_.Stamp(path_, &now); error != 0) {
    cause = std::strerror(error);
  } else if (now == stamp_) {
    failing_ = false;  // back as it was read
    return;
  } else {
    cause = ReadList();
  }
  if (cause.empty()) {
    failing_ = false;
    status->push_back("read " + Shown() + " again: " + std::to_string(list_.entries()) + " entries");
    return;
  }
  if (failing_) return;
  failing_ = true;
  status->push_back("cannot read " + Shown() + " again (" + cause + "); the copy read before stays in use");
}

Screener::Screener(ScreeningSettings settings, ListFiles& files) : settings_(std::move(settings)) {
  for (const std::string& path : settings_.allowLists) {
    allow_.push_back(std::make_unique<ListHolder>("allow list", path, files, settings_.charset));
  }
  for (const std::string& path : settings_.blockLists) {
    block_.push_back(std::make_unique<ListHolder>("block list", path, files, settings_.charset));
  }
}

std::string Screener::Start() {
  for (auto* holders : {&allow_, &block_}) {
    for (auto& holder : *holders) {
      if (std::string error = holder->Load(); !error.empty()) return error;
    }
  }
  return {};
}

bool Screener::Active() const { return !allow_.empty() || !block_.empty() || !settings_.quiet.empty(); }

Decision Screener::Screen(const ScreenedCall& call, Millis now, int minuteOfDay, std::vector<std::string>* status) {
  ScreeningRules rules;
  rules.quiet = settings_.quiet;
  rules.repeatWindowMinutes = settings_.repeatWindowMinutes;
  rules.charset = settings_.charset;
  for (auto& holder : allow_) {
    holder->Refresh(status);
    rules.allow.push_back(&holder->list());
  }
  for (auto& holder : block_) {
    holder->Refresh(status);
    rules.block.push_back(&holder->list());
  }
  Decision decision = DecideCall(call, rules, minuteOfDay, recent_, now);
  if (std::string number = ScreeningNumber(call); number != "WITHHELD") {
    recent_.Remember(number, now, static_cast<Millis>(settings_.repeatWindowMinutes) * 60000);
  }
  return decision;
}

int LocalMinuteOfDay() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return local.tm_hour * 60 + local.tm_min;
}

}  // namespace annc
