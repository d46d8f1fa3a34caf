#include "line/on_call/on_call_runner.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "posix/fake_line_system.h"

namespace annc {
namespace {

CallRecord Call(std::int64_t id) {
  CallRecord record;
  record.id = id;
  record.time = "2026-12-09T21:14:05+01:00";
  record.source = "modem:/dev/ttyACM0";
  record.number = "5551234";
  record.networkName = "O'Brien $(rm -rf ~) ^[[2J";
  record.name = "Pat O'Brien";
  record.nameSource = "book";
  record.decision = "announce";
  record.rings = 2;
  record.announced = true;
  record.stoppedByKey = true;
  return record;
}

CallRecord Ended(CallRecord record) {
  record.ended = "2026-12-09T21:14:47+01:00";
  record.duration = 42;
  return record;
}

// The loop as annc-line runs it, for the runner alone, until `until`.
void Drive(FakeLineSystem& fake, OnCallRunner& runner, Millis until) {
  while (fake.now < until) {
    std::vector<Watch> watches = {Watch{FakeLineSystem::kSignalHandle, false, false}};
    runner.AddWatches(&watches);
    std::optional<Millis> deadline = runner.NextDeadline();
    if (!deadline || *deadline > until) deadline = until;
    fake.Wait(&watches, deadline);
    runner.OnReady(watches, fake.now);
    if (watches[0].ready) {
      fake.Take();
      if (fake.Seen(SIGCHLD)) {
        fake.Clear(SIGCHLD);
        runner.Reap(fake.now);
      }
    }
    runner.OnTimer(fake.now);
  }
}

// The status lines of the trace, without their times.
std::vector<std::string> StatusLines(const std::vector<std::string>& trace) {
  std::vector<std::string> lines;
  for (const std::string& line : trace) {
    std::size_t at = line.find(": ");
    if (at != std::string::npos && line.find_first_not_of("0123456789") == at) lines.push_back(line.substr(at + 2));
  }
  return lines;
}

OnCallSettings Settings() {
  OnCallSettings settings;
  settings.program = "/usr/local/lib/my hooks/hook";
  return settings;
}

bool Has(const std::vector<std::string>& list, const std::string& entry) {
  return std::find(list.begin(), list.end(), entry) != list.end();
}

TEST(OnCallEnvironmentTest, FieldsNamedInCapitalsAndTheEndOnlyOnceEnded) {
  struct Case {
    bool ended;
    std::vector<std::string> present;
    std::vector<std::string> absent;  // names
  } cases[] = {
      {false,
       {"ANNC_EVENT=call", "ANNC_ID=7", "ANNC_NUMBER=5551234", "ANNC_WITHHELD=no", "ANNC_NAME=Pat O'Brien",
        "ANNC_NETWORK_NAME=O'Brien $(rm -rf ~) ^[[2J", "ANNC_NAME_SOURCE=book", "ANNC_DECISION=announce",
        "ANNC_HUNG_UP=no", "ANNC_RINGS=2", "ANNC_ANNOUNCED=yes", "ANNC_STOPPED_BY_KEY=yes",
        "ANNC_SOURCE=modem:/dev/ttyACM0", "ANNC_TIME=2026-12-09T21:14:05+01:00"},
       {"ANNC_ENDED=", "ANNC_ANSWERED=", "ANNC_DURATION="}},
      {true,
       {"ANNC_EVENT=end", "ANNC_ID=7", "ANNC_NUMBER=5551234", "ANNC_ENDED=2026-12-09T21:14:47+01:00",
        "ANNC_ANSWERED=unknown", "ANNC_DURATION=42", "ANNC_STOPPED_BY_KEY=yes"},
       {"ANNC_EVENT=call"}},
  };
  for (const Case& c : cases) {
    CallRecord record = c.ended ? Ended(Call(7)) : Call(7);
    std::vector<std::string> environment = OnCallEnvironment(record, c.ended);
    for (const std::string& entry : c.present) EXPECT_TRUE(Has(environment, entry)) << entry;
    for (const std::string& name : c.absent) {
      EXPECT_TRUE(std::none_of(environment.begin(), environment.end(),
                               [&](const std::string& e) { return e.rfind(name, 0) == 0; }))
          << name;
    }
    for (const std::string& entry : environment) EXPECT_EQ(entry.rfind("ANNC_", 0), 0u) << entry;
  }
  CallRecord answered = Ended(Call(8));
  answered.answered = false;
  EXPECT_TRUE(Has(OnCallEnvironment(answered, true), "ANNC_ANSWERED=no"));
}

TEST(OnCallRunnerTest, RunsOnceWhenDecidedAndOnceWhenEndedWithTheCallsEnvironment) {
  FakeLineSystem fake;
  OnCallRunner runner(Settings(), fake, fake);
  runner.CallDecided(Call(7), 0);
  fake.At(3000, [&] { runner.CallEnded(Ended(Call(7)), 3000); });
  Drive(fake, runner, 5000);
  EXPECT_TRUE(InOrder(fake.trace, {"0 run 4243 /usr/local/lib/my hooks/hook ANNC_EVENT=call", "100 run 4243 reaped",
                                   "3000 run 4244 /usr/local/lib/my hooks/hook ANNC_EVENT=end",
                                   "3100 run 4244 reaped"}))
      << Shown(fake.trace);
  EXPECT_EQ(fake.programEnvironments[4243], OnCallEnvironment(Call(7), false));
  EXPECT_EQ(fake.programEnvironments[4244], OnCallEnvironment(Ended(Call(7)), true));
  EXPECT_EQ(fake.programDropPrefixes[4243], "ANNC_");
  EXPECT_TRUE(StatusLines(fake.trace).empty()) << Shown(fake.trace);
}

TEST(OnCallRunnerTest, AtMostFourRunAndTheRestWaitTheirTurn) {
  FakeLineSystem fake;
  fake.programs.assign(6, FakeLineSystem::ProgramScript{"", 1000, 0});
  OnCallRunner runner(Settings(), fake, fake);
  for (int id = 1; id <= 5; ++id) runner.CallDecided(Call(id), 0);
  EXPECT_EQ(fake.ProgramsRunning(), 4u);
  fake.At(500, [&] { runner.CallEnded(Ended(Call(1)), 500); });
  Drive(fake, runner, 3000);
  EXPECT_TRUE(InOrder(fake.trace, {"0 run 4246 /usr/local/lib/my hooks/hook ANNC_EVENT=call", "1000 run 4243 reaped",
                                   "1000 run 4247 /usr/local/lib/my hooks/hook ANNC_EVENT=call",
                                   "1000 run 4248 /usr/local/lib/my hooks/hook ANNC_EVENT=end"}))
      << Shown(fake.trace);
  // The fifth call's run comes before the end of the first, which came later.
  EXPECT_TRUE(Has(fake.programEnvironments[4247], "ANNC_ID=5"));
  EXPECT_TRUE(Has(fake.programEnvironments[4248], "ANNC_ID=1"));
}

TEST(OnCallRunnerTest, ARunLeftOutWhenTooManyWaitIsSaid) {
  FakeLineSystem fake;
  OnCallSettings settings = Settings();
  settings.maxRunning = 1;
  settings.maxQueued = 2;
  OnCallRunner runner(settings, fake, fake);
  runner.CallDecided(Call(1), 0);
  runner.CallDecided(Call(2), 0);
  runner.CallDecided(Call(3), 0);
  runner.CallEnded(Ended(Call(1)), 0);
  Drive(fake, runner, 1000);
  EXPECT_EQ(StatusLines(fake.trace),
            std::vector<std::string>{"hook: 2 runs wait already: the run for the end of call 1 is left out"});
  EXPECT_EQ(fake.programEnvironments.size(), 3u);
}

TEST(OnCallRunnerTest, ARunPastItsTimeIsEndedWithItsGroup) {
  struct Case {
    bool ignoresTerm;
    std::vector<std::string> trace;
    std::vector<std::string> status;
  } cases[] = {
      {false,
       {"0 run 4243 /usr/local/lib/my hooks/hook ANNC_EVENT=call", "30000 kill -15 group 4243",
        "30010 run 4243 reaped"},
       {"hook still runs after 30 s: stopping it", "hook was ended by signal 15 (SIGTERM)"}},
      {true,
       {"0 run 4243 /usr/local/lib/my hooks/hook ANNC_EVENT=call", "30000 kill -15 group 4243",
        "33000 kill -9 group 4243", "33010 run 4243 reaped"},
       {"hook still runs after 30 s: stopping it", "hook did not end after SIGTERM: killing it",
        "hook was ended by signal 9 (SIGKILL)"}},
  };
  for (const Case& c : cases) {
    FakeLineSystem fake;
    fake.programs.push_back(FakeLineSystem::ProgramScript{"", -1, 0, c.ignoresTerm});
    OnCallRunner runner(Settings(), fake, fake);
    runner.CallDecided(Call(1), 0);
    Drive(fake, runner, 40000);
    EXPECT_TRUE(InOrder(fake.trace, c.trace)) << Shown(fake.trace);
    EXPECT_EQ(StatusLines(fake.trace), c.status) << Shown(fake.trace);
    EXPECT_EQ(std::count_if(fake.trace.begin(), fake.trace.end(),
                            [](const std::string& line) { return line.find(" kill ") != std::string::npos; }),
              static_cast<long>(c.trace.size()) - 2);
  }
}

TEST(OnCallRunnerTest, OutputBecomesStatusLinesCleanedCutAndBounded) {
  std::string longLine(600, 'x');
  struct Case {
    std::string program;
    std::vector<std::string> writes;  // one each 100 ms from the start
    std::vector<std::string> status;
  } cases[] = {
      {"/x/hook", {"sent\n"}, {"hook: sent"}},
      {"/x/hook", {"one\r\n\n  \ntwo"}, {"hook: one", "hook: two"}},
      {"/x/ho\x1bok", {"\x1b[2Jcleared\x07\n"}, {"ho^[ok: ^[[2Jcleared^G"}},
      {"/x/hook", {"par", "tly", " there\n"}, {"hook: partly there"}},
      {"/x/hook", {longLine + "\n"}, {"hook: " + longLine.substr(0, kRecordTextBytes)}},
      {"/x/hook", {longLine, longLine, "\nnext\n"}, {"hook: " + longLine.substr(0, kRecordTextBytes), "hook: next"}},
      {"/x/hook",
       {"1\n2\n3\n4\n", "5\n6\n", "7\n8"},
       {"hook: 1", "hook: 2", "hook: 3", "hook: 4", "hook: 5", "hook: 3 more lines of output left out"}},
  };
  for (const Case& c : cases) {
    FakeLineSystem fake;
    fake.programs.push_back(FakeLineSystem::ProgramScript{"", 1000, 0});
    OnCallSettings settings = Settings();
    settings.program = c.program;
    OnCallRunner runner(settings, fake, fake);
    runner.CallDecided(Call(1), 0);
    for (std::size_t i = 0; i < c.writes.size(); ++i) {
      fake.At(static_cast<Millis>(100 * (i + 1)), [&fake, text = c.writes[i]] { fake.ProgramWrites(4243, text); });
    }
    Drive(fake, runner, 2000);
    EXPECT_EQ(StatusLines(fake.trace), c.status) << Shown(fake.trace);
  }
}

TEST(OnCallRunnerTest, OutputLeftInThePipeAtTheEndIsSaid) {
  FakeLineSystem fake;
  fake.programs.push_back(FakeLineSystem::ProgramScript{"", 100, 0});
  OnCallRunner runner(Settings(), fake, fake);
  runner.CallDecided(Call(1), 0);
  // Written just before the end, and the end seen before the pipe's
  // readiness: the reap reads it.
  fake.At(99, [&] { fake.ProgramWrites(4243, "last words"); });
  std::vector<Watch> none;
  while (fake.now < 100) fake.Wait(&none, 100);
  runner.Reap(100);
  EXPECT_EQ(StatusLines(fake.trace), std::vector<std::string>{"hook: last words"}) << Shown(fake.trace);
}

TEST(OnCallRunnerTest, HowARunEndedIsSaidWhenItFailed) {
  struct Case {
    FakeLineSystem::ProgramScript script;
    std::vector<std::string> status;
  } cases[] = {
      {{"", 100, 0}, {}},
      {{"", 100, 3}, {"hook ended with exit code 3"}},
      {{"oops\n", 100, 1}, {"hook: oops", "hook ended with exit code 1"}},
      {{"", 100, 0, false, true}, {"cannot run hook: No such file or directory"}},
  };
  for (const Case& c : cases) {
    FakeLineSystem fake;
    fake.programs.push_back(c.script);
    OnCallRunner runner(Settings(), fake, fake);
    runner.CallDecided(Call(1), 0);
    Drive(fake, runner, 1000);
    EXPECT_EQ(StatusLines(fake.trace), c.status) << Shown(fake.trace);
  }
  // A run that could not start takes no place: the next one starts.
  FakeLineSystem fake;
  fake.programs.assign(4, FakeLineSystem::ProgramScript{"", 100, 0, false, true});
  OnCallRunner runner(Settings(), fake, fake);
  for (int id = 1; id <= 5; ++id) runner.CallDecided(Call(id), 0);
  EXPECT_EQ(fake.ProgramsRunning(), 1u);
}

TEST(OnCallRunnerTest, StopEndsWhatRunsAndDropsWhatWaits) {
  FakeLineSystem fake;
  fake.programs.assign(5, FakeLineSystem::ProgramScript{"", -1, 0});
  fake.programs[1].ignoresTerm = true;
  OnCallRunner runner(Settings(), fake, fake);
  for (int id = 1; id <= 6; ++id) runner.CallDecided(Call(id), 0);
  Drive(fake, runner, 1000);
  runner.Stop();
  EXPECT_EQ(fake.ProgramsRunning(), 0u);
  EXPECT_TRUE(InOrder(fake.trace, {"1000 kill -15 group 4243", "1000 kill -15 group 4246", "1000 kill -9 group 4243",
                                   "1000 kill -9 group 4246", "1000 run 4246 reaped"}))
      << Shown(fake.trace);
  EXPECT_EQ(StatusLines(fake.trace),
            (std::vector<std::string>{"hook: 2 runs still waiting left out as annc-line ends",
                                      "hook: 4 runs still running stopped as annc-line ends"}));
  EXPECT_FALSE(runner.NextDeadline());
  std::vector<Watch> watches;
  runner.AddWatches(&watches);
  EXPECT_TRUE(watches.empty());
  // Once is enough: the runner's own end finds nothing left.
  std::size_t traced = fake.trace.size();
  runner.Stop();
  EXPECT_EQ(fake.trace.size(), traced);
}

}  // namespace
}  // namespace annc
