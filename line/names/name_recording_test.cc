#include "line/names/name_recording.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <thread>

#include "line/names/name_cache.h"
#include "platform/files.h"
#include "platform/test_support.h"
#include "text/paths.h"
#include "posix/fake_line_system.h"
#include "posix/posix_line_system.h"

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

// annc-name, built beside the tests.
std::string NameProgram() { return FolderOf(ExecutablePath()) + "annc-name"; }

// Whether annc-name can speak here at all (eSpeak NG's data installed).
bool CanSynthesize(const std::string& folder) {
  static const bool can = [&] {
    std::string command = NameProgram() + " -- a " + folder + "/probe.wav 2>/dev/null";
    return std::system(command.c_str()) == 0;
  }();
  return can;
}

// Waits for the synthesis to end, at most 20 s; its status line, if any,
// goes to `output`.
bool Finish(NameJob* job, Files& files, Processes& processes, StatusOutput& output) {
  for (int i = 0; i < 2000; ++i) {
    if (FinishNameJob(job, files, processes, output)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// annc's folder with its sound folder, a phone book and a cache of its own.
class NameRecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    processes.speaker = NameProgram();
    std::filesystem::create_directories(root.str() + "/Numvoice/names");
    testing::WriteWholeFile(root.str() + "/Numvoice/aon.db", "5551234=Mum\r\n5550000=\r\n");
    settings.cacheFolder = root.str() + "/cache/names";
  }
  void TearDown() override { std::filesystem::remove_all(root.str()); }
  NameRequest Request(std::string_view number, std::string_view networkName) {
    return MakeNameRequest(settings, root.str() + "/annc", number, networkName, files);
  }
  NameJob Start(const NameRequest& request) { return StartNameRecording(request, files, processes, output); }
  testing::ScopedTempPath root{"name_recording"};
  NameSettings settings;
  SystemFiles files;
  ForkedProcesses processes;
  FakeLineSystem output;  // the status lines of annc-line itself (its trace)
};

TEST_F(NameRecordingTest, TheRequestComesFromTheSettings) {
  NameRequest r = Request("5551234", "LEE ANN");
  EXPECT_EQ(r.soundDir, root.str() + "/Numvoice/");
  EXPECT_EQ(r.voice, "en");
  EXPECT_EQ(r.cacheFolder, root.str() + "/cache/names");
  settings.cacheFolder.clear();
  settings.voice = "de";
  EXPECT_EQ(Request("1", "").cacheFolder, DefaultNameCacheFolder(files));
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
  for (const Case& c : cases) EXPECT_EQ(NameToSpeak(Request(c.number, c.network), files), c.name) << c.number;
  // Without a book the network's name is all there is.
  std::filesystem::remove(root.str() + "/Numvoice/aon.db");
  EXPECT_EQ(NameToSpeak(Request("5551234", "LEE ANN"), files), "LEE ANN");
}

TEST_F(NameRecordingTest, TheUsersOwnRecordingWins) {
  std::string own = root.str() + "/Numvoice/names/5551234.wav";
  testing::WriteWholeFile(own, "RIFF");
  NameJob job = Start(Request("5551234", "LEE ANN"));
  EXPECT_EQ(job.recording, own);
  EXPECT_EQ(job.pid, -1);
  // Only a number of digits names a file.
  testing::WriteWholeFile(root.str() + "/Numvoice/names/Unknown.wav", "RIFF");
  EXPECT_EQ(OwnNameRecording(Request("Unknown", ""), files), "");
  EXPECT_EQ(OwnNameRecording(Request("../names/5551234", ""), files), "");
  EXPECT_EQ(OwnNameRecording(Request("5559876", ""), files), "");
}

TEST_F(NameRecordingTest, NoNameNoRecording) {
  NameJob job = Start(Request("5559876", "PRIVATE"));
  EXPECT_EQ(job.recording, "");
  EXPECT_EQ(job.pid, -1);
  EXPECT_TRUE(FinishNameJob(&job, files, processes, output));
  EXPECT_FALSE(Exists(settings.cacheFolder));  // nothing made either
}

TEST_F(NameRecordingTest, SynthesizedOnceThenTakenFromTheCache) {
  if (!CanSynthesize(root.str())) GTEST_SKIP() << "eSpeak NG has no data here";
  NameJob job = Start(Request("5559876", "Ann Lee"));
  EXPECT_EQ(job.recording, CachedNamePath(settings.cacheFolder, "en", "Ann Lee"));
  EXPECT_GT(job.pid, 0);
  ASSERT_TRUE(Finish(&job, files, processes, output));
  EXPECT_GT(Frames(job.recording), 1000);
  NameJob again = Start(Request("5551111", "  Ann \x1b[1mLee"));  // the same once cleaned
  EXPECT_EQ(again.recording, job.recording);
  EXPECT_EQ(again.pid, -1);
  // A recording removed from the cache is made again.
  std::filesystem::remove(job.recording);
  NameJob third = Start(Request("5559876", "Ann Lee"));
  EXPECT_GT(third.pid, 0);
  ASSERT_TRUE(Finish(&third, files, processes, output));
  EXPECT_TRUE(Exists(third.recording));
}

TEST_F(NameRecordingTest, AFailedSynthesisSaysSoOnceAndLeavesNoFile) {
  if (!CanSynthesize(root.str())) GTEST_SKIP() << "eSpeak NG has no data here";
  settings.voice = "xx-novoice";
  NameJob job = Start(Request("5559876", "Ann Lee"));
  ASSERT_GT(job.pid, 0);
  ASSERT_TRUE(Finish(&job, files, processes, output));
  EXPECT_EQ(output.trace, std::vector<std::string>{"0: cannot speak the name: eSpeak NG has no voice xx-novoice"});
  EXPECT_FALSE(Exists(job.recording));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(settings.cacheFolder),
                          std::filesystem::directory_iterator()), 0);
}

