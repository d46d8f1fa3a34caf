#include "line/screening/screening.h"

#include <algorithm>

#include "line/calls/caller_number.h"
#include "text/terminal_text.h"

namespace annc {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

unsigned char ByteAt(std::string_view text, std::size_t i) { return static_cast<unsigned char>(text[i]); }

std::string TwoDigits(int n) { return std::string{static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)}; }

}  // namespace

// Reads one line of a list: an entry's expressions one by one, then its
// label. A line whose first non-blank character is '#' is a comment this
// way too: it holds no expression.
class ScreeningList::LineReader {
 public:
  struct Span {
    std::size_t from = 0;
    std::size_t to = 0;
  };
  struct Token {
    Span text;
    bool anchored = false;
  };

  // The line is text[start, end), without its '\n'.
  LineReader(std::string_view text, std::size_t start, std::size_t end) : text_(text), p_(start), end_(end) {}

  // The next expression, empty ones left out; false after the last.
  bool Next(Token& token) {
    for (SkipBlanks(); p_ < end_; SkipBlanks()) {
      if (text_[p_] == '#') {  // a label, or a comment
        if (StartsLabel(p_)) label_ = Trimmed(p_ + 2, end_);
        p_ = end_;
        return false;
      }
      token = ReadExpression();
      if (token.text.from != token.text.to) return true;
    }
    return false;
  }

  // After the last expression: the text after "#=", blanks trimmed; empty when none.
  Span label() const { return label_; }

 private:
  void SkipBlanks() {
    while (p_ < end_ && IsBlank(text_[p_])) ++p_;
  }

  bool StartsLabel(std::size_t i) const { return text_[i] == '#' && i + 1 < end_ && text_[i + 1] == '='; }

  Span Trimmed(std::size_t from, std::size_t to) const {
    while (from < to && IsBlank(text_[from])) ++from;
    while (to > from && IsBlank(text_[to - 1])) --to;
    return Span{from, to};
  }

  // A run of non-blank characters up to a blank or "#=", or a quoted string;
  // either after an optional '^'.
  Token ReadExpression() {
    bool anchored = false;
    if (text_[p_] == '^') {
      anchored = true;
      ++p_;
    }
    if (p_ < end_ && text_[p_] == '"') return ReadQuoted(anchored);
    std::size_t from = p_;
    while (p_ < end_ && !IsBlank(text_[p_]) && !StartsLabel(p_)) ++p_;
    return Token{Span{from, p_}, anchored};
  }

  // From the opening quote at p_ to the closing one, or else to the end of
  // the line; a '^' just inside anchors it too.
  Token ReadQuoted(bool anchored) {
    std::size_t from = p_ + 1;
    std::size_t close = text_.substr(from, end_ - from).find('"');
    close = close == std::string_view::npos ? end_ : from + close;
    p_ = close < end_ ? close + 1 : end_;
    if (!anchored && from < close && text_[from] == '^') {
      anchored = true;
      ++from;
    }
    return Token{Span{from, close}, anchored};
  }

  std::string_view text_;
  std::size_t p_;
  std::size_t end_;
  Span label_;
};

ScreeningList ScreeningList::Parse(std::string name, std::string text, std::string* error) {
  ScreeningList list;
  list.name_ = std::move(name);
  error->clear();
  if (text.size() > kMaxBytes) {
    *error = "larger than " + std::to_string(kMaxBytes >> 20) + " MiB";
    return list;
  }
  list.text_ = std::move(text);
  std::string_view all(list.text_);

  std::uint32_t lineNumber = 0;
  for (std::size_t lineStart = 0; lineStart < all.size();) {
    std::size_t lineEnd = std::min(all.find('\n', lineStart), all.size());
    LineReader reader(all, lineStart, lineEnd);
    if (!list.AddEntry(++lineNumber, reader)) {
      *error = "more than " + std::to_string(kMaxExpressions) + " expressions";
      ScreeningList empty;
      empty.name_ = std::move(list.name_);
      return empty;
    }
    lineStart = lineEnd + 1;
  }
  list.SortExpressions();
  return list;
}

