// Cuts bytes as they arrive into lines, holding at most one bounded line.
#ifndef ANNC_LINE_LINE_READER_H_
#define ANNC_LINE_LINE_READER_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace annc {

// Lines end in CR, LF or CR LF (an LF right after a CR ends nothing more).
// Empty lines are dropped: modems frame every answer with blank lines. A
// line longer than `maxLength` bytes is cut there and the rest of it, up to
// its end, is dropped, so memory stays bounded whatever the other side sends.
class LineReader {
 public:
  explicit LineReader(std::size_t maxLength) : maxLength_(maxLength) { line_.reserve(maxLength); }

  // Calls onLine(std::string_view line) for each line that ends in `bytes`.
  template <typename OnLine>
  void Feed(std::string_view bytes, OnLine&& onLine) {
    Feed(bytes, onLine, [] {});
  }

  // The same, and onCut() once for each line that grows past maxLength, as
  // soon as it does (its end may never come).
  template <typename OnLine, typename OnCut>
  void Feed(std::string_view bytes, OnLine&& onLine, OnCut&& onCut) {
    for (char c : bytes) {
      if (c == '\n' && afterCr_) {
        afterCr_ = false;
        continue;
      }
      afterCr_ = c == '\r';
      if (c == '\r' || c == '\n') {
        if (!line_.empty()) onLine(std::string_view(line_));
        line_.clear();
        cut_ = false;
      } else if (line_.size() < maxLength_) {
        line_ += c;
      } else if (!cut_) {
        cut_ = true;
        onCut();
      }
    }
  }

  // Forgets a partial line (the port was closed).
  void Reset() {
    line_.clear();
    afterCr_ = false;
    cut_ = false;
  }

  std::size_t pending() const { return line_.size(); }

 private:
  std::size_t maxLength_;
  std::string line_;
  bool afterCr_ = false;
  bool cut_ = false;  // the line being read was cut
};

}  // namespace annc

#endif  // ANNC_LINE_LINE_READER_H_
