#include "line/names/caller_name.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "line/names/sha256.h"

namespace annc {
namespace {

TEST(CallerNameTest, PlaceholdersSayNoNameIsKnown) {
  struct Case {
    const char* name;
    bool placeholder;
  };
  const Case cases[] = {
      {"O", true},           {"p", true},         {"WITHHELD", true},   {"Private", true},
      {"ANONYMOUS", true},   {"OUT-OF-AREA", true}, {"out of area", true}, {"Out_Of_Area", true},
      {"UNAVAILABLE", true}, {"NO NAME", true},   {"NO-NAME", true},    {"noname", true},
      {"RESTRICTED", true},  {"Unknown", true},   {"PrivDirOff", true}, {" PRIVATE ", true},
      {"-", true},           {"", true},          {"  ", true},         {"?", true},
      {"0000000000", true},  {"--", true},
      // Real names, those that merely hold a marker included.
      {"Ann Lee", false},    {"OTTO", false},     {"Private Eye Ltd", false}, {"Pat", false},
      {"Zoë", false},        {"李小龙", false},   {"O'Brien", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsPlaceholderName(c.name), c.placeholder) << "'" << c.name << "'";
}

TEST(CallerNameTest, TheBookWinsOverTheNetwork) {
  struct Case {
    std::optional<std::string_view> book;
    const char* network;
    std::optional<std::string> chosen;
  };
  const Case cases[] = {
      {"Mum", "LEE ANN", "Mum"},
      {"Mum", "", "Mum"},
      {"Mum", "PRIVATE", "Mum"},
      {std::nullopt, "LEE ANN", "LEE ANN"},
      {std::nullopt, "  LEE   ANN\r\n", "LEE ANN"},
      // A book line with nothing to say leaves the network's name.
      {"", "LEE ANN", "LEE ANN"},
      {" \x1b[0m ", "LEE ANN", "LEE ANN"},
      // Withheld or unknown: no name.
      {std::nullopt, "P", std::nullopt},
      {std::nullopt, "O", std::nullopt},
      {std::nullopt, "WITHHELD", std::nullopt},
      {std::nullopt, "NO NAME", std::nullopt},
      {std::nullopt, "", std::nullopt},
      {std::nullopt, "\x1b[1mPRIVATE\x1b[0m", std::nullopt},  // a placeholder once cleaned
      {"", "", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseCallerName(c.book, c.network), c.chosen) << (c.book ? *c.book : "(none)") << " / " << c.network;
  }
}

TEST(CallerNameTest, CleaningLeavesPlainText) {
  struct Case {
    std::string raw;
    std::string spoken;
  };
  const Case cases[] = {
      {"Ann Lee", "Ann Lee"},
      // Escape sequences go whole: CSI, OSC (BEL or ESC \ ends it), DCS, two-byte ones, 8-bit CSI.
      {"Ann\x1b[31;1m Lee\x1b[0m", "Ann Lee"},
      {"\x1b]0;owned\aAnn", "Ann"},
      {"\x1b]2;x\x1b\\Ann", "Ann"},
      {"\x1bPqdata\x1b\\Ann", "Ann"},
      {"\x1b" "cAnn\x1b(B", "Ann"},
      {"\xC2\x9B" "2JAnn", "Ann"},
      // Other control bytes are dropped; tab and line ends part words.
      {std::string("A\x01n\x7fn\x00 Lee", 10), "Ann Lee"},
      {"Ann\r\nLee\tSmith", "Ann Lee Smith"},
      // Phoneme brackets and markup cannot reach the synthesizer.
      {"[[h@l'oU]] Ann", "h@l'oU Ann"},
      {"Ann [[", "Ann"},
      {"<speak>Ann</speak>", "speak Ann /speak"},
      // Invalid UTF-8 is dropped byte by byte; well-formed characters stay.
      {"Zo\xC3\xAB", "Zo\xC3\xAB"},
      {"A\xFFnn \xC3", "Ann"},
      {"\xC0\xAF" "Ann", "Ann"},          // an overlong "/"
      {"\xED\xA0\x80" "Ann", "Ann"},      // a surrogate
      {"   ", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(SpeakableName(c.raw), c.spoken) << c.raw;
}

TEST(CallerNameTest, CutToSixtyFourCharactersNeverInsideOne) {
  // 10 kB with escape sequences between the letters.
  std::string flood;
  while (flood.size() < 10240) flood += "Ab\x1b[2J";
  std::string spoken = SpeakableName(flood);
  EXPECT_EQ(spoken.size(), kMaxSpokenNameCharacters);
  EXPECT_EQ(spoken.substr(0, 6), "AbAbAb");

  // Two-byte and four-byte characters: 64 characters, whole.
  std::string umlauts;
  for (int i = 0; i < 100; ++i) umlauts += "\xC3\xBC";
  EXPECT_EQ(SpeakableName(umlauts).size(), 2 * kMaxSpokenNameCharacters);
  std::string emoji;
  for (int i = 0; i < 100; ++i) emoji += "\xF0\x9F\x98\x80";
  EXPECT_EQ(SpeakableName(emoji).size(), 4 * kMaxSpokenNameCharacters);

  // A blank at the cut is not kept.
  std::string words = std::string(63, 'a') + " b";
  EXPECT_EQ(SpeakableName(words), std::string(63, 'a'));
  EXPECT_EQ(SpeakableName(std::string(64, 'a') + "b"), std::string(64, 'a'));
}

TEST(Sha256Test, KnownDigests) {
  struct Case {
    std::string text;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
  };
  for (const Case& c : cases) EXPECT_EQ(Sha256Hex(c.text), c.digest) << c.text.size();
}

}  // namespace
}  // namespace annc
