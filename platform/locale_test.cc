#include "platform/locale.h"

#include <gtest/gtest.h>

#include "platform/test_support.h"

#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

namespace annc {
namespace {

TEST(TimeSeparatorOfTest, WhatStandsBetweenHourAndMinute) {
  const struct {
    const char* format;
    char separator;
  } cases[] = {
      {"%H:%M:%S", ':'},
      {"%T", ':'},                // hours and minutes in one conversion
      {"%r", ':'},
      {"%I:%M:%S %p", ':'},
      {"kl. %H.%M %z", '.'},      // Norwegian: the "k" of "kl." is no separator
      {"%H.%M.%S", '.'},
      {"%-H-%M", '-'},            // flags and modifiers belong to the conversion
      {"%OH/%OM", '/'},
      {"%k h %M", ':'},           // more than one character
      {"%Hh%M", ':'},             // a letter
      {"%H0%M", ':'},             // a digit
      {"%H%M", ':'},              // nothing
      {"%H%%%M", '%'},
      {"%H\t%M", ':'},            // not printable
      {"%H\xe6\x99\x82%M\xe5\x88\x86%S\xe7\xa7\x92", ':'},  // Japanese 時, 分: multi-byte
      {"%H\xec\x8b\x9c %M\xeb\xb6\x84 %S\xec\xb4\x88", ':'},  // Korean
      {"%H:%S", ':'},             // no minute after the hour
      {"%H.%S.%M", ':'},
      {"%M.%S", ':'},             // no hour
      {"", ':'},
      {"%", ':'},
      {"%H.", ':'},
  };
  for (const auto& c : cases) EXPECT_EQ(TimeSeparatorOf(c.format), c.separator) << c.format;
}

// Sets the environment's locale for one test and puts every category and
// variable back afterwards.
class EnvironmentLocaleScope {
 public:
  explicit EnvironmentLocaleScope(const char* lcAll) {
    for (int category : kCategories) saved_.push_back(std::setlocale(category, nullptr));
    const char* old = std::getenv("LC_ALL");
    hadLcAll_ = old != nullptr;
    if (hadLcAll_) oldLcAll_ = old;
    ::setenv("LC_ALL", lcAll, 1);
  }
  ~EnvironmentLocaleScope() {
    if (hadLcAll_) {
      ::setenv("LC_ALL", oldLcAll_.c_str(), 1);
    } else {
      ::unsetenv("LC_ALL");
    }
    for (std::size_t i = 0; i < saved_.size(); ++i) std::setlocale(kCategories[i], saved_[i].c_str());
  }

 private:
  static constexpr int kCategories[] = {LC_CTYPE, LC_TIME, LC_COLLATE, LC_MESSAGES};
  std::vector<std::string> saved_;
  bool hadLcAll_ = false;
  std::string oldLcAll_;
};

TEST(UseEnvironmentLocaleTest, SystemMessagesFollowTheEnvironment) {
  EnvironmentLocaleScope scope("C.UTF-8");
  std::setlocale(LC_MESSAGES, "C");
  UseEnvironmentLocale();
  EXPECT_STREQ(std::setlocale(LC_MESSAGES, nullptr), "C.UTF-8");
  EXPECT_STREQ(std::setlocale(LC_TIME, nullptr), "C.UTF-8");
}

TEST(CharsetTest, CurrentAndEnvironmentLocales) {
  struct Case {
    const char* locale;
    Charset charset;
  };
  for (const Case& c : {Case{"C", Charset::kSingleByte}, Case{"C.UTF-8", Charset::kUtf8},
                        Case{"no_SUCH.locale", Charset::kSingleByte}}) {
    EnvironmentLocaleScope environment(c.locale);
    std::string before = std::setlocale(LC_CTYPE, nullptr);
    EXPECT_EQ(EnvironmentCharset(), c.charset) << c.locale;
    // The environment's locale is only looked at, not taken.
    EXPECT_EQ(std::setlocale(LC_CTYPE, nullptr), before) << c.locale;
    testing::LocaleScope scope(c.locale);
    if (scope.ok()) {
      EXPECT_EQ(LocaleCharset(), c.charset) << c.locale;
    }
  }
}

TEST(Utf16ToLocaleTextTest, BothByteOrdersIntoUtf8) {
  testing::LocaleScope scope("C.UTF-8");
  ASSERT_TRUE(scope.ok());
  // "Aé€😀" and a line end.
  const std::string le("A\0\xe9\0\xac\x20\x3d\xd8\x00\xde\n\0", 12);
  const std::string be("\0A\0\xe9\x20\xac\xd8\x3d\xde\x00\0\n", 12);
  const std::string utf8 = "A\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\n";
  EXPECT_EQ(Utf16ToLocaleText(le, false), utf8);
  EXPECT_EQ(Utf16ToLocaleText(be, true), utf8);
  EXPECT_EQ(Utf16ToLocaleText("", false), "");
  // Broken input: each bad unit, and an odd last byte, is one '?'.
  EXPECT_EQ(Utf16ToLocaleText(std::string("\x00\xd8" "A\0\x00\xdc", 6), false), "?A?");
  EXPECT_EQ(Utf16ToLocaleText(std::string("A\0B", 3), false), "A?");
  // Long texts grow the output as needed.
  std::string many;
  for (int i = 0; i < 5000; ++i) many += std::string("\x3d\xd8\x00\xde", 4);
  EXPECT_EQ(Utf16ToLocaleText(many, false).size(), 20000u);
}

TEST(Utf16ToLocaleTextTest, WhatASingleByteLocaleCannotHoldBecomesQuestionMarks) {
  testing::LocaleScope scope("C");
  ASSERT_TRUE(scope.ok());
  EXPECT_EQ(Utf16ToLocaleText(std::string("A\0\xe9\0\x3d\xd8\x00\xde" "b\0", 10), false), "A??b");
}

}  // namespace
}  // namespace annc