TEST_F(NameRecordingTest, AMissingProgramSaysSoAndTheCallHasNoName) {
  processes.speaker = root.str() + "/nonexistent/annc-name";
  NameJob job = Start(Request("5559876", "Ann Lee"));
  EXPECT_EQ(job.pid, -1);
  EXPECT_EQ(job.recording, "");
  EXPECT_EQ(output.trace, std::vector<std::string>{"0: cannot speak the name: annc-name: No such file or directory"});
}

TEST_F(NameRecordingTest, ACancelledSynthesisLeavesNothingRunningOrHalfWritten) {
  NameJob job = Start(Request("5559876", "Ann Lee"));
  ASSERT_GT(job.pid, 0);
  pid_t pid = job.pid;
  CancelNameJob(&job, files, processes);
  EXPECT_EQ(job.pid, -1);
  EXPECT_EQ(::kill(pid, 0), -1);  // reaped: no such process
  EXPECT_FALSE(Exists(job.recording + ".tmp" + std::to_string(pid)));
  CancelNameJob(&job, files, processes);  // twice is harmless
}

// The same on the fake system: the cache, the children and their ends
// scripted.
class FakeNameRecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.WriteFile("/annc/Numvoice/aon.db", "5551234=Mum\n");
    settings.cacheFolder = "/cache/names";
  }
  NameJob Start(std::string_view number, std::string_view networkName) {
    return StartNameRecording(MakeNameRequest(settings, "/annc/annc", number, networkName, fake), fake, fake, fake);
  }
  // Lets the fake's time run on to `at`.
  void RunTo(Millis at) {
    std::vector<Watch> none;
    fake.Wait(&none, at);
  }
  std::size_t Count(const std::string& what) const {
    return static_cast<std::size_t>(std::count(fake.trace.begin(), fake.trace.end(), what));
  }
  FakeLineSystem fake;
  NameSettings settings;
};

