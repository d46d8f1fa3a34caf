// The phone book's text, "number=name" a line, and the search for a number
// in it. Shared by annc, which announces the name, and annc-line, which
// speaks it.
#ifndef ANNC_BOOK_PHONE_BOOK_TEXT_H_
#define ANNC_BOOK_PHONE_BOOK_TEXT_H_

#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "text/lines.h"

namespace annc {

// The phone book: the file's text, walked as its lines in file order.
class PhoneBookText {
 public:
  // Reads the file whole (0 or an errno value; only a regular file is
  // read), or holds a copy of `bytes`. Either way a byte-order mark at the
  // start names the text's encoding: after a UTF-8 mark the text is taken
  // as it is; a UTF-16 text (either byte order) is converted to the
  // locale's encoding.
  int Read(const std::string& path);
  void Assign(std::string_view bytes);

  // The text without its byte-order mark.
  std::string_view text() const { return file_.view().substr(start_); }
  Lines lines() const { return Lines(text()); }

 private:
  void TakeByteOrderMark();
  FileText file_;
  std::size_t start_ = 0;
};

// The name of the first line of `book` whose part before its first "="
// equals the number ignoring case (under the locale's encoding): the text
// after that "=".
std::optional<std::string_view> FindNameInBook(const PhoneBookText& book, std::string_view number);

}  // namespace annc

#endif  // ANNC_BOOK_PHONE_BOOK_TEXT_H_
