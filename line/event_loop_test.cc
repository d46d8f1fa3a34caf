// The event loop on the scripted system: what ends it, what it reaps, the
// order in which deadlines come, and a ready handle handed to the source.
#include "line/event_loop.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <optional>
#include <string>
#include <vector>

#include "posix/fake_line_system.h"

namespace annc {
namespace {

// Everything the loop does to the source and the client, in order:
// "300 source timer", "200 client reap", "0 source ready".
using Calls = std::vector<std::string>;

class RecordingSource : public CallSource {
 public:
  explicit RecordingSource(Calls& calls) : calls_(calls) {}
  void Begin(Millis, const SourceOutput&) override {}
  Startup startup() const override { return kStarted; }
  std::string FailureText() const override { return std::string(); }
  int handle() const override { return handle_; }
  std::optional<Millis> NextDeadline() const override { return deadline; }
  void OnReady(Millis now, const SourceOutput&) override { calls_.push_back(std::to_string(now) + " " + name + " ready"); }
  void OnTimer(Millis now, const SourceOutput&) override {
    if (deadline && now >= *deadline) {
      calls_.push_back(std::to_string(now) + " " + name + " timer");
      deadline.reset();
    }
  }
  std::optional<Millis> deadline;
  int handle_ = -1;
  std::string name = "source";

 private:
  Calls& calls_;
};

class RecordingClient : public LoopClient {
 public:
  explicit RecordingClient(Calls& calls) : calls_(calls) {}
  std::optional<Millis> NextDeadline() const override { return deadline; }
  void Reap(Millis now) override {
    if (reapable) calls_.push_back(std::to_string(now) + " client reap");
    reapable = false;
  }
  void OnTimer(Millis now) override {
    if (deadline && now >= *deadline) {
      calls_.push_back(std::to_string(now) + " client timer");
      deadline.reset();
    }
  }
  std::optional<Millis> deadline;
  bool reapable = false;  // set where a child ends

