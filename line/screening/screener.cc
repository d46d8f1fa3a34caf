#include "line/screening/screener.h"

#include <cerrno>
#include <cstring>

#include "text/terminal_text.h"

namespace annc {

ListHolder::ListHolder(std::string what, std::string path, Files& files, Charset charset)
    : what_(std::move(what)), path_(std::move(path)), files_(files), charset_(charset) {}

std::string ListHolder::Shown() const { return "the " + what_ + " " + CaretNotation(path_, "", charset_); }

std::string ListHolder::ReadList() {
  std::string text;
  FileStamp stamp;
  if (int error = files_.Read(path_, ScreeningList::kMaxBytes, &text, &stamp); error != 0) return std::strerror(error);
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
  FileInfo now;
  std::string cause;
  if (int error = files_.Inspect(path_, &now); error != 0) {
    cause = std::strerror(error);
  } else if (now.stamp == stamp_) {
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

Screener::Screener(ScreeningSettings settings, Files& files) : settings_(std::move(settings)) {
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

}  // namespace annc
