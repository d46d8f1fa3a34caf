#include "speech/annc_name.h"

#include <sndfile.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>

#include "platform/test_support.h"
#include "speech/name_synth.h"

namespace annc {
namespace {

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Frames of the WAV file at path; -1 when libsndfile cannot read it.
long Frames(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) return -1;
  sf_close(f);
  return static_cast<long>(info.frames);
}

bool CanSynthesize() {
  static const bool can = [] {
    testing::ScopedTempPath probe("probe.wav");
    return SynthesizeName("a", "en", probe).find("cannot start") == std::string::npos;
  }();
  return can;
}

TEST(PlainSpeechTextTest, OnlyWellFormedCharactersAndNoControls) {
  struct Case {
    std::string raw;
    std::string plain;
  };
  const Case cases[] = {
      {"Ann Lee", "Ann Lee"},
      {"J\xc3\xbcrgen M\xc3\xbcller", "J\xc3\xbcrgen M\xc3\xbcller"},  // UTF-8 kept
      {"\xe6\x9d\x8e \xf0\x9f\x93\x9e", "\xe6\x9d\x8e \xf0\x9f\x93\x9e"},  // three and four bytes
      {"Ann\x1b[2JLee", "Ann [2JLee"},                                // ESC a blank, the rest text
      {"a\tb\r\nc\x7f", "a b  c "},
      {"a\xc2\x9b" "b", "a b"},                                       // C1 CSI
      {"a\xff\xfe" "b", "ab"},                                        // not UTF-8 at all
      {"a\xc3", "a"},                                                 // cut short
      {"a\xc0\xaf" "b", "ab"},                                        // overlong "/"
      {"a\xed\xa0\x80" "b", "ab"},                                    // a surrogate
      {"a\xf4\x90\x80\x80" "b", "ab"},                                // past U+10FFFF
      {std::string("a\0b", 3), "a b"},
  };
  for (const Case& c : cases) EXPECT_EQ(PlainSpeechText(c.raw), c.plain) << c.raw;
}

TEST(IsEspeakVoiceNameTest, NamesButNoPaths) {
  const std::pair<const char*, bool> cases[] = {
      {"en", true}, {"en-us", true}, {"de+f3", true}, {"zh_yue", true}, {"roa/it", true},
      {"", false}, {"../../etc/passwd", false}, {"/etc/passwd", false}, {"-v", false}, {"en us", false},
      {"en\x1b", false},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", true},    // 40
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},  // 41
  };
  for (const auto& [voice, ok] : cases) EXPECT_EQ(IsEspeakVoiceName(voice), ok) << voice;
}

TEST(RunNameProgramTest, RefusalsAndTheirExitCodes) {
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string err;
  };
  const Case cases[] = {
      {{}, kNameUsage, "annc-name: needs TEXT and FILE (see --help)\n"},
      {{"Ann"}, kNameUsage, "annc-name: needs TEXT and FILE (see --help)\n"},
      {{"Ann", "a.wav", "b.wav"}, kNameUsage, "annc-name: needs TEXT and FILE (see --help)\n"},
      {{"--voice"}, kNameUsage, "annc-name: --voice needs a voice name (see --help)\n"},
      {{"--loud", "Ann", "a.wav"}, kNameUsage, "annc-name: unknown option --loud (see --help)\n"},
      {{"", "a.wav"}, kNameUsage, "annc-name: no text to speak\n"},
      {{"Ann", ""}, kNameUsage, "annc-name: no file to write\n"},
      {{std::string(1025, 'a'), "a.wav"}, kNameUsage, "annc-name: the text is too long (1025 bytes; at most 1024)\n"},
      {{"--voice", "../x", "Ann", "a.wav"}, kNameNoVoice, "annc-name: eSpeak NG has no voice ../x\n"},
      {{"--voice", "e\x1bn", "Ann", "a.wav"}, kNameNoVoice, "annc-name: eSpeak NG has no voice e^[n\n"},
  };
  for (const Case& c : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(RunNameProgram(c.args, out, err), c.code) << c.err;
    EXPECT_EQ(err.str(), c.err);
    EXPECT_EQ(out.str(), "");
  }
  std::ostringstream out, err;
  EXPECT_EQ(RunNameProgram({"--help"}, out, err), kNameWritten);
  EXPECT_NE(out.str().find("usage: annc-name"), std::string::npos);
}

TEST(RunNameProgramTest, ANameThatLooksLikeAnOptionAfterTheEndOfOptions) {
  if (!CanSynthesize()) GTEST_SKIP() << "eSpeak NG has no data here";
  testing::ScopedTempPath path("dash.wav");
  std::ostringstream out, err;
  EXPECT_EQ(RunNameProgram({"--voice", "en", "--", "-Ann", path}, out, err), kNameWritten) << err.str();
  EXPECT_GT(Frames(path), 1000);
}

TEST(SynthesizeNameTest, AnnLeeInEnglish) {
  testing::ScopedTempPath path("ann_lee.wav");
  std::string error = SynthesizeName("Ann Lee", "en", path);
  if (error.find("cannot start") != std::string::npos) GTEST_SKIP() << error;
  ASSERT_EQ(error, "");
  EXPECT_GT(Frames(path), 1000);  // about half a second at 22050 Hz
  // Nothing but the recording is left beside it.
  EXPECT_FALSE(Exists(path.str() + ".tmp" + std::to_string(::getpid())));
  // A folder that cannot be written: an error, no file.
  EXPECT_NE(SynthesizeName("Ann Lee", "en", "/nonexistent/x.wav"), "");
  // A voice it does not have is told apart.
  bool unknownVoice = false;
  testing::ScopedTempPath other("other.wav");
  EXPECT_NE(SynthesizeName("Ann Lee", "xx-novoice", other, &unknownVoice), "");
  EXPECT_TRUE(unknownVoice);
  EXPECT_FALSE(Exists(other));
}

}  // namespace
}  // namespace annc