bool ScreeningList::AddEntry(std::uint32_t line, LineReader& reader) {
  const auto entry = static_cast<std::uint32_t>(entries_.size());
  const std::size_t before = expressions();
  for (LineReader::Token token; reader.Next(token);) {
    if (expressions() >= kMaxExpressions) return false;
    const LineReader::Span& t = token.text;
    Expression e{static_cast<std::uint32_t>(t.from), static_cast<std::uint32_t>(t.to - t.from), entry};
    (token.anchored ? anchored_ : floating_).push_back(e);
  }
  if (expressions() > before) {
    LineReader::Span label = reader.label();
    entries_.push_back(
        Entry{line, static_cast<std::uint32_t>(label.from), static_cast<std::uint32_t>(label.to - label.from)});
  }
  return true;
}

void ScreeningList::SortExpressions() {
  auto byText = [this](const Expression& a, const Expression& b) {
    int c = TextOf(a).compare(TextOf(b));
    return c != 0 ? c < 0 : a.entry < b.entry;
  };
  std::sort(anchored_.begin(), anchored_.end(), byText);
  std::sort(floating_.begin(), floating_.end(), byText);
}

std::uint32_t ScreeningList::EarliestPrefixOf(const std::vector<Expression>& sorted, std::string_view subject,
                                              std::uint32_t best) const {
  // [lo, hi) holds the expressions that begin with subject[0, depth); those
  // that are exactly that come first, the earliest line first among them,
  // and the rest are ordered by their byte at `depth`.
  auto lo = sorted.begin();
  auto hi = sorted.end();
  for (std::size_t depth = 0; lo != hi; ++depth) {
    if (hi - lo == 1) {
      // One candidate left: compare the rest of it at once.
      std::string_view rest = TextOf(*lo).substr(depth);
      if (rest.size() <= subject.size() - depth && subject.compare(depth, rest.size(), rest) == 0) {
        best = std::min(best, lo->entry);
      }
      break;
    }
    if (lo->length == depth) {
      best = std::min(best, lo->entry);
      lo = std::partition_point(lo, hi, [depth](const Expression& e) { return e.length == depth; });
      if (lo == hi) break;
    }
    if (depth == subject.size()) break;
    unsigned char c = ByteAt(subject, depth);
    lo = std::partition_point(lo, hi, [&](const Expression& e) { return ByteAt(TextOf(e), depth) < c; });
    hi = std::partition_point(lo, hi, [&](const Expression& e) { return ByteAt(TextOf(e), depth) == c; });
  }
  return best;
}

std::optional<ScreeningList::Match> ScreeningList::Find(std::string_view number, std::string_view name) const {
  constexpr std::uint32_t kNone = UINT32_MAX;
  std::uint32_t best = kNone;
  for (std::string_view subject : {number.substr(0, kMaxSubjectBytes), name.substr(0, kMaxSubjectBytes)}) {
    if (!anchored_.empty()) best = EarliestPrefixOf(anchored_, subject, best);
    if (floating_.empty()) continue;
    for (std::size_t i = 0; i < subject.size(); ++i) best = EarliestPrefixOf(floating_, subject.substr(i), best);
  }
  if (best == kNone) return std::nullopt;
  const Entry& entry = entries_[best];
  return Match{static_cast<int>(entry.line), std::string_view(text_).substr(entry.labelOffset, entry.labelLength)};
}

bool QuietWindow::Contains(int minuteOfDay) const {
  if (start < end) return minuteOfDay >= start && minuteOfDay < end;
  return minuteOfDay >= start || minuteOfDay < end;
}

std::string QuietWindow::Text() const {
  return TwoDigits(start / 60) + ":" + TwoDigits(start % 60) + "-" + TwoDigits(end / 60) + ":" + TwoDigits(end % 60);
}

namespace {

// "H:MM" or "HH:MM" in minutes since midnight; 24:00 only where `mayBeEnd`.
std::optional<int> ParseClock(std::string_view text, bool mayBeEnd) {
  std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon < 1 || colon > 2 || text.size() != colon + 3) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i != colon && (text[i] < '0' || text[i] > '9')) return std::nullopt;
  }
  int hour = colon == 1 ? text[0] - '0' : (text[0] - '0') * 10 + (text[1] - '0');
  int minute = (text[colon + 1] - '0') * 10 + (text[colon + 2] - '0');
  if (minute > 59) return std::nullopt;
  if (hour == 24 && minute == 0 && mayBeEnd) return 24 * 60;
  if (hour > 23) return std::nullopt;
  return hour * 60 + minute;
}

}  // namespace