 private:
  Calls& calls_;
};

TEST(EventLoopTest, SignalsThatEndIt) {
  struct Case {
    int signal;
    bool ends;
  };
  const Case cases[] = {{SIGINT, true}, {SIGTERM, true}, {SIGHUP, true}, {SIGCHLD, false}};
  for (const Case& c : cases) {
    FakeLineSystem fake;
    Calls calls;
    RecordingSource source(calls);
    source.deadline = 5000;
    EventLoop loop(fake, fake, fake);
    fake.At(1000, [&fake, &c] { fake.Raise(c.signal); });
    EXPECT_EQ(loop.Step(source, SourceOutput{}, nullptr), !c.ends) << c.signal;
    EXPECT_EQ(fake.now, 1000) << c.signal;
    EXPECT_EQ(loop.EndRequested(), c.ends) << c.signal;
    // Nothing is served once the end is asked for.
    EXPECT_EQ(calls, Calls{}) << c.signal;
  }
}

TEST(EventLoopTest, AChildsEndIsReaped) {
  FakeLineSystem fake;
  Calls calls;
  RecordingSource source(calls);
  RecordingClient client(calls);
  EventLoop loop(fake, fake, fake);
  source.deadline = 9000;
  fake.At(700, [&] {
    client.reapable = true;
    fake.Raise(SIGCHLD);
  });
  ASSERT_TRUE(loop.Step(source, SourceOutput{}, &client));
  EXPECT_EQ(calls, Calls{"700 client reap"});
  // The SIGCHLD is taken: it does not wake the loop again.
  EXPECT_FALSE(fake.Seen(SIGCHLD));
  ASSERT_TRUE(loop.Step(source, SourceOutput{}, &client));
  EXPECT_EQ(calls, (Calls{"700 client reap", "9000 source timer"}));

  // At annc-line's end: waiting for the child stops at its SIGCHLD, or at
  // the deadline.
  fake.At(9500, [&] { fake.Raise(SIGCHLD); });
  loop.WaitForChild(11000);
  EXPECT_EQ(fake.now, 9500);
  EXPECT_FALSE(fake.Seen(SIGCHLD));
  loop.WaitForChild(11000);
  EXPECT_EQ(fake.now, 11000);
}

TEST(EventLoopTest, DeadlinesRunInOrder) {
  struct Case {
    const char* name;
    std::optional<Millis> source;
    std::optional<Millis> client;
    Calls calls;
  };
  const Case cases[] = {
      {"the client's first", 300, 200, {"200 client timer", "300 source timer"}},
      {"the source's first", 200, 300, {"200 source timer", "300 client timer"}},
      {"both at once: the source first", 200, 200, {"200 source timer", "200 client timer"}},
      {"the client's alone", std::nullopt, 400, {"400 client timer"}},
  };
  for (const Case& c : cases) {
    FakeLineSystem fake;
    Calls calls;
    RecordingSource source(calls);
    RecordingClient client(calls);
    source.deadline = c.source;
    client.deadline = c.client;
    EventLoop loop(fake, fake, fake);
    while (source.deadline || client.deadline) ASSERT_TRUE(loop.Step(source, SourceOutput{}, &client)) << c.name;
    EXPECT_EQ(calls, c.calls) << c.name;
  }
}

TEST(EventLoopTest, AReadyHandleIsDispatched) {
  FakeLineSystem fake;
  Calls calls;
  RecordingSource source(calls);
  EventLoop loop(fake, fake, fake);
  PortOpening port = fake.Open("/dev/ttyACM0", 115200, "/var/lock");
  ASSERT_EQ(port.kind, PortOpening::kOpen);
  source.handle_ = port.handle;
  source.deadline = 5000;
  fake.At(1200, [&fake] { fake.ModemSends("RING\r\n"); });
  ASSERT_TRUE(loop.Step(source, SourceOutput{}, nullptr));
  EXPECT_EQ(calls, Calls{"1200 source ready"});
  // Without a handle, nothing is ready: the step waits for the deadline.
  source.handle_ = -1;
  ASSERT_TRUE(loop.Step(source, SourceOutput{}, nullptr));
  EXPECT_EQ(calls, (Calls{"1200 source ready", "5000 source timer"}));
}

TEST(EventLoopTest, TheWatchdogIsToldTwiceAnIntervalWhateverElseWaits) {
  struct Case {
    const char* name;
    Millis interval;               // WatchdogSec=, 0: not watched
    std::optional<Millis> source;  // the source's own deadline
    int steps;
    std::vector<std::string> pings;
  };
  const Case cases[] = {
      {"not watched: nothing", 0, 3000, 1, {}},
      {"an idle loop wakes for it", 10000, std::nullopt, 5,
       {"0 watchdog", "5000 watchdog", "10000 watchdog", "15000 watchdog", "20000 watchdog"}},
      {"a source's deadline on the way changes nothing", 10000, 7000, 6,
       {"0 watchdog", "5000 watchdog", "10000 watchdog", "15000 watchdog", "20000 watchdog"}},
      {"a short interval: no more often than every 100 ms", 50, std::nullopt, 4,
       {"0 watchdog", "100 watchdog", "200 watchdog", "300 watchdog"}},
  };
  for (const Case& c : cases) {
    FakeLineSystem fake;
    fake.watchdogMs = c.interval;
    Calls calls;
    RecordingSource source(calls);
    source.deadline = c.source;
    EventLoop loop(fake, fake, fake);
    loop.KeepWatchdog(fake, fake.WatchdogInterval());
    for (int i = 0; i < c.steps; ++i) ASSERT_TRUE(loop.Step(source, SourceOutput{}, nullptr)) << c.name;
    std::vector<std::string> pings;
    for (const std::string& line : fake.trace) {
      if (line.ends_with(" watchdog")) pings.push_back(line);
    }
    EXPECT_EQ(pings, c.pings) << c.name;
  }
}

TEST(EventLoopTest, SeveralSourcesEachServed) {
  FakeLineSystem fake;
  Calls calls;
  RecordingSource first(calls), second(calls), third(calls);
  first.name = "first";
  second.name = "second";
  third.name = "third";
  EventLoop loop(fake, fake, fake);
  PortOpening port = fake.Open("/dev/ttyACM0", 115200, "/var/lock");
  ASSERT_EQ(port.kind, PortOpening::kOpen);
  // The handle is the second's alone; the first and third have none.
  second.handle_ = port.handle;
  first.deadline = 3000;
  third.deadline = 2000;
  fake.At(1200, [&fake] { fake.ModemSends("RING\r\n"); });
  SourceOutput out;
  std::vector<LoopSource> sources = {{&first, &out}, {&second, &out}, {&third, &out}};
  ASSERT_TRUE(loop.Step(sources, nullptr));
  EXPECT_EQ(calls, Calls{"1200 second ready"});
  // Read: the port is no longer ready, and the earliest deadline of any
  // source ends each wait.
  std::string drained(64, '\0');
  (void)fake.Read(port.handle, drained.data(), drained.size());
  ASSERT_TRUE(loop.Step(sources, nullptr));
  ASSERT_TRUE(loop.Step(sources, nullptr));
  EXPECT_EQ(calls, (Calls{"1200 second ready", "2000 third timer", "3000 first timer"}));
  // A signal ends the step for all of them.
  fake.At(3500, [&fake] { fake.Raise(SIGTERM); });
  EXPECT_FALSE(loop.Step(sources, nullptr));
}

}  // namespace
}  // namespace annc
