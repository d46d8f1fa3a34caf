// The launcher on the scripted system, fed call events straight from a
// script instead of a source: what it does with the tracker's actions that
// the whole program's tests do not reach (a call it logs itself, with the
// phone book's name; the diagnosis of a failing announcer; --check's dry
// run; the names).
#include "line/launcher.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "line/event_loop.h"
#include "line/screening/screener.h"
#include "posix/fake_line_system.h"

namespace annc {
namespace {

// Call events at given times, handed on when the loop's clock reaches them.
class ScriptedSource : public CallSource {
 public:
  void At(Millis t, CallEvent event) { events_.emplace(t, std::move(event)); }
  // A whole caller-ID block on `line` at `t`.
  void Call(Millis t, const std::string& number, const std::string& name = "", const std::string& line = "") {
    At(t, CallEvent{CallEvent::kNumber, number, line});
    if (!name.empty()) At(t, CallEvent{CallEvent::kName, name, line});
    At(t, CallEvent{CallEvent::kCallerIdComplete, "", line});
  }

  void Begin(Millis, const SourceOutput&) override {}
  Startup startup() const override { return kStarted; }
  std::string FailureText() const override { return std::string(); }
  int handle() const override { return -1; }
  std::optional<Millis> NextDeadline() const override {
    if (events_.empty()) return std::nullopt;
    return events_.begin()->first;
  }
  void OnReady(Millis, const SourceOutput&) override {}
  void OnTimer(Millis now, const SourceOutput& out) override {
    while (!events_.empty() && events_.begin()->first <= now) {
      CallEvent event = events_.begin()->second;
      events_.erase(events_.begin());
      out.event(event);
    }
  }

