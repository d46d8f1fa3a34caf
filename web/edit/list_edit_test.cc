#include "web/edit/list_edit.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "line/screening/screening.h"
#include "web/edit/edit_test_support.h"

namespace annc {
namespace {

using testing::TempFolder;

TEST(SplitListLineTest, ReadsALineAsTheListParserDoes) {
  struct Case {
    std::string line;
    std::vector<std::string> expressions;  // "^" before an anchored one
    std::string before;
    std::string label;
  };
  const Case cases[] = {
      {"^1800", {"^1800"}, "^1800", ""},
      {"  5551234 \r", {"5551234"}, "5551234", ""},
      {"^1800 #= Toll free  \r", {"^1800"}, "^1800", "Toll free"},
      {"^1800#=x", {"^1800"}, "^1800", "x"},
      {"SPAM \"CHEAP \"#= LLC\"", {"SPAM", "CHEAP "}, "SPAM \"CHEAP \"", "LLC\""},
      {"^\"^99\" \"^77\" \"a #= b\"", {"^^99", "^77", "a #= b"}, "^\"^99\" \"^77\" \"a #= b\"", ""},
      {"a #comment #= no label", {"a"}, "a", ""},
      {"# a comment", {}, "", ""},
      {"#= only a label", {}, "", "only a label"},
      {"\"\" ^ \"unclosed", {"unclosed"}, "\"\" ^ \"unclosed", ""},
      {"", {}, "", ""},
      {"ab#cd", {"ab#cd"}, "ab#cd", ""},
  };
  for (const Case& c : cases) {
    ListLineParts parts = SplitListLine(c.line);
    std::vector<std::string> got;
    for (const auto& e : parts.expressions) got.push_back((e.anchored ? "^" : "") + std::string(e.text));
    EXPECT_EQ(got, c.expressions) << c.line;
    EXPECT_EQ(parts.before, c.before) << c.line;
    EXPECT_EQ(parts.label, c.label) << c.line;
    // The parser agrees on how many expressions the line holds.
    std::string error;
    ScreeningList list = ScreeningList::Parse("", c.line, &error);
    EXPECT_EQ(list.expressions(), c.expressions.size()) << c.line;
  }
}

// One edit of a list file: its bytes before and after, and the outcome.
struct ListCase {
  const char* what;
  std::string before;  // "-" for a missing file
  std::function<EditOutcome(const std::string& path, const std::string& version)> edit;
  bool ok;
  std::string after;
};

TEST(ListEditTest, EditsKeepEveryOtherByte) {
  const ListCase cases[] = {
      {"block, LF", "# spam\n\n^1800 #= toll free\n",
       [](auto& p, auto& v) { return BlockNumber(p, v, "5551234", "Car warranty"); }, true,
       "# spam\n\n^1800 #= toll free\n^5551234 #= Car warranty\n"},
      {"block, CR LF, no label", "# spam\r\n^1800\r\n", [](auto& p, auto& v) { return BlockNumber(p, v, "555", ""); },
       true, "# spam\r\n^1800\r\n^555\r\n"},
      {"block, no final line end", "# spam\r\n^1800",
       [](auto& p, auto& v) { return BlockNumber(p, v, "+4930", " x "); }, true, "# spam\r\n^1800\r\n^+4930 #= x\r\n"},
      {"block, missing file", "-", [](auto& p, auto& v) { return BlockNumber(p, v, "555", "a"); }, true,
       "^555 #= a\n"},
      {"block, already caught", "^555\n", [](auto& p, auto& v) { return BlockNumber(p, v, "5551234", "a"); }, true,
       "^555\n"},
      {"block, caught only by a longer number", "^5551234\n",
       [](auto& p, auto& v) { return BlockNumber(p, v, "555", ""); }, true, "^5551234\n^555\n"},
      {"allow", "friends\n", [](auto& p, auto& v) { return AllowNumber(p, v, "555"); }, true, "friends\n^555\n"},
      {"add entry", "^1\n", [](auto& p, auto& v) { return AddListEntry(p, v, " SPAM \"CHEAP LLC\" ^800 ", "junk"); },
       true, "^1\nSPAM \"CHEAP LLC\" ^800 #= junk\n"},
      {"add entry, #= quoted", "", [](auto& p, auto& v) { return AddListEntry(p, v, "\"a #= b\"", ""); }, true,
       "\"a #= b\"\n"},
      {"remove the middle line", "# c\r\n^1 #= one\r\n^2\r\n",
       [](auto& p, auto& v) { return RemoveListLine(p, v, 2); }, true, "# c\r\n^2\r\n"},
      {"remove the last line without a line end", "^1\n^2", [](auto& p, auto& v) { return RemoveListLine(p, v, 2); },
       true, "^1\n"},
      {"remove a comment", "# c\n^1\n", [](auto& p, auto& v) { return RemoveListLine(p, v, 1); }, false,
       "# c\n^1\n"},
      {"remove past the end", "^1\n", [](auto& p, auto& v) { return RemoveListLine(p, v, 2); }, false, "^1\n"},
      {"remove line 0", "^1\n", [](auto& p, auto& v) { return RemoveListLine(p, v, 0); }, false, "^1\n"},
  };
  for (const ListCase& c : cases) {
    TempFolder folder;
    if (std::string(c.before) != "-") folder.Write("calls.block", c.before);
    EditOutcome outcome = c.edit(folder / "calls.block", folder.Version("calls.block"));
    EXPECT_EQ(outcome.ok, c.ok) << c.what << ": " << outcome.message;
    EXPECT_EQ(folder.Read("calls.block"), c.after) << c.what;
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"calls.block"}) << c.what;
  }
}

