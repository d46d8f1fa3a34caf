// The phone book: "aon.db" in the sound folder, one "number=name" a line.
#ifndef ANNC_APP_PHONE_BOOK_H_
#define ANNC_APP_PHONE_BOOK_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace annc {

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

// The phone book: the file's text, walked as its lines in file order.
struct PhoneBookText {
  FileText file;
  Lines lines() const { return Lines(file.view()); }
};
extern PhoneBookText PhoneBook;

// Reads the whole file in one piece. A file that cannot be opened or read
// throws EFOpenError "Cannot open file <path>".
void LoadPhoneBook(const std::string& path);

// Whether two texts are equal ignoring letter case under the user's locale,
// over their full lengths.
bool SameIgnoringCase(std::string_view a, std::string_view b);

// The name of the first line whose part before its first "=" equals the
// number ignoring case: the text after that "=".
std::optional<std::string_view> LookUpName(std::string_view number);

}  // namespace annc

#endif  // ANNC_APP_PHONE_BOOK_H_
