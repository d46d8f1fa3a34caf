// annc-web's checks of what its list and phone-book forms send, and its
// reading of a list line, on arbitrary bytes:
// - IsUtf8 agrees with the reference table of well-formed UTF-8;
// - ShownText and OneLine give well-formed UTF-8 with no control character
//   (ShownText keeps a tab), and leave text that is already so unchanged;
// - TextProblem finds none exactly when the value is non-empty, at most
//   kMaxValueBytes, well-formed and free of control characters;
// - NumberProblem finds none exactly for 1 to kMaxNumberBytes - 1 digits
//   after an optional '+';
// - SplitListLine reads a line as the list parser annc-line screens with
//   (ScreeningList) does: the same expressions, each of which the parsed
//   list finds on that line with the same label.
#include <cstdint>
#include <string>
#include <string_view>

#include "line/screening/screening.h"
#include "tests/fuzz/fuzz_support.h"
#include "web/edit/edit_values.h"
#include "web/edit/list_edit.h"

namespace {

using fuzz::Fail;

void CheckValues(std::string_view text) {
  bool utf8 = fuzz::WellFormedUtf8(text);
  if (annc::IsUtf8(text) != utf8) Fail("IsUtf8 disagrees with the reference", text);

  std::string shown = annc::ShownText(text);
  if (!fuzz::WellFormedUtf8(shown) || fuzz::HasControl(shown, true)) Fail("ShownText not fit for a page", text);
  bool plain = utf8 && !fuzz::HasControl(text, true);
  if (plain && shown != text) Fail("ShownText changed text that was fine", text);

  std::string line = annc::OneLine(text);
  if (!fuzz::WellFormedUtf8(line) || fuzz::HasControl(line, false)) Fail("OneLine not one clean line", text);
  if (utf8 && !fuzz::HasControl(text, false) && line != text) Fail("OneLine changed text that was fine", text);

  bool fine = !text.empty() && text.size() <= annc::kMaxValueBytes && utf8 && !fuzz::HasControl(text, false);
  if (annc::TextProblem(text, "the label", false).empty() != fine) Fail("TextProblem judged wrongly", text);
  if (!annc::TextProblem("", "the label", true).empty()) Fail("an empty optional value refused", text);

  std::string_view digits = !text.empty() && text[0] == '+' ? text.substr(1) : text;
  bool number = !digits.empty() && text.size() < annc::kMaxNumberBytes &&
                digits.find_first_not_of("0123456789") == std::string_view::npos;
  if (annc::NumberProblem(text).empty() != number) Fail("NumberProblem judged wrongly", text);
}

void CheckListLine(std::string_view text) {
  // One line, short enough for the list's lookups to see all of it.
  if (text.size() > annc::ScreeningList::kMaxSubjectBytes || text.find('\n') != std::string_view::npos) return;
  annc::ListLineParts parts = annc::SplitListLine(text);
  std::string error;
  annc::ScreeningList list = annc::ScreeningList::Parse("calls.block", std::string(text), &error);
  if (!error.empty()) Fail("one short line refused by the list parser", text);
  if (list.expressions() != parts.expressions.size()) Fail("a different number of expressions", text);
  if (parts.hasLabel && parts.hasComment) Fail("both a label and a comment", text);
  for (const annc::ListLineParts::Expression& e : parts.expressions) {
    if (e.text.empty()) Fail("an empty expression kept", text);
    if (e.text.data() < text.data() || e.text.data() + e.text.size() > text.data() + text.size()) {
      Fail("an expression outside the line", text);
    }
    std::optional<annc::ScreeningList::Match> match = list.Find(e.text, "");
    if (!match || match->line != 1) Fail("the list parser does not find an expression", text);
    if (match->label != (parts.hasLabel ? parts.label : std::string_view())) Fail("a different label", text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckValues(text);
  CheckValues(annc::TrimSpaces(text));
  CheckListLine(text);
  return 0;
}