TEST(ListEditTest, RefusedValuesWriteNothing) {
  const std::string before = "# list\r\n^1800 #= toll free";
  struct Case {
    const char* what;
    std::function<EditOutcome(const std::string& path, const std::string& version)> edit;
    std::string reason;  // a part of the message
  };
  const Case cases[] = {
      {"LF in a label", [](auto& p, auto& v) { return BlockNumber(p, v, "555", "a\nb"); }, "line end"},
      {"CR in a label", [](auto& p, auto& v) { return BlockNumber(p, v, "555", "a\rb"); }, "line end"},
      {"NUL in a label", [](auto& p, auto& v) { return BlockNumber(p, v, "555", std::string("a\0b", 3)); }, "NUL"},
      {"ESC in a label", [](auto& p, auto& v) { return BlockNumber(p, v, "555", "a\x1b[2J"); }, "control"},
      {"#= in a label", [](auto& p, auto& v) { return BlockNumber(p, v, "555", "a #= b"); }, "#="},
      {"invalid UTF-8 label", [](auto& p, auto& v) { return BlockNumber(p, v, "555", "\xC3("); }, "UTF-8"},
      {"long label", [](auto& p, auto& v) { return BlockNumber(p, v, "555", std::string(201, 'x')); }, "longer"},
      {"empty number", [](auto& p, auto& v) { return BlockNumber(p, v, "  ", ""); }, "empty"},
      {"letters", [](auto& p, auto& v) { return BlockNumber(p, v, "555-1234", ""); }, "only digits"},
      {"= in a number", [](auto& p, auto& v) { return AllowNumber(p, v, "555=1"); }, "only digits"},
      {"# in a number", [](auto& p, auto& v) { return AllowNumber(p, v, "#31#"); }, "only digits"},
      {"a bare +", [](auto& p, auto& v) { return AllowNumber(p, v, "+"); }, "no digits"},
      {"long number", [](auto& p, auto& v) { return AllowNumber(p, v, std::string(32, '1')); }, "longer"},
      {"entry starts with #", [](auto& p, auto& v) { return AddListEntry(p, v, "#555", ""); }, "start with #"},
      {"token starts with #", [](auto& p, auto& v) { return AddListEntry(p, v, "555 #x", ""); }, "start with #"},
      {"#= in an entry", [](auto& p, auto& v) { return AddListEntry(p, v, "555#=x", ""); }, "#="},
      {"unclosed quote", [](auto& p, auto& v) { return AddListEntry(p, v, "\"CHEAP", ""); }, "closing quote"},
      {"empty quotes", [](auto& p, auto& v) { return AddListEntry(p, v, "a \"\"", ""); }, "empty"},
      {"bare ^", [](auto& p, auto& v) { return AddListEntry(p, v, "^", ""); }, "empty"},
      {"empty entry", [](auto& p, auto& v) { return AddListEntry(p, v, "", "x"); }, "empty"},
      {"tab in an entry", [](auto& p, auto& v) { return AddListEntry(p, v, "a\tb", ""); }, "control"},
      {"LF in an entry", [](auto& p, auto& v) { return AddListEntry(p, v, "a\n^1", ""); }, "line end"},
      {"long entry", [](auto& p, auto& v) { return AddListEntry(p, v, std::string(201, '5'), ""); }, "longer"},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    folder.Write("calls.block", before);
    EditOutcome outcome = c.edit(folder / "calls.block", folder.Version("calls.block"));
    EXPECT_FALSE(outcome.ok) << c.what;
    EXPECT_NE(outcome.message.find(c.reason), std::string::npos) << c.what << ": " << outcome.message;
    EXPECT_EQ(folder.Read("calls.block"), before) << c.what;
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"calls.block"}) << c.what;
  }
}

