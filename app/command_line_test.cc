#include "app/command_line.h"

#include <gtest/gtest.h>

namespace annc {
namespace {

void Args(std::vector<std::string> args) {
  Arguments = {"/opt/annc/annc"};
  for (auto& a : args) Arguments.push_back(a);
}

int Find(const char* text) { return FindSwitch(text, "-/", true); }

TEST(FindSwitchTest, SwitchCharactersAndCase) {
  Args({"5551234", "/L:calls.log", "-h:7"});
  EXPECT_EQ(Find("L:"), 2);
  EXPECT_EQ(Find("H:"), 3);
  EXPECT_EQ(SwitchValue(2), "calls.log");
  EXPECT_EQ(SwitchValue(3), "7");
  Args({"x", "-l:calls.log"});
  EXPECT_EQ(Find("L:"), 2);
  Args({"x", "/l:"});
  EXPECT_EQ(Find("L:"), 2);
  EXPECT_EQ(SwitchValue(2), "");
}

TEST(FindSwitchTest, NotSwitches) {
  Args({"x", "L:calls.log", "//L:x", "/XL:", "/L", "-", "H:7"});
  EXPECT_EQ(Find("L:"), 0);
  EXPECT_EQ(Find("H:"), 0);
}

TEST(FindSwitchTest, FirstOfTwoCounts) {
  Args({"x", "/H:5", "/H:6"});
  EXPECT_EQ(Find("H:"), 2);
  EXPECT_EQ(SwitchValue(2), "5");
}

TEST(FindSwitchTest, ArgumentOneIsExaminedToo) {
  // The only argument is both the number and the switch.
  Args({"/H:5"});
  EXPECT_EQ(Find("H:"), 1);
}

TEST(FindSwitchTest, WithoutIgnoreCaseAndWithoutSwitchChars) {
  Args({"x", "/l:a", "/L:b", "L:c"});
  EXPECT_EQ(FindSwitch("L:", "-/", false), 3);
  EXPECT_EQ(FindSwitch("L:", "", false), 3);  // any first character then
  EXPECT_EQ(FindSwitch(":", "", false), 4);
}

TEST(FindSwitchTest, ValueIsKeptWholeAndUntrimmed) {
  std::string big(100000, 'z');
  Args({"x", "-L: " + big + " "});
  EXPECT_EQ(SwitchValue(Find("L:")), " " + big + " ");
}

TEST(CommandLineTest, EmptyArgumentsAreLeftOut) {
  char a0[] = "annc", a1[] = "", a2[] = "555", a3[] = "";
  char* argv[] = {a0, a1, a2, a3, nullptr};
  SetArguments(4, argv);
  ASSERT_EQ(ArgumentCount(), 1);
  EXPECT_EQ(Arguments[1], "555");
  EXPECT_EQ(Arguments[0].front(), '/');  // the executable's full path
}

}  // namespace
}  // namespace annc
