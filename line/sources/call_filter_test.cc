#include "line/sources/call_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace annc {
namespace {

using V = std::vector<std::string>;

TEST(CallFilterTest, KeepOrDrop) {
  struct Case {
    V onlyTo, onlyLines;
    const char* called;
    const char* line;
    bool kept;
  } cases[] = {
      // No filter: every call, even one without a called number or line.
      {{}, {}, "5559876", "SIP0", true},
      {{}, {}, "", "", true},
      // --only-to: the own number called, any of those given.
      {{"5559876"}, {}, "5559876", "SIP0", true},
      {{"5559876"}, {}, "5559877", "SIP0", false},
      {{"5550000", "5559876"}, {}, "5559876", "SIP0", true},
      {{"5559876"}, {}, "", "SIP0", false},
      {{"5559876"}, {}, "55598760", "SIP0", false},  // whole numbers, not parts
      {{"555987"}, {}, "5559876", "SIP0", false},
      // Separators people write do not count; '+', '*' and '#' do.
      {{"555-98 76"}, {}, "5559876", "SIP0", true},
      {{"(030) 123/45.6"}, {}, "03012345 6", "SIP0", true},
      {{"+495559876"}, {}, "495559876", "SIP0", false},
      {{"+495559876"}, {}, "+495559876", "SIP0", true},
      {{"5559876#"}, {}, "5559876", "SIP0", false},
      {{"5559876"}, {}, "--", "SIP0", false},
      // --only-line: the label, ignoring ASCII letter case and outer blanks.
      {{}, {"SIP0"}, "5559876", "SIP0", true},
      {{}, {"sip0"}, "5559876", "SIP0", true},
      {{}, {"SIP0"}, "5559876", " SIP0 ", true},
      {{}, {"SIP0"}, "5559876", "SIP1", false},
      {{}, {"SIP0"}, "5559876", "SIP", false},
      {{}, {"SIP0"}, "5559876", "", false},
      {{}, {"POTS", "VOIP"}, "", "VOIP", true},
      // Both given: both must match.
      {{"5559876"}, {"SIP0"}, "5559876", "SIP0", true},
      {{"5559876"}, {"SIP0"}, "5559876", "SIP1", false},
      {{"5559876"}, {"SIP0"}, "5550000", "SIP0", false},
  };
  for (const Case& c : cases) {
    CallFilter filter{c.onlyTo, c.onlyLines};
    EXPECT_EQ(KeepCall(filter, c.called, c.line), c.kept)
        << "to " << c.called << " on " << c.line << " with " << c.onlyTo.size() << " numbers, " << c.onlyLines.size()
        << " lines";
  }
}

TEST(CallFilterTest, OnlyToNumbers) {
  struct Case {
    const char* number;
    bool good;
  } cases[] = {
      {"5559876", true}, {"+49 30 1234567", true}, {"(030) 123-45/6.7", true}, {"*31#", true}, {"0", true},
      {"", false},       {"+", false},             {"---", false},           {"SIP0", false}, {"555x", false},
      {"555\n1", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsOnlyToNumber(c.number), c.good) << c.number;
  EXPECT_EQ(DialableNumber("+49 (30) 123-45*6#"), "+493012345*6#");
}

}  // namespace
}  // namespace annc