TEST_F(FakeNameRecordingTest, TheCacheStaysWithinItsBoundAfterASynthesis) {
  // A full cache, recording i being i seconds old: the last is the oldest.
  fake.folders.insert("/cache");
  fake.folders.insert("/cache/names");
  for (std::size_t i = 0; i < kNameCacheFiles; ++i) {
    std::string digest = std::to_string(i);
    std::string path = "/cache/names/" + std::string(32 - digest.size(), '0') + digest + ".wav";
    fake.WriteFile(path, "RIFF");
    fake.files[path].modifiedNs -= static_cast<std::int64_t>(i + 1) * 1000000000;
  }
  std::string oldest = "/cache/names/" + std::string(29, '0') + "999.wav";
  settings.voice = "de";
  NameJob job = Start("5559876", "Ann\x1b[1m  Lee");
  ASSERT_GT(job.pid, 0);
  // The cleaned name, in the settings' voice, into its cache file.
  EXPECT_EQ(fake.spoken, std::vector<std::string>{"Ann Lee|de|" + job.recording});
  EXPECT_EQ(job.recording, CachedNamePath("/cache/names", "de", "Ann Lee"));
  EXPECT_FALSE(FinishNameJob(&job, fake, fake, fake));  // still speaking
  RunTo(1000);
  EXPECT_TRUE(FinishNameJob(&job, fake, fake, fake));
  EXPECT_EQ(fake.files.at(job.recording).text, "RIFF");
  EXPECT_EQ(fake.files.count(oldest), 0u);
  std::vector<FolderEntry> entries;
  ASSERT_EQ(fake.List("/cache/names", &entries), 0);
  EXPECT_EQ(entries.size(), kNameCacheFiles);
  // A hit is marked used: it is now the newest, not dropped next.
  fake.now = 5000;
  NameJob hit = Start("5551111", "Ann Lee");
  EXPECT_EQ(fake.spoken.size(), 1u);
  EXPECT_EQ(hit.pid, -1);
  EXPECT_EQ(fake.files.at(job.recording).modifiedNs, fake.FileTimeNow());
}

TEST_F(FakeNameRecordingTest, HowASynthesisEnds) {
  struct Case {
    const char* name;
    FakeLineSystem::ChildScript script;
    std::string speakError;
    bool cancel;                           // annc-line ends before the child did
    std::vector<std::string> status;       // the status lines, in the order said
    bool recorded;                         // the recording is there at the end
  };
  const Case cases[] = {
      {"it speaks", FakeLineSystem::kChildEnds, "", false, {}, true},
      {"it fails: one status line, no recording", FakeLineSystem::kChildEnds, "eSpeak NG has no voice xx", false,
       {"10000: cannot speak the name: eSpeak NG has no voice xx"}, false},
      {"a failure with a control character in it is shown with carets", FakeLineSystem::kChildEnds,
       "cannot write /x\x1b.wav", false, {"10000: cannot speak the name: cannot write /x^[.wav"}, false},
      {"it cannot start", FakeLineSystem::kChildCannotStart, "", false,
       {"0: cannot speak the name: annc-name: Cannot allocate memory"}, false},
      {"it hangs and is killed at the end, its temporary file removed", FakeLineSystem::kChildHangs, "", true, {},
       false},
  };
  for (const Case& c : cases) {
    fake.trace.clear();
    fake.files.clear();
    fake.folders.clear();
    SetUp();
    fake.now = 0;
    fake.children = {c.script};
    fake.speakError = c.speakError;
    NameJob job = Start("5559876", "Ann Lee");
    std::string recording = job.recording;
    pid_t child = job.pid;
    if (c.script == FakeLineSystem::kChildHangs) {
      fake.WriteFile(recording + ".tmp" + std::to_string(child), "RIF");  // half-written
    }
    RunTo(10000);
    if (c.cancel) {
      EXPECT_FALSE(FinishNameJob(&job, fake, fake, fake)) << c.name;
      CancelNameJob(&job, fake, fake);
      EXPECT_EQ(Count("10000 child " + std::to_string(child) + " killed"), 1u) << c.name;
      EXPECT_EQ(fake.files.count(recording + ".tmp" + std::to_string(child)), 0u) << c.name;
      CancelNameJob(&job, fake, fake);  // twice is harmless
    } else {
      EXPECT_TRUE(FinishNameJob(&job, fake, fake, fake)) << c.name;
    }
    EXPECT_EQ(job.pid, -1) << c.name;
    EXPECT_EQ(fake.ChildrenLeft(), 0u) << c.name;
    std::vector<std::string> status;
    for (const std::string& line : fake.trace) {
      if (line.find(": ") != std::string::npos) status.push_back(line);
    }
    EXPECT_EQ(status, c.status) << c.name;
    EXPECT_EQ(!recording.empty() && fake.files.count(recording) != 0, c.recorded) << c.name;
  }
}

}  // namespace
}  // namespace annc
