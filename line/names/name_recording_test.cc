#include "line/names/name_recording.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "line/names/name_cache.h"
#include "line/names/name_synth.h"
#include "platform/test_support.h"

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

// Whether eSpeak NG can speak here at all (its data installed).
bool CanSynthesize(const std::string& folder) {
  static const bool can = SynthesizeName("a", "en", folder + "/probe.wav").find("cannot start") == std::string::npos;
  return can;
}

// Waits for the synthesis to end, at most 20 s.
bool Finish(NameJob* job) {
  for (int i = 0; i < 2000; ++i) {
    if (FinishNameJob(job)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Standard error into a file while it lives, for a child's status line.
class StderrCapture {
 public:
  explicit StderrCapture(const std::string& path) : path_(path) {
    saved_ = ::dup(STDERR_FILENO);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
  }
  ~StderrCapture() { Restore(); }
  std::string Take() {
    Restore();
    return testing::ReadWholeFile(path_);
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;
  }
  std::string path_;
  int saved_;
};

// annc's folder with its sound folder, a phone book and a cache of its own.
class NameRecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root.str() + "/Numvoice/names");
    testing::WriteWholeFile(root.str() + "/Numvoice/aon.db", "5551234=Mum\r\n5550000=\r\n");
    settings.cacheFolder = root.str() + "/cache/names";
  }
  void TearDown() override { std::filesystem::remove_all(root.str()); }
  NameRequest Request(std::string_view number, std::string_view networkName) {
    return MakeNameRequest(settings, root.str() + "/annc", number, networkName);
  }
  testing::ScopedTempPath root{"name_recording"};
  NameSettings settings;
};

TEST_F(NameRecordingTest, TheRequestComesFromTheSettings) {
  NameRequest r = Request("5551234", "LEE ANN");
  EXPECT_EQ(r.soundDir, root.str() + "/Numvoice/");
  EXPECT_EQ(r.voice, "en");
  EXPECT_EQ(r.cacheFolder, root.str() + "/cache/names");
  settings.cacheFolder.clear();
  settings.voice = "de";
  EXPECT_EQ(Request("1", "").cacheFolder, DefaultNameCacheFolder());
  EXPECT_EQ(Request("1", "").voice, "de");
}

TEST_F(NameRecordingTest, WhichNameIsSpoken) {
  struct Case {
    const char* number;
    const char* network;
    std::optional<std::string> name;
  };
  const Case cases[] = {
      {"5551234", "LEE ANN", "Mum"},       // the book's
      {"5551234", "PRIVATE", "Mum"},
      {"5559876", "LEE ANN", "LEE ANN"},   // not in the book: the network's
      {"5550000", "LEE ANN", "LEE ANN"},   // in the book without a name
      {"5559876", "O", std::nullopt},      // a placeholder
      {"Unknown", "WITHHELD", std::nullopt},
      {"5559876", "", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(NameToSpeak(Request(c.number, c.network)), c.name) << c.number;
  // Without a book the network's name is all there is.
  std::filesystem::remove(root.str() + "/Numvoice/aon.db");
  EXPECT_EQ(NameToSpeak(Request("5551234", "LEE ANN")), "LEE ANN");
}

TEST_F(NameRecordingTest, TheUsersOwnRecordingWins) {
  std::string own = root.str() + "/Numvoice/names/5551234.wav";
  testing::WriteWholeFile(own, "RIFF");
  NameJob job = StartNameRecording(Request("5551234", "LEE ANN"));
  EXPECT_EQ(job.recording, own);
  EXPECT_EQ(job.pid, -1);
  // Only a number of digits names a file.
  testing::WriteWholeFile(root.str() + "/Numvoice/names/Unknown.wav", "RIFF");
  EXPECT_EQ(OwnNameRecording(Request("Unknown", "")), "");
  EXPECT_EQ(OwnNameRecording(Request("../names/5551234", "")), "");
  EXPECT_EQ(OwnNameRecording(Request("5559876", "")), "");
}

TEST_F(NameRecordingTest, NoNameNoRecording) {
  NameJob job = StartNameRecording(Request("5559876", "PRIVATE"));
  EXPECT_EQ(job.recording, "");
  EXPECT_EQ(job.pid, -1);
  EXPECT_TRUE(FinishNameJob(&job));
  EXPECT_FALSE(Exists(settings.cacheFolder));  // nothing made either
}

TEST_F(NameRecordingTest, SynthesizedOnceThenTakenFromTheCache) {
  if (!CanSynthesize(root.str())) GTEST_SKIP() << "eSpeak NG has no data here";
  NameJob job = StartNameRecording(Request("5559876", "Ann Lee"));
  EXPECT_EQ(job.recording, CachedNamePath(settings.cacheFolder, "en", "Ann Lee"));
  EXPECT_GT(job.pid, 0);
  ASSERT_TRUE(Finish(&job));
  EXPECT_GT(Frames(job.recording), 1000);
  NameJob again = StartNameRecording(Request("5551111", "  Ann \x1b[1mLee"));  // the same once cleaned
  EXPECT_EQ(again.recording, job.recording);
  EXPECT_EQ(again.pid, -1);
  // A recording removed from the cache is made again.
  std::filesystem::remove(job.recording);
  NameJob third = StartNameRecording(Request("5559876", "Ann Lee"));
  EXPECT_GT(third.pid, 0);
  ASSERT_TRUE(Finish(&third));
  EXPECT_TRUE(Exists(third.recording));
}

TEST_F(NameRecordingTest, AFailedSynthesisSaysSoOnceAndLeavesNoFile) {
  if (!CanSynthesize(root.str())) GTEST_SKIP() << "eSpeak NG has no data here";
  settings.voice = "xx-novoice";
  StderrCapture err(root.str() + "/stderr");
  NameJob job = StartNameRecording(Request("5559876", "Ann Lee"));
  ASSERT_GT(job.pid, 0);
  ASSERT_TRUE(Finish(&job));
  std::string said = err.Take();
  EXPECT_EQ(said, "annc-line: cannot speak the name: eSpeak NG has no voice xx-novoice\n");
  EXPECT_FALSE(Exists(job.recording));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(settings.cacheFolder),
                          std::filesystem::directory_iterator()), 0);
}

TEST_F(NameRecordingTest, ACancelledSynthesisLeavesNothingRunningOrHalfWritten) {
  NameJob job = StartNameRecording(Request("5559876", "Ann Lee"));
  ASSERT_GT(job.pid, 0);
  pid_t pid = job.pid;
  CancelNameJob(&job);
  EXPECT_EQ(job.pid, -1);
  EXPECT_EQ(::kill(pid, 0), -1);  // reaped: no such process
  EXPECT_FALSE(Exists(job.recording + ".tmp" + std::to_string(pid)));
  CancelNameJob(&job);  // twice is harmless
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
}

}  // namespace
}  // namespace annc
