// The screening lists and the decision on arbitrary bytes:
// - the input as a list's text: no crash, a match names a line of the text
//   and a label that is part of it, trimmed;
// - lists built from the input (expressions anchored or not, quoted or not,
//   labels, comments) must find what a plain scan of their expressions
//   finds, on the earliest line;
// - the decision follows the order allow, block, quiet hours; its log and
//   status texts hold no control byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "line/screening/screening.h"
#include "text/terminal_text.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Fail;

bool HasControlByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 32 || u == 127;
  });
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

void CheckRawList(std::string_view text, std::string_view number, std::string_view name) {
  std::string error;
  annc::ScreeningList list = annc::ScreeningList::Parse("raw", std::string(text), &error);
  if (!error.empty()) Fail("a small list refused", text);
  auto match = list.Find(number, name);
  if (!match) return;
  int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
  if (match->line < 1 || match->line > lines) Fail("a match on no line of the list", text);
  if (!match->label.empty()) {
    if (text.find(match->label) == std::string_view::npos) Fail("a label not in the list", text);
    if (IsBlank(match->label.front()) || IsBlank(match->label.back())) Fail("a label not trimmed", text);
  }
}

// A short run over a small alphabet, so that expressions and subjects meet.
std::string Word(FuzzedDataProvider& in, bool blanksToo) {
  static constexpr char kAlphabet[] = "1255AAb^#=\"";
  std::string word;
  std::size_t length = in.ConsumeIntegralInRange<std::size_t>(0, 5);
  for (std::size_t i = 0; i < length; ++i) {
    char c = kAlphabet[in.ConsumeIntegralInRange<std::size_t>(0, sizeof kAlphabet - 2)];
    if (blanksToo && in.ConsumeBool()) c = ' ';
    word += c;
  }
  return word;
}

struct Expression {
  std::string text;
  bool anchored;
  int line;
};

bool Matches(const Expression& e, std::string_view subject) {
  subject = subject.substr(0, annc::ScreeningList::kMaxSubjectBytes);
  return e.anchored ? subject.substr(0, e.text.size()) == e.text : subject.find(e.text) != std::string_view::npos;
}

// A list built from the input, with the expressions it must hold.
std::string BuildList(FuzzedDataProvider& in, std::vector<Expression>* expressions) {
  std::string text;
  int lines = in.ConsumeIntegralInRange<int>(0, 12);
  for (int line = 1; line <= lines; ++line) {
    if (in.ConsumeBool() && in.ConsumeBool()) {
      text += in.ConsumeBool() ? "# " + Word(in, true) + "\n" : " \t\r\n";
      continue;
    }
    int count = in.ConsumeIntegralInRange<int>(1, 3);
    for (int i = 0; i < count; ++i) {
      bool anchored = in.ConsumeBool();
      bool quoted = in.ConsumeBool();
      std::string word = Word(in, quoted);
      // What a plain run or a quoted string cannot hold.
      word.erase(std::remove(word.begin(), word.end(), '"'), word.end());
      if (!quoted) {
        word.erase(std::remove(word.begin(), word.end(), ' '), word.end());
        while (word.find("#=") != std::string::npos) word.erase(word.find("#="), 2);
        if (!word.empty() && word[0] == '#') word.insert(0, "1");
      }
      if (!anchored && !word.empty() && word[0] == '^') word.insert(0, "1");
      if (word.empty()) continue;
      if (anchored && quoted && in.ConsumeBool()) {
        text += "\"^" + word + "\" ";  // the anchor inside the quotes
      } else {
        text += (anchored ? "^" : "") + (quoted ? "\"" + word + "\"" : word) + " ";
      }
      expressions->push_back(Expression{word, anchored, line});
    }
    if (in.ConsumeBool()) text += "#= " + Word(in, true);
    text += in.ConsumeBool() ? "\r\n" : "\n";
  }
  return text;
}