 private:
  std::multimap<Millis, CallEvent> events_;
};

// A phone book of the test's own.
PhoneBookLookup Book(std::map<std::string, std::string> names) {
  return [names](std::string_view number) -> std::optional<std::string> {
    auto it = names.find(std::string(number));
    if (it == names.end()) return std::nullopt;
    return it->second;
  };
}

struct Scenario {
  const char* name;
  // Sets the fake, the launcher and the calls up; the run ends with SIGTERM at `end`.
  std::function<void(FakeLineSystem&, Launcher&, ScriptedSource&)> script;
  Millis end;
  std::vector<std::string> inOrder;  // these, in this order
  std::vector<std::string> never;    // and none of these
  std::map<std::string, std::string> book = {{"5559876", "BOB SMITH"}};
  bool dryRun = false;
  Charset charset = Charset::kSingleByte;  // the launcher's; the tracker keeps its own default
};

void Play(const std::vector<Scenario>& scenarios) {
  for (const Scenario& s : scenarios) {
    FakeLineSystem fake;
    LauncherSettings settings{"/usr/lib/annc/annc", "calls.log", "calls.log", TrackerSettings{}, s.charset, "modem:/dev/ttyACM0", false};
    Launcher launcher(settings, fake, fake, fake, Book(s.book));
    launcher.SetDryRun(s.dryRun);
    ScriptedSource source;
    s.script(fake, launcher, source);
    fake.At(s.end, [&fake] { fake.Raise(SIGTERM); });
    EventLoop loop(fake, fake, fake);
    while (loop.Step(source, launcher.output(), &launcher)) {
    }
    launcher.Stop(loop);
    EXPECT_TRUE(InOrder(fake.trace, s.inOrder)) << s.name << "; the trace:\n" << Shown(fake.trace);
    for (const std::string& line : s.never) {
      EXPECT_EQ(std::count(fake.trace.begin(), fake.trace.end(), line), 0) << s.name << ": " << line;
    }
  }
}

// The first call's announcer never goes, so a second call ends unheard and
// annc-line logs it itself.
std::function<void(FakeLineSystem&, Launcher&, ScriptedSource&)> Unheard(std::string number, std::string name = "") {
  return [=](FakeLineSystem& f, Launcher&, ScriptedSource& calls) {
    f.hung = true;
    calls.Call(0, "5551234");
    calls.At(1000, CallEvent{CallEvent::kCallEnded, "", ""});
    calls.Call(2000, number, name);
    calls.At(3000, CallEvent{CallEvent::kCallEnded, "", ""});
  };
}

TEST(LauncherTest, CallsLoggedByAnncLineCarryTheBooksName) {
  Play({
      {"a call that waits for a busy announcer and ends unheard",
       [](FakeLineSystem& f, Launcher&, ScriptedSource& calls) {
         f.hung = true;  // the first call's announcer does not go
         calls.Call(0, "5551234");
         calls.At(1000, CallEvent{CallEvent::kCallEnded, "", ""});
         calls.Call(2000, "555-9876", "B SMITH");
         calls.At(3000, CallEvent{CallEvent::kCallEnded, "", ""});
       },
       5000,
       {"0 start 5551234 /L:calls.log", "1000 nocarrier",
        "3000: call from 5559876 (B SMITH) not announced: the announcer was busy; logged",
        "3000 log calls.log   5559876 - BOB SMITH"},
       {"3000 log calls.log   5559876", "3000 log calls.log   5559876 - B SMITH"}},
      {"a call on one line too many",
       [](FakeLineSystem&, Launcher&, ScriptedSource& calls) {
         for (std::size_t i = 0; i < CallTracker::kMaxCalls; ++i) {
           calls.At(0, CallEvent{CallEvent::kRing, "", "L" + std::to_string(i)});
         }
         calls.At(100, CallEvent{CallEvent::kNumber, "5559876", "L9"});
       },
       1000,
       {"100 log calls.log   5559876 - BOB SMITH"},
       {}},
      {"the book's name in caret notation",
       Unheard("5559876"),
       5000,
       {"3000 log calls.log   5559876 - EVE^[[2J"},
       {},
       {{"5559876", "EVE\x1b[2J"}}},
      {"a C1 control in the book's name, in a UTF-8 locale",
       Unheard("5559876"),
       5000,
       {"3000 log calls.log   5559876 - EVEM-^[2J"},
       {"3000 log calls.log   5559876 - EVE\xc2M-^[2J"},
       {{"5559876", "EVE\xc2\x9b" "2J"}},
       false,
       Charset::kUtf8},
      {"the same bytes in a single-byte locale: 0xC2 a letter, 0x9B the control",
       Unheard("5559876"),
       5000,
       {"3000 log calls.log   5559876 - EVE\xc2M-^[2J"},
       {},
       {{"5559876", "EVE\xc2\x9b" "2J"}}},
      {"a number the book does not have: the number alone",
       Unheard("5550000", "NOBODY"),
       5000,
       {"3000 log calls.log   5550000"},
       {}},
      {"a log that cannot be written: said",
       [](FakeLineSystem& f, Launcher&, ScriptedSource& calls) {
         f.hung = true;
         f.logError = EACCES;
         calls.Call(0, "5551234");
         calls.At(1000, CallEvent{CallEvent::kCallEnded, "", ""});
         calls.Call(2000, "5559876");
         calls.At(3000, CallEvent{CallEvent::kCallEnded, "", ""});
       },
       5000,
       {"3000: cannot write the call to calls.log: Permission denied"},
       {}},
  });
}

TEST(LauncherTest, NoCarrierAgainUntilTheAnnouncerHasGone) {
  Play({
      {"an announcer deaf for 2 s is told every 500 ms until it hears it",
       [](FakeLineSystem& f, Launcher&, ScriptedSource& calls) {
         f.deafAfterStart = 2000;
         calls.Call(0, "5551234");
         calls.At(100, CallEvent{CallEvent::kCallEnded, "", ""});
       },
       5000,
       {"0 start 5551234 /L:calls.log", "100 nocarrier", "600 nocarrier", "1100 nocarrier", "1600 nocarrier",
        "2100 nocarrier", "2150 new line"},
       {"2600 nocarrier", "2150 signal 15"}},
  });
}

TEST(LauncherTest, AFailingAnnouncerIsDiagnosedOncePerKind) {
  // What the diagnosis finds at each failure, in turn.
  auto diagnoses = [](std::vector<std::optional<std::string>> found) {
    return [found, next = std::size_t{0}]() mutable { return found[std::min(next++, found.size() - 1)]; };
  };
  auto failingCalls = [](FakeLineSystem& f, ScriptedSource& calls, int n) {
    for (int i = 0; i < n; ++i) {
      Millis t = 1000 + 20000 * i;
      calls.Call(t, "5551234");
      f.At(t + 100, [&f] { f.AnnouncerExits(1); });
      calls.At(t + 1000, CallEvent{CallEvent::kCallEnded, "", ""});
    }
  };
  const std::string sound = "the announcer fails: no sound folder";
  const std::string book = "the announcer fails: no phone book";
  Play({
      {"the same cause three times: said once",
       [&](FakeLineSystem& f, Launcher& launcher, ScriptedSource& calls) {
         launcher.SetDiagnosis(diagnoses({"no sound folder"}));
         failingCalls(f, calls, 3);
       },
       70000,
       {"1100: " + sound, "21000 start 5551234 /L:calls.log", "41000 start 5551234 /L:calls.log"},
       {"21100: " + sound, "41100: " + sound}},
      {"another cause: said too, and a cause found again is not",
       [&](FakeLineSystem& f, Launcher& launcher, ScriptedSource& calls) {
         launcher.SetDiagnosis(diagnoses({"no sound folder", "no phone book", "no sound folder"}));
         failingCalls(f, calls, 3);
       },
       70000,
       {"1100: " + sound, "21100: " + book},
       {"41100: " + sound}},
      {"no cause found: the console has the report",
       [&](FakeLineSystem& f, Launcher& launcher, ScriptedSource& calls) {
         launcher.SetDiagnosis(diagnoses({std::nullopt}));
         failingCalls(f, calls, 2);
       },
       50000,
       {"1100: the announcer failed; its report is on the console"},
       {"21100: the announcer failed; its report is on the console"}},
      {"an announcer that ends otherwise is not diagnosed",
       [&](FakeLineSystem& f, Launcher& launcher, ScriptedSource& calls) {
         launcher.SetDiagnosis(diagnoses({"no sound folder"}));
         calls.Call(1000, "5551234");
         f.At(1100, [&f] { f.AnnouncerExits(0); });
       },
       5000,
       {"1000 start 5551234 /L:calls.log"},
       {"1100: " + sound}},
  });
}

TEST(LauncherTest, CheckPrintsDecisionsAndStartsNothing) {
  FakeLineSystem files;  // no list files: quiet hours alone
  Screener quiet(ScreeningSettings{{}, {}, {*ParseQuietWindow("11:00-13:00")}, 3}, files);
  ASSERT_EQ(quiet.Start(), "");
  int hangUps = 0;
  Scenario dry[] = {
      {"without screening: every call would be announced",
       [](FakeLineSystem&, Launcher&, ScriptedSource& calls) { calls.Call(1000, "5551234", "ANN LEE"); },
       5000,
       {"1000: call from 5551234 (ANN LEE)", "1000| decision: call from 5551234 (ANN LEE): announce"},
       {"1000 start 5551234 /L:calls.log", "1000 keys discarded"},
       {},
       true},
      {"a C1 control in the name, in a UTF-8 locale: shown as cat -v does",
       [](FakeLineSystem&, Launcher&, ScriptedSource& calls) { calls.Call(1000, "5551234", "ANN\xc2\x85"); },
       5000,
       {"1000| decision: call from 5551234 (ANNM-^E): announce"},
       {"1000 start 5551234 /L:calls.log"},
       {},
       true,
       Charset::kUtf8},
      {"screened: the decision printed, nothing hung up or logged",
       [&](FakeLineSystem& f, Launcher& launcher, ScriptedSource& calls) {
         launcher.SetScreener(&quiet, &f, [&hangUps] { return ++hangUps > 0; });
         calls.Call(1000, "5551234");
       },
       5000,
       {"1000| decision: call from 5551234: quiet hours 11:00-13:00"},
       {"1000 start 5551234 /L:calls.log", "1000 log calls.log Q 5551234",
        "1000: call from 5551234: quiet hours 11:00-13:00"},
       {},
       true},
  };
  Play({std::begin(dry), std::end(dry)});
  EXPECT_EQ(hangUps, 0);
}

// Names as a test gives them: each start is recorded.
class ListedNames : public NameRecorder {
 public:
  std::string Start(const std::string& number, const std::string& name) override {
    started.push_back(number + "|" + name);
    return name.empty() ? std::string() : "/cache/" + number + ".wav";
  }
  void Reap() override { ++reaped; }
  void Cancel() override { ++cancelled; }
  std::vector<std::string> started;
  int reaped = 0;
  int cancelled = 0;
};

TEST(LauncherTest, NamesGoToTheAnnouncerWithTheCall) {
  FakeLineSystem fake;
  Launcher launcher(LauncherSettings{"/usr/lib/annc/annc", "calls.log", "calls.log", TrackerSettings{}, Charset::kSingleByte, "modem:/dev/ttyACM0", false}, fake, fake,
                    fake, Book({}));
  ListedNames names;
  launcher.SetNameRecorder(&names);
  const SourceOutput& out = launcher.output();
  out.event(CallEvent{CallEvent::kRing, {}, {}});
  out.event(CallEvent{CallEvent::kNumber, "555-1234", {}});
  out.event(CallEvent{CallEvent::kName, "ANN LEE", {}});
  out.event(CallEvent{CallEvent::kRing, {}, {}});
  EXPECT_EQ(names.started, std::vector<std::string>{"5551234|ANN LEE"});
  EXPECT_TRUE(InOrder(fake.trace, {"0 start 5551234 /L:calls.log /N:/cache/5551234.wav"})) << Shown(fake.trace);
  // Without a name, no /N:.
  fake.AnnouncerExits(0);
  launcher.Reap(100);
  EXPECT_GE(names.reaped, 1);
  fake.now = 20000;
  launcher.OnTimer(20000);
  out.event(CallEvent{CallEvent::kRing, {}, {}});
  out.event(CallEvent{CallEvent::kRing, {}, {}});
  EXPECT_TRUE(InOrder(fake.trace, {"20000 start Unknown /L:calls.log"})) << Shown(fake.trace);
  EventLoop loop(fake, fake, fake);
  launcher.Stop(loop);
  EXPECT_EQ(names.cancelled, 1);
}

}  // namespace
}  // namespace annc

