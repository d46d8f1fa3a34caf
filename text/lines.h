// Walking a text as its lines, without building a list of them.
#ifndef ANNC_TEXT_LINES_H_
#define ANNC_TEXT_LINES_H_

#include <string_view>

namespace annc {

// The text up to its first NUL byte.
std::string_view BeforeNul(std::string_view text);

// The lines of a text, in order: lines end in CR, LF or CR LF; a NUL ends
// the text; a last line without an end counts, a final line end adds no
// empty line. The lines are found as they are walked, so holding a big file
// costs nothing beyond its text.
class Lines {
 public:
  class iterator {
   public:
    std::string_view operator*() const { return line_; }
    iterator& operator++();
    bool operator==(const iterator& other) const { return start_ == other.start_; }

   private:
    friend class Lines;
    iterator(const char* start, const char* end, bool atEnd);
    const char* start_;  // start of the current line; end_ when past the last
    const char* end_;
    const char* cr_;  // the next CR and LF at or after start_
    const char* lf_;
    std::string_view line_;
  };

  explicit Lines(std::string_view text);
  iterator begin() const { return iterator(text_.data(), End(), text_.empty()); }
  iterator end() const { return iterator(End(), End(), true); }

 private:
  const char* End() const { return text_.data() + text_.size(); }
  std::string_view text_;  // up to the first NUL
};

}  // namespace annc

#endif  // ANNC_TEXT_LINES_H_