void CheckBuiltList(FuzzedDataProvider& in) {
  std::vector<Expression> expressions;
  std::string text = BuildList(in, &expressions);
  std::string number = Word(in, false);
  std::string name = Word(in, true);
  std::string error;
  annc::ScreeningList list = annc::ScreeningList::Parse("built", text, &error);
  if (!error.empty()) Fail("a built list refused", text);
  if (list.expressions() != expressions.size()) Fail("expressions lost or invented", text);
  int want = 0;
  for (const Expression& e : expressions) {
    if (Matches(e, number) || Matches(e, name)) {
      want = e.line;
      break;
    }
  }
  auto match = list.Find(number, name);
  if ((match ? match->line : 0) != want) Fail("not the match a plain scan finds", text + "|" + number + "|" + name);
}

void CheckDecision(FuzzedDataProvider& in, std::string_view rawText) {
  std::vector<Expression> unused;
  std::string error;
  annc::ScreeningList allow = annc::ScreeningList::Parse("allow", BuildList(in, &unused), &error);
  annc::ScreeningList block = annc::ScreeningList::Parse("block", std::string(rawText), &error);
  annc::ScreeningRules rules;
  rules.allow = {&allow};
  rules.block = {&block};
  int start = in.ConsumeIntegralInRange<int>(0, 1439);
  int end = in.ConsumeIntegralInRange<int>(0, 1440);
  if (start != end) rules.quiet.push_back(annc::QuietWindow{start, end});
  rules.repeatWindowMinutes = in.ConsumeIntegralInRange<int>(0, 1440);
  annc::RecentCalls recent;
  annc::ScreenedCall call;
  if (in.ConsumeBool()) call.number = Word(in, true);
  if (in.ConsumeBool()) call.name = in.ConsumeRandomLengthString(300);
  annc::Millis now = in.ConsumeIntegralInRange<annc::Millis>(0, 1000000000);
  if (in.ConsumeBool()) recent.Remember(annc::ScreeningNumber(call), now - in.ConsumeIntegralInRange<int>(0, 600000),
                                        600000);
  int minute = in.ConsumeIntegralInRange<int>(0, 1439);
  annc::Decision d = annc::DecideCall(call, rules, minute, recent, now);

  std::string number = annc::ScreeningNumber(call);
  std::string name(annc::TrimBlanks(call.name.value_or("")));
  bool allowed = allow.Find(number, name).has_value();
  bool blocked = !allowed && block.Find(number, name).has_value();
  bool quietTime = !rules.quiet.empty() && rules.quiet[0].Contains(minute);
  if (allowed && (d.kind != annc::Decision::kAnnounce || d.rule.rfind("allowed by allow line ", 0) != 0)) {
    Fail("an allowed call not announced", rawText);
  }
  if (blocked && (d.kind != annc::Decision::kBlock || d.rule.rfind("blocked by block line ", 0) != 0)) {
    Fail("a blocked call not blocked", rawText);
  }
  if (!allowed && !blocked && d.kind == annc::Decision::kBlock) Fail("blocked by nothing", rawText);
  if (d.kind == annc::Decision::kQuiet && !quietTime) Fail("quiet outside quiet hours", rawText);
  if (!allowed && !blocked && quietTime && d.kind == annc::Decision::kAnnounce &&
      (rules.repeatWindowMinutes == 0 || number == "WITHHELD")) {
    Fail("announced in quiet hours without a reason", rawText);
  }
  if (HasControlByte(d.rule)) Fail("control byte in the rule", rawText);
  if (d.kind != annc::Decision::kAnnounce) {
    if (HasControlByte(annc::LogMessage(call, d, annc::Charset::kSingleByte)))
      Fail("control byte in the log line", rawText);
    if (HasControlByte(annc::StatusLine(call, d, annc::Charset::kSingleByte)))
      Fail("control byte in the status line", rawText);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::size_t cut = std::min<std::size_t>(size, 24);
  CheckRawList(text, text.substr(0, cut / 2), text.substr(cut / 2, cut - cut / 2));
  FuzzedDataProvider in(data, size);
  CheckBuiltList(in);
  CheckDecision(in, text);
  return 0;
}
