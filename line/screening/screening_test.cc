#include "line/screening/screening.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace annc {
namespace {

ScreeningList ParseList(const std::string& text, const std::string& name = "calls.block") {
  std::string error;
  ScreeningList list = ScreeningList::Parse(name, text, &error);
  EXPECT_EQ(error, "") << text;
  return list;
}

// "line N" or "line N #= label" for the match, "-" for none.
std::string Found(const ScreeningList& list, const std::string& number, const std::string& name) {
  auto match = list.Find(number, name);
  if (!match) return "-";
  std::string shown = "line " + std::to_string(match->line);
  if (!match->label.empty()) shown += " #= " + std::string(match->label);
  return shown;
}

TEST(ScreeningListTest, TheFormat) {
  struct Case {
    const char* list;
    const char* number;
    const char* name;
    const char* want;
  };
  const Case cases[] = {
      // Substrings of the number or of the name, byte for byte.
      {"5551234\n", "5551234", "", "line 1"},
      {"5551234\n", "15551234999", "", "line 1"},
      {"5551234\n", "555123", "", "-"},
      {"SPAM\n", "5550000", "CHEAP SPAM LLC", "line 1"},
      {"spam\n", "5550000", "CHEAP SPAM LLC", "-"},  // case-sensitive
      {"1234\n", "5550000", "ROOM 1234", "line 1"},
      // ^ anchors to the start, of the number or of the name.
      {"^1800\n", "18005551212", "", "line 1"},
      {"^1800\n", "5551800", "", "-"},
      {"^1800\n", "5550000", "1800 FLOWERS", "line 1"},
      {"^1800\n", "5550000", "CALL 1800", "-"},
      {"^1800\n", "1800", "", "line 1"},
      {"^18005551212\n", "1800", "", "-"},
      // Several expressions on a line: any of them.
      {"5551111 5552222\t5553333\n", "5552222", "", "line 1"},
      {"5551111 5552222\t5553333\n", "5553333", "", "line 1"},
      // Quoted strings hold blanks; a ^ before or inside the quotes anchors.
      {"\"ANN LEE\"\n", "5550000", "DR ANN LEE", "line 1"},
      {"\"ANN LEE\"\n", "5550000", "ANN", "-"},
      {"ANN LEE\n", "5550000", "ANN", "line 1"},  // without quotes: two expressions
      {"^\"ANN LEE\"\n", "5550000", "DR ANN LEE", "-"},
      {"\"^ANN LEE\"\n", "5550000", "DR ANN LEE", "-"},
      {"\"^ANN LEE\"\n", "5550000", "ANN LEE", "line 1"},
      {"\"ANN LEE\"5559\n", "5559000", "", "line 1"},  // the quote ends the expression
      {"\"ANN LEE\n", "5550000", "ANN LEE X", "line 1"},  // no closing quote: to the end of the line
      {"\"ANN\nLEE\"\n", "5550000", "LEE", "-"},           // ... of its own line only
      {"\"ANN\nLEE\"\n", "5550000", "LEE\"", "line 2"},
      {"say\"hi\n", "5550000", "say\"hi", "line 1"},  // a quote inside a run is a byte like any other
      // #= ends the expressions and gives the label.
      {"5551234 #= Car warranty\n", "5551234", "", "line 1 #= Car warranty"},
      {"5551234 #=   Car warranty  \r\n", "5551234", "", "line 1 #= Car warranty"},
      {"5551234#=Car\n", "5551234", "", "line 1 #= Car"},
      {"5551234 #= Car warranty\n", "5550000", "Car warranty", "-"},
      {"\"A #= B\" #= label\n", "5550000", "A #= B", "line 1 #= label"},
      // Comments and blank lines.
      {"# 5551234\n", "5551234", "", "-"},
      {"   \t# 5551234\n", "5551234", "", "-"},
      {"#= 5551234\n", "5551234", "", "-"},
      {"5551234 # the dentist 5559999\n", "5559999", "", "-"},
      {"5551234 # the dentist\n", "5551234", "", "line 1"},
      {"\n\n  \n5551234\n", "5551234", "", "line 4"},
      {"a#b\n", "5550000", "a#b", "line 1"},  // a # inside a run is a byte like any other
      // Expressions that would match everything are left out.
      {"\"\"\n^\n^\"\"\n\"^\"\n", "5551234", "ANN", "-"},
      // The earliest line wins, whichever expression comes first in order.
      {"^555 #= first\n5551234 #= second\n", "5551234", "", "line 1 #= first"},
      {"5551234 #= first\n^555 #= second\n", "5551234", "", "line 1 #= first"},
      {"9\n5551234\n1234\n", "5551234", "", "line 2"},
      {"ANN\n555\n", "5550000", "ANN", "line 1"},
      {"x\nx\n", "x", "", "line 1"},
      // CR LF line ends, no line end at the end, bytes beyond ASCII, NUL.
      {"5551234\r\n5559999", "5559999", "", "line 2"},
      {"CAF\xc3\x89\n", "5550000", "LE CAF\xc3\x89", "line 1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Found(ParseList(c.list), c.number, c.name), c.want) << "list \"" << c.list << "\" number " << c.number
                                                                  << " name " << c.name;
  }
}

TEST(ScreeningListTest, NulBytesAndBinaryTextAreBytesLikeAnyOther) {
  ScreeningList list = ParseList(std::string("A\0B C\xff\n\0\0\0\n", 11));
  EXPECT_EQ(Found(list, "5550000", std::string("xA\0By", 5)), "line 1");
  EXPECT_EQ(Found(list, "5550000", "C\xff"), "line 1");
  EXPECT_EQ(Found(list, "5550000", std::string("\0\0\0", 3)), "line 2");
  EXPECT_EQ(Found(list, "5550000", "A"), "-");
  EXPECT_EQ(list.entries(), 2u);
}

TEST(ScreeningListTest, LimitsKeepMemoryBounded) {
  std::string error;
  std::string big(ScreeningList::kMaxBytes + 1, 'x');
  ScreeningList list = ScreeningList::Parse("big", big, &error);
  EXPECT_EQ(error, "larger than 8 MiB");
  EXPECT_EQ(list.expressions(), 0u);

  std::string many;
  for (std::size_t i = 0; i <= ScreeningList::kMaxExpressions; ++i) many += "a ";
  list = ScreeningList::Parse("many", many, &error);
  EXPECT_EQ(error, "more than 1000000 expressions");
  EXPECT_EQ(list.expressions(), 0u);
  EXPECT_EQ(list.name(), "many");

  // A line of 1 MB with one long expression is an expression like any other.
  std::string longLine(1 << 20, '7');
  list = ScreeningList::Parse("long", longLine + " #= long\n5551234\n", &error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(Found(list, "5551234", ""), "line 2");
  EXPECT_EQ(list.expressions(), 2u);
  // Only the first 256 bytes of a number or a name are tested.
  std::string longName(1 << 20, 'N');
  EXPECT_EQ(Found(list, "5550000", longName + "5551234"), "-");
  EXPECT_EQ(Found(list, "5550000", longName.substr(0, 249) + "5551234"), "line 2");
  EXPECT_EQ(Found(list, "5550000", longName.substr(0, 250) + "5551234"), "-");
}

TEST(ScreeningListTest, ManyEntriesFindTheSameAsAScan) {
  // Numbers that share long prefixes, anchored and not, against a plain
  // scan of every line.
  std::string text;
  std::vector<std::string> entries;
  for (int i = 0; i < 2000; ++i) {
    std::string n = std::to_string(5550000 + (i * 7919) % 10000).substr(0, 3 + i % 5);
    std::string e = (i % 3 == 0 ? "^" : "") + n;
    entries.push_back(e);
    text += e + "\n";
  }
  ScreeningList list = ParseList(text);
  for (int probe = 0; probe < 3000; probe += 7) {
    std::string number = "1" + std::to_string(5550000 + probe * 3);
    if (probe % 2) number = number.substr(1);
    std::string want = "-";
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::string& e = entries[i];
      bool hit = e[0] == '^' ? number.rfind(e.substr(1), 0) == 0 : number.find(e) != std::string::npos;
      if (hit) {
        want = "line " + std::to_string(i + 1);
        break;
      }
    }
    EXPECT_EQ(Found(list, number, ""), want) << number;
  }
}

TEST(QuietWindowTest, Parsing) {
  struct Case {
    const char* text;
    int start, end;  // -1: refused
  };
  const Case cases[] = {
      {"22:00-07:00", 1320, 420}, {"7:30-9:05", 450, 545},  {"00:00-24:00", 0, 1440}, {"23:59-00:00", 1439, 0},
      {"22:00-22:00", -1, -1},    {"24:00-07:00", -1, -1},  {"22:60-07:00", -1, -1},  {"22:00-7", -1, -1},
      {"22:00", -1, -1},          {"2200-0700", -1, -1},    {"22:0-07:00", -1, -1},   {"022:00-07:00", -1, -1},
      {"22:00-07:00x", -1, -1},   {"-07:00", -1, -1},       {"", -1, -1},             {"ab:cd-ef:gh", -1, -1},
      {"22:00 -07:00", -1, -1},   {"24:01-07:00", -1, -1},  {"00:00-24:01", -1, -1},
  };
  for (const Case& c : cases) {
    auto window = ParseQuietWindow(c.text);
    if (c.start < 0) {
      EXPECT_FALSE(window) << c.text;
      continue;
    }
    ASSERT_TRUE(window) << c.text;
    EXPECT_EQ(window->start, c.start) << c.text;
    EXPECT_EQ(window->end, c.end) << c.text;
  }
  EXPECT_EQ(ParseQuietWindow("7:05-24:00")->Text(), "07:05-24:00");
}

TEST(QuietWindowTest, WindowsAcrossMidnight) {
  struct Case {
    const char* window;
    const char* at;
    bool quiet;
  };
  const Case cases[] = {
      {"22:00-07:00", "21:59", false}, {"22:00-07:00", "22:00", true}, {"22:00-07:00", "23:59", true},
      {"22:00-07:00", "00:00", true},  {"22:00-07:00", "06:59", true}, {"22:00-07:00", "07:00", false},
      {"12:00-13:00", "11:59", false}, {"12:00-13:00", "12:00", true}, {"12:00-13:00", "13:00", false},
      {"00:00-24:00", "00:00", true},  {"00:00-24:00", "23:59", true}, {"23:00-00:00", "23:30", true},
      {"23:00-00:00", "00:00", false},
  };
  for (const Case& c : cases) {
    int at = std::stoi(std::string(c.at, 2)) * 60 + std::stoi(std::string(c.at + 3, 2));
    EXPECT_EQ(ParseQuietWindow(c.window)->Contains(at), c.quiet) << c.window << " at " << c.at;
  }
}

TEST(ScreeningNumberTest, CallsWithoutANumberAreWithheld) {
  struct Case {
    std::optional<std::string> number;
    const char* want;
  };
  const Case cases[] = {
      {std::nullopt, "WITHHELD"}, {"", "WITHHELD"},       {"P", "WITHHELD"},         {"O", "WITHHELD"},
      {"private", "WITHHELD"},    {"OUT-OF-AREA", "WITHHELD"}, {" 5551234 ", "5551234"}, {"+445551234", "+445551234"},
  };
  for (const Case& c : cases) EXPECT_EQ(ScreeningNumber(ScreenedCall{c.number, std::nullopt}), c.want);
}

// A decision as one line: "announce", "quiet (RULE)", "block (RULE) #= LABEL".
std::string Shown(const Decision& d) {
  std::string text = d.kind == Decision::kAnnounce ? "announce" : d.kind == Decision::kQuiet ? "quiet" : "block";
  if (!d.rule.empty()) text += " (" + d.rule + ")";
  if (!d.label.empty()) text += " #= " + d.label;
  return text;
}

TEST(DecideCallTest, ListsQuietHoursAndTheRepeatWindow) {
  ScreeningList block = ParseList(
      "# junk\n"
      "^1800 #= Toll-free junk\n"
      "^WITHHELD\n"
      "\"CAR WARRANTY\"\n"
      "5551234\n",
      "calls.block");
  ScreeningList allow = ParseList("18005550199\nMOM\n", "friends");
  ScreeningList second = ParseList("5559999 #= second list\n", "more.block");
  ScreeningRules rules;
  rules.allow = {&allow};
  rules.block = {&block, &second};
  rules.quiet = {*ParseQuietWindow("22:00-07:00"), *ParseQuietWindow("12:00-13:00")};
  rules.repeatWindowMinutes = 3;

  constexpr int kDay = 10 * 60;     // 10:00
  constexpr int kNight = 23 * 60;   // 23:00
  constexpr Millis kMin = 60000;
  struct Case {
    std::optional<std::string> number;
    std::optional<std::string> name;
    int minute;
    const char* want;
  };
  const Case cases[] = {
      {"5550000", "ANN LEE", kDay, "announce"},
      {"18005551212", "", kDay, "block (blocked by calls.block line 2) #= Toll-free junk"},
      {"5551234", "", kDay, "block (blocked by calls.block line 5)"},
      {"5550000", "CAR WARRANTY DEPT", kDay, "block (blocked by calls.block line 4)"},
      {"5559999", "", kDay, "block (blocked by more.block line 1) #= second list"},
      // Withheld numbers, whatever the network called them.
      {std::nullopt, std::nullopt, kDay, "block (blocked by calls.block line 3)"},
      {"P", "", kDay, "block (blocked by calls.block line 3)"},
      {"ANONYMOUS", "", kDay, "block (blocked by calls.block line 3)"},
      // The allow list wins over the block list, and over quiet hours.
      {"18005550199", "", kDay, "announce (allowed by friends line 1)"},
      {"5551234", "MOM", kDay, "announce (allowed by friends line 2)"},
      {"5551234", "MOM", kNight, "announce (allowed by friends line 2)"},
      // Quiet hours, in either window; a blocked call stays blocked.
      {"5550000", "ANN LEE", kNight, "quiet (quiet hours 22:00-07:00)"},
      {"5550000", "ANN LEE", 3 * 60, "quiet (quiet hours 22:00-07:00)"},
      {"5550000", "ANN LEE", 12 * 60 + 30, "quiet (quiet hours 12:00-13:00)"},
      {"5550000", "ANN LEE", 7 * 60, "announce"},
      {"5551234", "", kNight, "block (blocked by calls.block line 5)"},
  };
  RecentCalls none;
  for (const Case& c : cases) {
    EXPECT_EQ(Shown(DecideCall(ScreenedCall{c.number, c.name}, rules, c.minute, none, 100 * kMin)), c.want)
        << c.number.value_or("(none)") << " " << c.name.value_or("(none)") << " at " << c.minute;
  }

  // The repeat window: the same number again within 3 minutes is announced
  // in quiet hours; later, or another number, or withheld numbers, stay quiet.
  RecentCalls recent;
  recent.Remember("5550000", 100 * kMin, 3 * kMin);
  recent.Remember("WITHHELD", 100 * kMin, 3 * kMin);
  struct Repeat {
    const char* number;
    Millis at;
    int window;
    const char* want;
  };
  const Repeat repeats[] = {
      {"5550000", 101 * kMin, 3, "announce (called again within 3 minutes)"},
      {"5550000", 103 * kMin, 3, "announce (called again within 3 minutes)"},
      {"5550000", 103 * kMin + 1, 3, "quiet (quiet hours 22:00-07:00)"},
      {"5550001", 101 * kMin, 3, "quiet (quiet hours 22:00-07:00)"},
      {"5550000", 101 * kMin, 0, "quiet (quiet hours 22:00-07:00)"},
      {"5550000", 101 * kMin, 5, "announce (called again within 5 minutes)"},
      {"O", 101 * kMin, 3, "quiet (quiet hours 22:00-07:00)"},
  };
  rules.block = {};
  for (const Repeat& r : repeats) {
    rules.repeatWindowMinutes = r.window;
    EXPECT_EQ(Shown(DecideCall(ScreenedCall{r.number, "X"}, rules, kNight, recent, r.at)), r.want)
        << r.number << " at " << r.at << " window " << r.window;
  }
}

TEST(RecentCallsTest, ForgetsOldCallsAndStaysBounded) {
  RecentCalls recent;
  recent.Remember("1", 0, 1000);
  recent.Remember("2", 500, 1000);
  EXPECT_EQ(recent.LastCall("1"), 0);
  recent.Remember("1", 800, 1000);
  EXPECT_EQ(recent.LastCall("1"), 800);
  EXPECT_EQ(recent.size(), 2u);
  recent.Remember("3", 1600, 1000);  // "2" is older than the window now
  EXPECT_FALSE(recent.LastCall("2"));
  EXPECT_EQ(recent.size(), 2u);
  for (int i = 0; i < 1000; ++i) recent.Remember(std::to_string(100 + i), 1600, 1000);
  EXPECT_EQ(recent.size(), RecentCalls::kMaxNumbers);
  EXPECT_EQ(recent.LastCall("1099"), 1600);
  RecentCalls off;
  off.Remember("1", 0, 0);
  EXPECT_EQ(off.size(), 0u);
}

TEST(ScreeningTextTest, LogAndStatusLines) {
  struct Case {
    std::optional<std::string> number;
    std::optional<std::string> name;
    Decision decision;
    const char* letterAndMessage;
    const char* status;
  };
  const Decision blocked{Decision::kBlock, "blocked by calls.block line 12", "Car warranty", ""};
  const Decision unlabelled{Decision::kBlock, "blocked by calls.block line 3", "", ""};
  const Decision quiet{Decision::kQuiet, "quiet hours 22:00-07:00", "", ""};
  const Case cases[] = {
      {"8005551212", "V123", blocked, "B 8005551212 - Car warranty",
       "call from 8005551212 (Car warranty): blocked by calls.block line 12"},
      {"8005551212", "V123", unlabelled, "B 8005551212 - V123", "call from 8005551212 (V123): blocked by calls.block line 3"},
      {"P", std::nullopt, unlabelled, "B Unknown", "call from Unknown: blocked by calls.block line 3"},
      {"5551234", " ANN LEE ", quiet, "Q 5551234 - ANN LEE", "call from 5551234 (ANN LEE): quiet hours 22:00-07:00"},
      {"5551234", "A\x1b[2J\r\nB", quiet, "Q 5551234 - A^[[2J^M^JB",
       "call from 5551234 (A^[[2J^M^JB): quiet hours 22:00-07:00"},
      {"5551234", "", Decision{Decision::kBlock, "r", "L\x7f\t", ""}, "B 5551234 - L^?^I", "call from 5551234 (L^?^I): r"},
  };
  for (const Case& c : cases) {
    ScreenedCall call{c.number, c.name};
    EXPECT_EQ(std::string(1, LogLetter(c.decision)) + " " + LogMessage(call, c.decision, Charset::kSingleByte),
              c.letterAndMessage);
    EXPECT_EQ(StatusLine(call, c.decision, Charset::kSingleByte), c.status);
  }
}

}  // namespace
}  // namespace annc
