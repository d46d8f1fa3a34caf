// The phone book (aon.db, "number=name" a line) as the page shows and
// changes it. Its lines are counted as annc reads them: they end in CR, LF
// or CR LF, and a NUL ends the text. The file keeps its encoding: a
// byte-order mark of UTF-16 (either byte order) or UTF-8 stays, and so
// does the byte order; a file without one is taken as bytes, which the page
// sees as UTF-8 (invalid bytes replaced). Every change keeps the other
// lines byte for byte; a new line goes at the end with the line end the
// file's first line has (LF when it has none), after a line end for a last
// line without one. A missing phone book is created, UTF-8 without a mark.
#ifndef ANNC_WEB_EDIT_BOOK_EDIT_H_
#define ANNC_WEB_EDIT_BOOK_EDIT_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "web/edit/edited_file.h"

namespace annc {

// annc reads the phone book whole at each call; the page edits one up to
// this size.
inline constexpr std::size_t kMaxBookBytes = 64u << 20;

// A line with an "=", as UTF-8 fit for the page (ShownText).
struct BookEntryView {
  int line = 0;        // 1 for the file's first line
  std::string number;  // before the first "="
  std::string name;    // after it
};

struct BookFileView {
  std::string path;
  std::string version;   // to be sent back with a change
  bool exists = false;
  std::string encoding;  // "bytes", "UTF-8 with mark", "UTF-16LE" or "UTF-16BE"
  std::vector<BookEntryView> entries;
  std::string error;  // empty when read (a missing file is no error)
};

BookFileView ReadBookFile(const std::string& path);

// "Name" and the page's add: gives `number` the name `name` on the first
// line whose part before its first "=" is the number (the line annc finds),
// the number's part kept as written, or adds "number=name" when there is
// none. A name outside ASCII is refused for a book that is neither UTF-8
// nor UTF-16, whose encoding cannot be known. A book holding a NUL (after
// which annc reads nothing) or a UTF-16 book of an odd length is refused.
EditOutcome SetBookName(const std::string& path, std::string_view version, std::string_view number,
                        std::string_view name);

// Removes line `line` (its line end with it), which must hold an "=".
EditOutcome RemoveBookLine(const std::string& path, std::string_view version, int line);

}  // namespace annc

#endif  // ANNC_WEB_EDIT_BOOK_EDIT_H_
