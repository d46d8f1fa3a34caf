#include "web/edit/list_edit.h"

#include <algorithm>
#include <optional>

#include "line/screening/screening.h"
#include "web/edit/edit_values.h"

namespace annc {

namespace {

// As many lines catching one number as Unblock looks at in one list.
constexpr std::size_t kMaxMatches = 8;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

struct LineSpan {
  std::size_t start = 0;
  std::size_t end = 0;   // before the LF
  std::size_t next = 0;  // after the LF, or end for a last line without one
};

// The lines as the list parser numbers them.
std::vector<LineSpan> ListLines(std::string_view text) {
  std::vector<LineSpan> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = std::min(text.find('\n', start), text.size());
    std::size_t next = end < text.size() ? end + 1 : end;
    lines.push_back(LineSpan{start, end, next});
    start = next;
  }
  return lines;
}

std::string_view LineText(std::string_view text, const LineSpan& span) {
  return text.substr(span.start, span.end - span.start);
}

// `text` with `line` added at its end as described in list_edit.h; *number
// is then the new line's number.
std::string WithLineAdded(const std::string& text, std::string_view line, int* number) {
  std::size_t firstLf = text.find('\n');
  std::string_view lineEnd = firstLf != std::string::npos && firstLf > 0 && text[firstLf - 1] == '\r' ? "\r\n" : "\n";
  std::string result = text;
  if (!result.empty() && result.back() != '\n') result += lineEnd;
  *number = static_cast<int>(std::count(result.begin(), result.end(), '\n')) + 1;
  result.append(line);
  result += lineEnd;
  return result;
}

// The lines of `text` that catch `number`, found with the list parser: the
// earliest, then the earliest with that one blanked out, and so on, up to
// `most`. nullopt with *error set when the parser refuses the text.
std::optional<std::vector<int>> LinesCatching(std::string text, std::string_view number, std::size_t most,
                                              std::string* error) {
  std::vector<int> found;
  const std::vector<LineSpan> lines = ListLines(text);
  while (found.size() < most) {
    ScreeningList list = ScreeningList::Parse("", text, error);
    if (!error->empty()) return std::nullopt;
    std::optional<ScreeningList::Match> match = list.Find(number, "");
    if (!match || match->line < 1 || static_cast<std::size_t>(match->line) > lines.size()) break;
    found.push_back(match->line);
    const LineSpan& span = lines[static_cast<std::size_t>(match->line) - 1];
    text.replace(span.start, span.end - span.start, span.end - span.start, ' ');
  }
  return found;
}

std::string LineName(const std::string& path, int line) { return path + " line " + std::to_string(line); }

// The checks Block and Allow share; empty when fine.
std::string NumberAndLabelProblem(std::string_view number, std::string_view label) {
  if (std::string why = NumberProblem(number); !why.empty()) return why;
  if (std::string why = TextProblem(label, "the label", true); !why.empty()) return why;
  if (label.find("#=") != std::string_view::npos) return "the label may not hold #=";
  return "";
}

// Adds `line` to the list unless it already catches `number`.
EditOutcome AddNumberLine(const std::string& list, std::string_view version, std::string_view number,
                          const std::string& line, std::string_view already, std::string_view done) {
  return EditFile(list, version, ScreeningList::kMaxBytes, [&](const FileSnapshot& file, std::string* bytes) {
    std::string error;
    std::optional<std::vector<int>> caught = LinesCatching(file.bytes, number, 1, &error);
    if (!caught) return EditOutcome{false, list + ": " + error};
    if (!caught->empty()) {
      return EditOutcome{true, std::string(number) + " is already " + std::string(already) + " by " +
                                   LineName(list, caught->front()) + "; nothing changed"};
    }
    int added = 0;
    std::string text = WithLineAdded(file.bytes, line, &added);
    if (text.size() > ScreeningList::kMaxBytes) return EditOutcome{false, list + ": the list would grow too large"};
    *bytes = std::move(text);
    return EditOutcome{true, std::string(number) + " " + std::string(done) + ": " + LineName(list, added) + " added"};
  });
}

}  // namespace

