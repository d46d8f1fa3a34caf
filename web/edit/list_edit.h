// The block and allow lists as the page shows and changes them. Lines are
// counted as the list parser counts them (ScreeningList, which annc-line
// reads the lists with): split at LF, a CR before it a blank. Every change
// keeps the other lines byte for byte, line ends included; a new line goes
// at the end, with the line end the file's first line has (LF when it has
// none), and a file whose last line has no line end gets one first.
#ifndef ANNC_WEB_EDIT_LIST_EDIT_H_
#define ANNC_WEB_EDIT_LIST_EDIT_H_

#include <string>
#include <string_view>
#include <vector>

#include "web/edit/edited_file.h"

namespace annc {

// An entry as the page shows it: UTF-8 with controls and invalid bytes
// replaced (ShownText).
struct ListEntryView {
  int line = 0;             // 1 for the file's first line
  std::string expressions;  // the text before the label or comment, blanks trimmed
  std::string label;        // after "#=", blanks trimmed; empty when none
};

struct ListFileView {
  std::string path;
  std::string version;  // to be sent back with a change
  bool exists = false;
  std::vector<ListEntryView> entries;  // lines that hold an expression, in order
  std::string error;                   // empty when read (a missing file is no error)
};

ListFileView ReadListFile(const std::string& path);

// "Block": writes "^NUMBER #= LABEL" ("^NUMBER" without a label) at the end
// of `list`, the first block list. A number the list already catches
// changes nothing (ok, saying which line catches it).
EditOutcome BlockNumber(const std::string& list, std::string_view version, std::string_view number,
                        std::string_view label);

// "Allow": writes "^NUMBER" at the end of `list`, the first allow list; a
// number the list already lets through changes nothing.
EditOutcome AllowNumber(const std::string& list, std::string_view version, std::string_view number);

// "Unblock": finds the lines of every block list that catch the number
// (with the list parser; by its number alone, not a caller's name) and
// removes them when each holds only this number ("NUMBER" or "^NUMBER",
// bare or quoted, with any label). When a line that catches it holds more
// (several expressions, or one that catches other numbers too, as "^1800"
// does), nothing is changed and the message names that file and line.
// `versions` go with `blockLists`, one each. Lists are changed one after
// the other: one that changed meanwhile is refused, the ones before it stay
// changed, and the message says so.
EditOutcome UnblockNumber(const std::vector<std::string>& blockLists, const std::vector<std::string>& versions,
                          std::string_view number);

// From the lists page: adds the entry "EXPRESSIONS #= LABEL" (without a
// label "EXPRESSIONS") at the end of the list. `expressions` are separated
// by blanks, each a run of non-blank characters or a "quoted string", with
// an optional leading '^'; refused when the list parser would read them
// otherwise: an unclosed quote, an empty expression, a token that starts
// with '#', or "#=" outside quotes.
EditOutcome AddListEntry(const std::string& path, std::string_view version, std::string_view expressions,
                         std::string_view label);

// From the lists page: removes line `line` (its line end with it), which
// must hold an entry.
EditOutcome RemoveListLine(const std::string& path, std::string_view version, int line);

// One line of a list as the list parser reads it.
struct ListLineParts {
  struct Expression {
    std::string_view text;  // without quotes and '^'
    bool anchored = false;
  };
  std::vector<Expression> expressions;  // empty ones left out
  std::string_view before;              // the expressions' text, as written
  std::string_view label;
  bool hasLabel = false;
  bool hasComment = false;       // a token starting with '#' other than "#="
  bool unclosedQuote = false;
  bool emptyExpression = false;  // "" or a bare ^, which the parser leaves out
};
ListLineParts SplitListLine(std::string_view line);

}  // namespace annc

#endif  // ANNC_WEB_EDIT_LIST_EDIT_H_