std::optional<QuietWindow> ParseQuietWindow(std::string_view text) {
  std::size_t dash = text.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  std::optional<int> start = ParseClock(text.substr(0, dash), false);
  std::optional<int> end = ParseClock(text.substr(dash + 1), true);
  if (!start || !end || *start == *end) return std::nullopt;
  return QuietWindow{*start, *end};
}

void RecentCalls::Remember(const std::string& number, Millis now, Millis keepMs) {
  std::erase_if(calls_, [&](const Call& c) { return c.number == number || now - c.at > keepMs; });
  if (keepMs <= 0) return;
  if (calls_.size() >= kMaxNumbers) calls_.erase(calls_.begin());
  calls_.push_back(Call{number, now});
}

std::optional<Millis> RecentCalls::LastCall(const std::string& number) const {
  for (const Call& c : calls_) {
    if (c.number == number) return c.at;
  }
  return std::nullopt;
}

std::string ScreeningNumber(const ScreenedCall& call) {
  std::string number = AnnouncedNumber(call.number.value_or(""));
  return number == "Unknown" ? "WITHHELD" : number;
}

namespace {

// The caller's name without the blanks at its ends; a view into `call`.
std::string_view NameOf(const ScreenedCall& call) { return call.name ? TrimBlanks(*call.name) : std::string_view(); }

std::string ListLine(const ScreeningList& list, int line, Charset charset) {
  return CaretNotation(list.name(), "", charset) + " line " + std::to_string(line);
}

// The earliest match of the first list that matches.
const ScreeningList* FirstMatch(const std::vector<const ScreeningList*>& lists, std::string_view number,
                                std::string_view name, ScreeningList::Match* match) {
  for (const ScreeningList* list : lists) {
    if (auto found = list->Find(number, name)) {
      *match = *found;
      return list;
    }
  }
  return nullptr;
}

}  // namespace

Decision DecideCall(const ScreenedCall& call, const ScreeningRules& rules, int minuteOfDay, const RecentCalls& recent,
                    Millis now) {
  const std::string number = ScreeningNumber(call);
  const std::string_view name = NameOf(call);
  ScreeningList::Match match;
  if (const ScreeningList* list = FirstMatch(rules.allow, number, name, &match)) {
    std::string where = ListLine(*list, match.line, rules.charset);
    return Decision{Decision::kAnnounce, "allowed by " + where, {}, where};
  }
  if (const ScreeningList* list = FirstMatch(rules.block, number, name, &match)) {
    std::string where = ListLine(*list, match.line, rules.charset);
    return Decision{Decision::kBlock, "blocked by " + where, std::string(match.label), where};
  }
  for (const QuietWindow& window : rules.quiet) {
    if (!window.Contains(minuteOfDay)) continue;
    if (rules.repeatWindowMinutes > 0 && number != "WITHHELD") {
      std::optional<Millis> last = recent.LastCall(number);
      if (last && now - *last <= static_cast<Millis>(rules.repeatWindowMinutes) * 60000) {
        std::string again = "called again within " + std::to_string(rules.repeatWindowMinutes) + " minutes";
        return Decision{Decision::kAnnounce, again, {}, again};
      }
    }
    std::string quiet = "quiet hours " + window.Text();
    return Decision{Decision::kQuiet, quiet, {}, quiet};
  }
  return Decision{};
}

char LogLetter(const Decision& decision) { return decision.kind == Decision::kBlock ? 'B' : 'Q'; }

std::string LogMessage(const ScreenedCall& call, const Decision& decision, Charset charset) {
  std::string text = AnnouncerArgument(call.number.value_or(""));
  std::string_view shown = decision.kind == Decision::kBlock && !decision.label.empty()
                               ? std::string_view(decision.label)
                               : NameOf(call);
  if (!shown.empty()) {
    text += " - ";
    text.append(shown);
  }
  return CaretNotation(text, "", charset);
}

std::string StatusLine(const ScreenedCall& call, const Decision& decision, Charset charset) {
  std::string line = "call from " + AnnouncerArgument(call.number.value_or(""));
  std::string_view shown = !decision.label.empty() ? std::string_view(decision.label)
                                                   : NameOf(call);
  if (!shown.empty()) line += " (" + CaretNotation(shown, "", charset) + ")";
  return line + ": " + decision.rule;
}

}  // namespace annc
