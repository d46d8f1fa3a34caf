#include "text/key_sequence.h"

#include <gtest/gtest.h>

#include <string>

namespace annc {
namespace {

// Each key is followed by the next key's byte, which it must leave alone.
TEST(KeySequenceTest, AKeyTakesItsOwnBytesOnly) {
  struct Case {
    const char* what;
    std::string key;
  };
  const Case cases[] = {
      {"letter", "k"},
      {"NUL", std::string(1, '\0')},
      {"F5", "\x1b[15~"},
      {"Up", "\x1b[A"},
      {"Ctrl-Up", "\x1b[1;5A"},
      {"F1 (SS3)", "\x1bOP"},
      {"Alt-x", "\x1bx"},
      {"Alt-Up", "\x1b\x1b[A"},
      {"charset switch", "\x1b(B"},
      {"mouse report", "\x1b[<0;12;5M"},
      {"title reply ended by BEL", "\x1b]l title\x07"},
      {"title reply ended by ST", "\x1b]l title\x1b\\"},
      {"e acute", "\xc3\xa9"},
      {"euro sign", "\xe2\x82\xac"},
      {"emoji", "\xf0\x9f\x98\x80"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeyLength(c.key + "q", true), c.key.size()) << c.what;
    EXPECT_EQ(KeyLength(c.key + "\x1b[B", true), c.key.size()) << c.what;
  }
  // A terminal in a one-byte encoding sends one byte per letter.
  EXPECT_EQ(KeyLength("\xe9q", false), 1u);
  EXPECT_EQ(KeyLength("\xc3\xa9", false), 1u);
  EXPECT_EQ(KeyLength("\x1b[15~q", false), 5u);
}

TEST(KeySequenceTest, CutShortOrTooLong) {
  // What has arrived so far is all there is: Escape alone, a sequence or a
  // character cut short.
  EXPECT_EQ(KeyLength("\x1b", true), 1u);
  EXPECT_EQ(KeyLength("\x1b[1", true), 3u);
  EXPECT_EQ(KeyLength("\xe2\x82", true), 2u);
  // A broken sequence ends at the byte that cannot belong to it.
  EXPECT_EQ(KeyLength("\x1b[1\x03zz", true), 4u);
  EXPECT_EQ(KeyLength("\xc3zz", true), 2u);
  // No key runs on for ever.
  std::string endless = "\x1b[" + std::string(100, '1');
  EXPECT_EQ(KeyLength(endless, true), KeySequence::kMaxBytes);
  std::string unended = "\x1b]" + std::string(100, 'x');
  EXPECT_EQ(KeyLength(unended, true), KeySequence::kMaxBytes);
}

}  // namespace
}  // namespace annc