TEST(ListEditTest, AChangedFileIsRefused) {
  TempFolder folder;
  folder.Write("calls.block", "^1\n");
  std::string shown = folder.Version("calls.block");
  folder.Write("calls.block", "^2\n");
  EditOutcome outcome = BlockNumber(folder / "calls.block", shown, "555", "");
  EXPECT_FALSE(outcome.ok);
  EXPECT_NE(outcome.message.find("changed since the page was shown"), std::string::npos) << outcome.message;
  EXPECT_FALSE(RemoveListLine(folder / "calls.block", shown, 1).ok);
  EXPECT_FALSE(UnblockNumber({folder / "calls.block"}, {shown}, "2").ok);
  EXPECT_EQ(folder.Read("calls.block"), "^2\n");
}

TEST(UnblockTest, RemovesTheLinesThatHoldOnlyTheNumber) {
  TempFolder folder;
  folder.Write("a.block", "# mine\r\n^5551234 #= Car warranty\r\n^1800\r\n\"5551234\"");
  folder.Write("b.block", "^999\n5551234\n");
  EditOutcome outcome = UnblockNumber({folder / "a.block", folder / "b.block", folder / "missing.block"},
                                      {folder.Version("a.block"), folder.Version("b.block"), "none"}, "5551234");
  EXPECT_TRUE(outcome.ok) << outcome.message;
  EXPECT_NE(outcome.message.find("a.block line 2, 4"), std::string::npos) << outcome.message;
  EXPECT_NE(outcome.message.find("b.block line 2"), std::string::npos) << outcome.message;
  EXPECT_EQ(folder.Read("a.block"), "# mine\r\n^1800\r\n");
  EXPECT_EQ(folder.Read("b.block"), "^999\n");
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"a.block", "b.block"}));
}

TEST(UnblockTest, ChangesNothingWhenALineHoldsMore) {
  struct Case {
    const char* what;
    std::string second;  // the second list's text
    std::string message;
  };
  const Case cases[] = {
      {"an expression for many", "# toll free\n^1800 #= toll free\n",
       "1800555 is blocked by {b} line 2 (^1800), which catches other numbers too"},
      {"unanchored, inside the number", "55\n", "1800555 is blocked by {b} line 1 (55), which catches"},
      {"several expressions", "\n^1800555 SPAM\n", "1800555 is blocked by {b} line 2, which holds several expressions"},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    const std::string first = "^1800555\n";
    folder.Write("a.block", first);
    folder.Write("b.block", c.second);
    EditOutcome outcome =
        UnblockNumber({folder / "a.block", folder / "b.block"}, {folder.Version("a.block"), folder.Version("b.block")},
                      "1800555");
    std::string want = c.message;
    want.replace(want.find("{b}"), 3, folder / "b.block");
    EXPECT_FALSE(outcome.ok) << c.what;
    EXPECT_NE(outcome.message.find(want), std::string::npos) << c.what << ": " << outcome.message;
    EXPECT_EQ(folder.Read("a.block"), first) << c.what;
    EXPECT_EQ(folder.Read("b.block"), c.second) << c.what;
  }
}

TEST(UnblockTest, RefusesWhatItCannotDo) {
  TempFolder folder;
  folder.Write("a.block", "^1\n");
  const std::string a = folder / "a.block";
  const std::string version = folder.Version("a.block");
  EXPECT_NE(UnblockNumber({a}, {version}, "2").message.find("on no block list"), std::string::npos);
  EXPECT_NE(UnblockNumber({a}, {}, "1").message.find("wrong number of versions"), std::string::npos);
  EXPECT_NE(UnblockNumber({}, {}, "1").message.find("no block list"), std::string::npos);
  EXPECT_NE(UnblockNumber({a}, {version}, "1\n").message.find("only digits"), std::string::npos);
  EXPECT_EQ(folder.Read("a.block"), "^1\n");
}

TEST(ReadListFileTest, ShowsTheEntriesWithTheirLines) {
  TempFolder folder;
  folder.Write("calls.block", "# c\r\n\r\n^1800 #= toll free\r\nSPAM \"a b\"\r\n\xFF\x1b #= \xC3\xA9");
  ListFileView view = ReadListFile(folder / "calls.block");
  EXPECT_TRUE(view.exists);
  EXPECT_EQ(view.error, "");
  EXPECT_EQ(view.version, folder.Version("calls.block"));
  ASSERT_EQ(view.entries.size(), 3u);
  EXPECT_EQ(view.entries[0].line, 3);
  EXPECT_EQ(view.entries[0].expressions, "^1800");
  EXPECT_EQ(view.entries[0].label, "toll free");
  EXPECT_EQ(view.entries[1].line, 4);
  EXPECT_EQ(view.entries[1].expressions, "SPAM \"a b\"");
  EXPECT_EQ(view.entries[2].line, 5);
  EXPECT_EQ(view.entries[2].expressions, "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(view.entries[2].label, "\xC3\xA9");

  ListFileView missing = ReadListFile(folder / "none.block");
  EXPECT_FALSE(missing.exists);
  EXPECT_EQ(missing.version, "none");
  EXPECT_EQ(missing.error, "");
}

}  // namespace
}  // namespace annc