namespace annc {
namespace {

// The book beside the announcer, read through the system's files at each
// lookup: an edited book counts at once, and no book gives no name.
TEST(LauncherTest, TheBookBesideTheAnnouncerIsReadThroughTheFiles) {
  FakeLineSystem fake;
  PhoneBookLookup book = BookBesideAnnouncer("/opt/annc/annc", fake);
  EXPECT_EQ(book("5551234"), std::nullopt);
  fake.WriteFile("/opt/annc/Numvoice/aon.db", "5550000=Nobody\r\n5551234=Ann Lee\r\n");
  EXPECT_EQ(book("5551234"), std::optional<std::string>("Ann Lee"));
  EXPECT_EQ(book("5559999"), std::nullopt);
  fake.WriteFile("/opt/annc/Numvoice/aon.db", "5551234=Mum\r\n");
  EXPECT_EQ(book("5551234"), std::optional<std::string>("Mum"));
}

// A sink that cannot go on makes the launcher ask for annc-line's end.
TEST(LauncherTest, AnySinkCanAskForTheEnd) {
  class Sink : public CallSink {
   public:
    void CallDecided(const CallRecord&, Millis) override {}
    void CallEnded(const CallRecord&, Millis) override {}
    bool Fatal() const override { return fatal; }
    bool fatal = false;
  };
  FakeLineSystem fake;
  Launcher launcher(LauncherSettings{"/usr/lib/annc/annc", "calls.log", "calls.log", TrackerSettings{},
                                     Charset::kSingleByte, "modem:/dev/ttyACM0", false},
                    fake, fake, fake, Book({}));
  EXPECT_FALSE(launcher.Fatal());
  Sink first;
  Sink second;
  launcher.AddSink(&first);
  launcher.AddSink(&second);
  EXPECT_FALSE(launcher.Fatal());
  second.fatal = true;
  EXPECT_TRUE(launcher.Fatal());
}

// An NCID server and a FRITZ!Box, each with a line "1": their calls stay
// apart, and each record keeps its own source and what that source knows.
TEST(LauncherTest, EachSourcesCallsKeepTheirOwnRecords) {
  class Sink : public CallSink {
   public:
    void CallDecided(const CallRecord&, Millis) override {}
    void CallEnded(const CallRecord& record, Millis) override {
      ended.push_back(record.source + " " + record.number + " answered=" +
                      (record.answered ? (*record.answered ? "1" : "0") : "NULL"));
    }
    std::vector<std::string> ended;
  };
  struct Case {
    const char* name;
    // Events of source 0 (NCID) and source 1 (the box), in turn.
    std::function<void(const SourceOutput&, const SourceOutput&)> calls;
    std::vector<std::string> ended;
  };
  const Case cases[] = {
      {"the box's call ends unanswered, the server's with its own end",
       [](const SourceOutput& ncid, const SourceOutput& box) {
         ncid.event(CallEvent{CallEvent::kNumber, "5551234", "1"});
         ncid.event(CallEvent{CallEvent::kCallerIdComplete, "", "1"});
         box.event(CallEvent{CallEvent::kNumber, "5551234", "1"});
         box.event(CallEvent{CallEvent::kCallerIdComplete, "", "1"});
         box.event(CallEvent{CallEvent::kCallEnded, "", "1"});
         ncid.event(CallEvent{CallEvent::kCallEnded, "", "1"});
       },
       {"fritz:box:1012 5551234 answered=0", "ncid:nas:3333 5551234 answered=NULL"}},
      {"the server lost: its call ends, the box's goes on to its answer",
       [](const SourceOutput& ncid, const SourceOutput& box) {
         box.event(CallEvent{CallEvent::kNumber, "5559876", "1"});
         box.event(CallEvent{CallEvent::kCallerIdComplete, "", "1"});
         ncid.event(CallEvent{CallEvent::kNumber, "5551234", "1"});
         ncid.event(CallEvent{CallEvent::kCallerIdComplete, "", "1"});
         ncid.event(CallEvent{CallEvent::kSourceLost, "", ""});
         box.event(CallEvent{CallEvent::kAnswered, "", "1"});
       },
       {"ncid:nas:3333 5551234 answered=NULL", "fritz:box:1012 5559876 answered=1"}},
  };
  for (const Case& c : cases) {
    FakeLineSystem fake;
    LauncherSettings settings{"/usr/lib/annc/annc", "calls.log", "calls.log", TrackerSettings{},
                              Charset::kSingleByte, "ncid:nas:3333", false};
    settings.sources = {{"ncid:nas:3333", false}, {"fritz:box:1012", true}};
    Launcher launcher(settings, fake, fake, fake, Book({}));
    Sink sink;
    launcher.AddSink(&sink);
    launcher.SetRecords(&fake, 0);
    c.calls(launcher.OutputOf(0), launcher.OutputOf(1));
    EXPECT_EQ(sink.ended, c.ended) << c.name;
    EventLoop loop(fake, fake, fake);
    launcher.Stop(loop);
  }
}

}  // namespace
}  // namespace annc