ListLineParts SplitListLine(std::string_view line) {
  ListLineParts parts;
  const std::size_t end = line.size();
  auto startsLabel = [&](std::size_t i) { return line[i] == '#' && i + 1 < end && line[i + 1] == '='; };
  std::size_t first = end;
  std::size_t last = 0;
  std::size_t p = 0;
  for (;;) {
    while (p < end && IsBlank(line[p])) ++p;
    if (p >= end) break;
    if (line[p] == '#') {
      if (startsLabel(p)) {
        std::size_t from = p + 2;
        std::size_t to = end;
        while (from < to && IsBlank(line[from])) ++from;
        while (to > from && IsBlank(line[to - 1])) --to;
        parts.label = line.substr(from, to - from);
        parts.hasLabel = true;
      } else {
        parts.hasComment = true;
      }
      break;
    }
    first = std::min(first, p);
    bool anchored = false;
    if (line[p] == '^') {
      anchored = true;
      ++p;
    }
    std::size_t from = p;
    std::size_t to;
    if (p < end && line[p] == '"') {
      from = p + 1;
      std::size_t close = line.find('"', from);
      if (close == std::string_view::npos) {
        parts.unclosedQuote = true;
        close = end;
      }
      to = close;
      p = close < end ? close + 1 : end;
      if (!anchored && from < to && line[from] == '^') {
        anchored = true;
        ++from;
      }
    } else {
      while (p < end && !IsBlank(line[p]) && !startsLabel(p)) ++p;
      to = p;
    }
    last = p;
    if (from == to) {
      parts.emptyExpression = true;
    } else {
      parts.expressions.push_back(ListLineParts::Expression{line.substr(from, to - from), anchored});
    }
  }
  if (first < last) parts.before = line.substr(first, last - first);
  return parts;
}

ListFileView ReadListFile(const std::string& path) {
  FileSnapshot file = ReadSnapshot(path, ScreeningList::kMaxBytes);
  ListFileView view;
  view.path = path;
  view.version = file.version;
  view.exists = file.exists;
  view.error = OneLine(file.error);
  if (!file.error.empty()) return view;
  std::vector<LineSpan> lines = ListLines(file.bytes);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ListLineParts parts = SplitListLine(LineText(file.bytes, lines[i]));
    if (parts.expressions.empty()) continue;
    view.entries.push_back(ListEntryView{static_cast<int>(i + 1), ShownText(parts.before), ShownText(parts.label)});
  }
  return view;
}

EditOutcome BlockNumber(const std::string& list, std::string_view version, std::string_view number,
                        std::string_view label) {
  number = TrimSpaces(number);
  label = TrimSpaces(label);
  if (std::string why = NumberAndLabelProblem(number, label); !why.empty()) return EditOutcome{false, OneLine(why)};
  std::string line = "^" + std::string(number);
  if (!label.empty()) line += " #= " + std::string(label);
  return AddNumberLine(list, version, number, line, "blocked", "blocked");
}

EditOutcome AllowNumber(const std::string& list, std::string_view version, std::string_view number) {
  number = TrimSpaces(number);
  if (std::string why = NumberProblem(number); !why.empty()) return EditOutcome{false, why};
  return AddNumberLine(list, version, number, "^" + std::string(number), "allowed", "allowed");
}

EditOutcome UnblockNumber(const std::vector<std::string>& blockLists, const std::vector<std::string>& versions,
                          std::string_view number) {
  number = TrimSpaces(number);
  if (std::string why = NumberProblem(number); !why.empty()) return EditOutcome{false, why};
  if (blockLists.empty()) return EditOutcome{false, "no block list is set up"};
  if (versions.size() != blockLists.size()) return EditOutcome{false, "the page sent the wrong number of versions"};

  // First every list is read and every line that catches the number
  // looked at; only when each holds this number alone is anything removed.
  std::vector<std::vector<int>> removals(blockLists.size());
  bool any = false;
  for (std::size_t i = 0; i < blockLists.size(); ++i) {
    const std::string& path = blockLists[i];
    FileSnapshot file = ReadSnapshot(path, ScreeningList::kMaxBytes);
    if (!file.error.empty()) return EditOutcome{false, OneLine(path + ": " + file.error)};
    if (file.version != versions[i]) {
      return EditOutcome{false,
                         OneLine(path + ": the file changed since the page was shown; reload the page and try again")};
    }
    std::string error;
    std::optional<std::vector<int>> caught = LinesCatching(file.bytes, number, kMaxMatches + 1, &error);
    if (!caught) return EditOutcome{false, OneLine(path + ": " + error)};
    if (caught->size() > kMaxMatches) {
      return EditOutcome{false, OneLine(std::string(number) + " is caught by more than " + std::to_string(kMaxMatches) +
                                        " lines of " + path + "; edit that file by hand")};
    }
    std::vector<LineSpan> lines = ListLines(file.bytes);
    for (int line : *caught) {
      ListLineParts parts = SplitListLine(LineText(file.bytes, lines[static_cast<std::size_t>(line) - 1]));
      std::string where = LineName(path, line);
      if (parts.expressions.size() > 1) {
        return EditOutcome{false, OneLine(std::string(number) + " is blocked by " + where +
                                          ", which holds several expressions; edit that line by hand")};
      }
      if (parts.expressions.size() != 1 || parts.expressions[0].text != number) {
        return EditOutcome{false, OneLine(std::string(number) + " is blocked by " + where + " (" +
                                          std::string(parts.before) + "), which catches other numbers too; " +
                                          "edit that line by hand")};
      }
    }
    removals[i] = std::move(*caught);
    any = any || !removals[i].empty();
  }
  if (!any) return EditOutcome{false, OneLine(std::string(number) + " is on no block list")};

  std::string done;
  for (std::size_t i = 0; i < blockLists.size(); ++i) {
    if (removals[i].empty()) continue;
    const std::string& path = blockLists[i];
    std::vector<int> remove = removals[i];
    std::sort(remove.begin(), remove.end());
    EditOutcome outcome = EditFile(path, versions[i], ScreeningList::kMaxBytes,
                                   [&](const FileSnapshot& file, std::string* bytes) {
      // The version matched, so the lines are those looked at above.
      std::vector<LineSpan> lines = ListLines(file.bytes);
      std::string text;
      std::size_t kept = 0;
      std::string names;
      for (int line : remove) {
        const LineSpan& span = lines[static_cast<std::size_t>(line) - 1];
        text.append(file.bytes, kept, span.start - kept);
        kept = span.next;
        names += (names.empty() ? " line " : ", ") + std::to_string(line);
      }
      text.append(file.bytes, kept);
      *bytes = std::move(text);
      return EditOutcome{true, "removed " + path + names};
    });
    if (!outcome.ok) {
      return EditOutcome{false, OneLine(done.empty() ? outcome.message : done + "; then " + outcome.message)};
    }
    done += (done.empty() ? std::string(number) + " unblocked: " : "; ") + outcome.message;
  }
  return EditOutcome{true, OneLine(done)};
}

