#include "text/lines.h"

#include <cstring>

namespace annc {

namespace {
const char* FindByte(const char* from, const char* end, char c) {
  const void* hit = std::memchr(from, c, static_cast<std::size_t>(end - from));
  return hit != nullptr ? static_cast<const char*>(hit) : end;
}
}  // namespace

std::string_view BeforeNul(std::string_view text) {
  if (text.empty()) return text;  // may have no storage at all
  const void* nul = std::memchr(text.data(), '\0', text.size());
  return nul == nullptr ? text : text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
}

Lines::Lines(std::string_view text) : text_(BeforeNul(text)) {}

Lines::iterator::iterator(const char* start, const char* end, bool atEnd)
    : start_(atEnd ? end : start), end_(end), cr_(end), lf_(end) {
  if (atEnd) return;
  // The next CR and the next LF are each found with memchr, and looked for
  // again only once passed.
  cr_ = FindByte(start_, end_, '\r');
  lf_ = FindByte(start_, end_, '\n');
  line_ = std::string_view(start_, static_cast<std::size_t>((cr_ < lf_ ? cr_ : lf_) - start_));
}

Lines::iterator& Lines::iterator::operator++() {
  const char* stop = start_ + line_.size();
  if (stop == end_) {  // that was the last line
    start_ = end_;
    line_ = std::string_view();
    return *this;
  }
  start_ = stop + 1;
  if (*stop == '\r' && start_ < end_ && *start_ == '\n') ++start_;  // CR LF is one line end
  if (start_ == end_) {  // a final line end adds no empty line
    line_ = std::string_view();
    return *this;
  }
  if (cr_ < start_) cr_ = FindByte(start_, end_, '\r');
  if (lf_ < start_) lf_ = FindByte(start_, end_, '\n');
  line_ = std::string_view(start_, static_cast<std::size_t>((cr_ < lf_ ? cr_ : lf_) - start_));
  return *this;
}

}  // namespace annc
