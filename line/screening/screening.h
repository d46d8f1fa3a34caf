// Screening calls: the block and allow lists (the format NCID's server reads
// for its blacklist and whitelist), quiet hours, and the decision for one
// call. Pure: no clock, no files; the caller passes the text and the time in.
#ifndef ANNC_LINE_SCREENING_H_
#define ANNC_LINE_SCREENING_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line/calls/call_tracker.h"  // Millis
#include "text/terminal_text.h"

namespace annc {

// One list, read from its text. A line is blank, a comment (first non-blank
// character '#'), or an entry: expressions separated by blanks, each a run
// of non-blank characters or a "quoted string" (blanks inside; one without
// its closing quote runs to the end of the line). A '^' before an expression
// (or just inside its quotes) anchors it to the start. Outside quotes, "#="
// ends the expressions and the text after it, blanks trimmed, is the line's
// label; another token that begins with '#' starts a comment. Empty
// expressions ("", ^) are left out: they would match every call.
//
// An expression matches a call when it occurs in the number or in the name,
// byte for byte (case-sensitively); an anchored one only at their start.
// Lookups cost about the length of number and name times the depth of the
// longest match, whatever the size of the list: the expressions are kept in
// two sorted arrays (anchored and not) that are walked like a trie.
class ScreeningList {
 public:
  // Limits that keep the memory a list may take bounded: its text and about
  // 12 bytes per expression.
  static constexpr std::size_t kMaxBytes = 8u << 20;
  static constexpr std::size_t kMaxExpressions = 1000000;
  // Of a number or a name, only this much is tested (caller-ID names and
  // numbers are far shorter), which bounds the time a decision takes.
  static constexpr std::size_t kMaxSubjectBytes = 256;

  // Reads `text` (kept inside the list). `name` is how rules name the list
  // ("calls.block"). On failure (beyond a limit) *error says why, in a few
  // words, and the list is empty.
  static ScreeningList Parse(std::string name, std::string text, std::string* error);

  struct Match {
    int line = 0;            // 1 for the first line of the text
    std::string_view label;  // after #=, empty when none
  };
  // The match on the earliest line, if any, for a call's number and name.
  std::optional<Match> Find(std::string_view number, std::string_view name) const;

  const std::string& name() const { return name_; }
  std::size_t expressions() const { return anchored_.size() + floating_.size(); }
  std::size_t entries() const { return entries_.size(); }

 private:
  struct Expression {
    std::uint32_t offset;  // in text_
    std::uint32_t length;
    std::uint32_t entry;   // index in entries_, in line order
  };
  struct Entry {
    std::uint32_t line;
    std::uint32_t labelOffset;
    std::uint32_t labelLength;
  };

  class LineReader;  // one line's entry, in screening.cc

  std::string_view TextOf(const Expression& e) const { return std::string_view(text_).substr(e.offset, e.length); }
  // Adds the entry `reader` reads from line `line`, if it holds an
  // expression; false past kMaxExpressions, the list then half filled.
  bool AddEntry(std::uint32_t line, LineReader& reader);
  // Orders each array by text, then entry, as the lookups need.
  void SortExpressions();
  // The smallest entry index among the expressions of `sorted` that are a
  // prefix of `subject`; `best` when none is smaller.
  std::uint32_t EarliestPrefixOf(const std::vector<Expression>& sorted, std::string_view subject,
                                 std::uint32_t best) const;

  std::string name_;
  std::string text_;
  std::vector<Expression> anchored_;  // sorted by text, then entry
  std::vector<Expression> floating_;  // likewise
  std::vector<Entry> entries_;
};

// A window of local time, in minutes since midnight: from `start` up to,
// not including, `end`; one whose start comes after its end spans midnight.
struct QuietWindow {
  int start = 0;
  int end = 0;  // 1440 for "24:00"
  bool Contains(int minuteOfDay) const;
  std::string Text() const;  // "22:00-07:00"
};
// "HH:MM-HH:MM" (the hours may have one digit, 24:00 may end a window); the
// two ends differ. nullopt when malformed.
std::optional<QuietWindow> ParseQuietWindow(std::string_view text);

// The numbers that called lately, for the repeat window; bounded.
class RecentCalls {
 public:
  static constexpr std::size_t kMaxNumbers = 64;
  // Forgets calls older than `keepMs` before `now`, then remembers this one.
  void Remember(const std::string& number, Millis now, Millis keepMs);
  // When `number` last called, if it is remembered.
  std::optional<Millis> LastCall(const std::string& number) const;
  std::size_t size() const { return calls_.size(); }

 private:
  struct Call {
    std::string number;
    Millis at;
  };
  std::vector<Call> calls_;  // oldest first
};

// A call as the caller-ID source gave it.
struct ScreenedCall {
  std::optional<std::string> number;
  std::optional<std::string> name;
};

// The number the lists are tested with: the number without the blanks at
// its ends, or "WITHHELD" for a call without one (no number, or a marker
// such as P, O, PRIVATE that AnnouncedNumber turns into "Unknown").
std::string ScreeningNumber(const ScreenedCall& call);

// What the command line asks for.
struct ScreeningSettings {
  std::vector<std::string> blockLists;  // paths, in the order given
  std::vector<std::string> allowLists;
  std::vector<QuietWindow> quiet;
  int repeatWindowMinutes = 3;
  Charset charset = Charset::kSingleByte;  // the locale's, for the lists' names
};

struct ScreeningRules {
  std::vector<const ScreeningList*> allow;
  std::vector<const ScreeningList*> block;
  std::vector<QuietWindow> quiet;
  int repeatWindowMinutes = 3;  // 0: no repeat window
  Charset charset = Charset::kSingleByte;  // the locale's, for the lists' names
};

struct Decision {
  enum Kind { kAnnounce, kQuiet, kBlock };
  Kind kind = kAnnounce;
  // What decided it, for the status line: "blocked by calls.block line 12",
  // "quiet hours 22:00-07:00", "allowed by friends line 3", "called again
  // within 3 minutes"; empty for a call no rule touched. Fit for a terminal.
  std::string rule;
  std::string label;  // a blocking line's label (after #=), as written
  // The rule alone, as the call history keeps it: "calls.block line 12",
  // "quiet hours 22:00-07:00"; empty for a call no rule touched.
  std::string cause;
};

// The decision for `call` at `minuteOfDay` (local time, 0..1439) and `now`
// (the clock `recent` was filled with). The allow lists win over
// everything; then the block lists; then quiet hours, unless the same
// number (never WITHHELD) called within the repeat window.
Decision DecideCall(const ScreenedCall& call, const ScreeningRules& rules, int minuteOfDay, const RecentCalls& recent,
                    Millis now);

// The calls log's first character for a decision that is not kAnnounce:
// 'B' or 'Q'.
char LogLetter(const Decision& decision);
// The rest of that log line: the number as annc is given it ("Unknown"
// without one), then " - " and the block's label or else the caller's name,
// when there is one; in caret notation, as annc writes its own lines.
std::string LogMessage(const ScreenedCall& call, const Decision& decision, Charset charset);
// The status line for a decision that is not kAnnounce:
// "call from 8005551212 (Car warranty): blocked by calls.block line 12".
std::string StatusLine(const ScreenedCall& call, const Decision& decision, Charset charset);

}  // namespace annc

#endif  // ANNC_LINE_SCREENING_H_