EditOutcome AddListEntry(const std::string& path, std::string_view version, std::string_view expressions,
                         std::string_view label) {
  expressions = TrimSpaces(expressions);
  label = TrimSpaces(label);
  if (std::string why = TextProblem(expressions, "the entry", false); !why.empty()) return EditOutcome{false, why};
  if (std::string why = TextProblem(label, "the label", true); !why.empty()) return EditOutcome{false, why};
  if (label.find("#=") != std::string_view::npos) return EditOutcome{false, "the label may not hold #="};
  ListLineParts parts = SplitListLine(expressions);
  if (parts.hasLabel || parts.hasComment) {
    return EditOutcome{false, "an expression may not start with # nor hold #= outside quotes"};
  }
  if (parts.unclosedQuote) return EditOutcome{false, "a quoted expression has no closing quote"};
  if (parts.emptyExpression) return EditOutcome{false, "an expression is empty"};
  if (parts.expressions.empty()) return EditOutcome{false, "the entry holds no expression"};
  std::string line(expressions);
  if (!label.empty()) line += " #= " + std::string(label);
  // The parser has the last word: the line must be one entry of just these
  // expressions.
  std::string error;
  ScreeningList parsed = ScreeningList::Parse("", line, &error);
  if (parsed.entries() != 1 || parsed.expressions() != parts.expressions.size()) {
    return EditOutcome{false, "the list would not read this entry as written"};
  }
  return EditFile(path, version, ScreeningList::kMaxBytes, [&](const FileSnapshot& file, std::string* bytes) {
    int added = 0;
    std::string text = WithLineAdded(file.bytes, line, &added);
    if (text.size() > ScreeningList::kMaxBytes) return EditOutcome{false, path + ": the list would grow too large"};
    *bytes = std::move(text);
    return EditOutcome{true, LineName(path, added) + " added: " + line};
  });
}

EditOutcome RemoveListLine(const std::string& path, std::string_view version, int line) {
  return EditFile(path, version, ScreeningList::kMaxBytes, [&](const FileSnapshot& file, std::string* bytes) {
    std::vector<LineSpan> lines = ListLines(file.bytes);
    if (line < 1 || static_cast<std::size_t>(line) > lines.size()) {
      return EditOutcome{false, path + " has no line " + std::to_string(line)};
    }
    const LineSpan& span = lines[static_cast<std::size_t>(line) - 1];
    ListLineParts parts = SplitListLine(LineText(file.bytes, span));
    if (parts.expressions.empty()) return EditOutcome{false, LineName(path, line) + " holds no entry"};
    *bytes = file.bytes.substr(0, span.start) + file.bytes.substr(span.next);
    return EditOutcome{true, LineName(path, line) + " removed: " + std::string(parts.before)};
  });
}

}  // namespace annc
