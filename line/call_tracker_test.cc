#include "line/call_tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace annc {
namespace {

// A scenario is a list of steps "TIME WHAT [VALUE]": ring, nmbr V, name V,
// info, complete, nocarrier, lost, exit N (the announcer's exit code),
// signal N, notstarted, until (only lets time pass). Before each step the
// clock runs to its time, and OnTimer is called at every deadline the
// tracker names on the way, as the event loop does. The trace lists every
// action as "TIME start NUMBER", "TIME end", "TIME term" or "TIME: status".
std::vector<std::string> Play(const std::vector<std::string>& steps, Millis ringTimeout = 1000) {
  CallTracker tracker(TrackerSettings{ringTimeout, 500, 10000});
  std::vector<std::string> trace;
  auto record = [&trace](Millis t, const Actions& actions) {
    for (const Action& a : actions) {
      std::string at = std::to_string(t);
      switch (a.kind) {
        case Action::kStartAnnouncer:
          trace.push_back(at + " start " + a.number);
          break;
        case Action::kEndAnnouncement:
          trace.push_back(at + " end");
          break;
        case Action::kTerminateAnnouncer:
          trace.push_back(at + " term");
          break;
        case Action::kStatus:
          trace.push_back(at + ": " + a.text);
          break;
      }
    }
  };
  for (const std::string& step : steps) {
    std::istringstream in(step);
    Millis t;
    std::string what, value;
    in >> t >> what;
    std::getline(in >> std::ws, value);
    std::optional<Millis> last;
    for (std::optional<Millis> d = tracker.NextDeadline(); d && *d <= t; d = tracker.NextDeadline()) {
      // A deadline that OnTimer does not clear would keep the loop awake.
      if (last == d) {
        ADD_FAILURE() << "deadline " << *d << " stays after OnTimer";
        break;
      }
      last = d;
      record(*d, tracker.OnTimer(*d));
    }
    CallEvent::Kind kind = CallEvent::kRing;
    if (what == "until") continue;
    const std::string known[] = {"ring", "nmbr", "name", "info", "complete", "nocarrier", "lost",
                                 "exit", "signal", "notstarted"};
    if (std::find(std::begin(known), std::end(known), what) == std::end(known)) {
      ADD_FAILURE() << "unknown step " << step;
      continue;
    }
    if (what == "exit" || what == "signal" || what == "notstarted") {
      AnnouncerExit exit{what == "exit"     ? AnnouncerExit::kExited
                         : what == "signal" ? AnnouncerExit::kSignalled
                                            : AnnouncerExit::kNotStarted,
                         value.empty() ? 0 : std::stoi(value)};
      record(t, tracker.OnAnnouncerExited(exit, t));
      continue;
    }
    if (what == "nmbr") kind = CallEvent::kNumber;
    if (what == "name") kind = CallEvent::kName;
    if (what == "info") kind = CallEvent::kCallerIdInfo;
    if (what == "complete") kind = CallEvent::kCallerIdComplete;
    if (what == "nocarrier") kind = CallEvent::kCallEnded;
    if (what == "lost") kind = CallEvent::kSourceLost;
    record(t, tracker.OnEvent(CallEvent{kind, value}, t));
  }
  return trace;
}

using V = std::vector<std::string>;

TEST(CallTrackerTest, Scenarios) {
  struct Case {
    const char* name;
    V steps;
    V trace;
  };
  const Case cases[] = {
      {"North America: the block between the first and the second ring; the ring starts it",
       {"0 ring", "200 info", "210 info", "220 name ANN LEE", "230 nmbr 5551234", "600 ring", "1500 ring",
        "2400 ring", "3500 exit 99", "20000 until"},
       {"600: call from 5551234 (ANN LEE)", "600 start 5551234", "3400: call ended", "3400 end"}},
      {"the block is whole 0.5 s after its last line",
       {"0 ring", "200 nmbr 5551234", "300 name ANN LEE", "900 until"},
       {"800: call from 5551234 (ANN LEE)", "800 start 5551234"}},
      {"UK order: the block before the first ring, which comes within 0.5 s",
       {"0 info", "10 nmbr 02079460123", "200 ring", "1100 ring"},
       {"200: call from 02079460123", "200 start 02079460123"}},
      {"UK order: the block before the first ring, which comes late",
       {"0 info", "10 nmbr 02079460123", "900 ring"},
       {"510: call from 02079460123", "510 start 02079460123"}},
      {"no caller ID: the second ring starts it as Unknown",
       {"0 ring", "900 ring", "1800 ring", "2900 until", "3000 exit 99"},
       {"900: call from Unknown", "900 start Unknown", "2800: call ended", "2800 end"}},
      {"one ring and nothing else: nothing announced", {"0 ring", "3000 until"}, {"1000: call ended"}},
      {"withheld number",
       {"0 ring", "100 nmbr P", "200 name O", "800 until"},
       {"700: call from Unknown (O)", "700 start Unknown"}},
      {"the first number wins",
       {"0 ring", "100 nmbr 4075550000", "150 nmbr O", "700 until"},
       {"650: call from 4075550000", "650 start 4075550000"}},
      {"the ring time-out counts from the last caller-ID line too",
       {"0 ring", "900 nmbr 5551234", "3000 until"},
       {"1400: call from 5551234", "1400 start 5551234", "1900: call ended", "1900 end"}},
      {"NO CARRIER ends the call at once",
       {"0 ring", "100 nmbr 5551234", "300 ring", "500 nocarrier", "600 exit 99"},
       {"300: call from 5551234", "300 start 5551234", "500: call ended", "500 end"}},
      {"NO CARRIER without a call is nothing", {"0 nocarrier", "5000 until"}, {}},
      {"unplugged in a call: it ends; rings after it are a new call",
       {"0 ring", "100 nmbr 5551234", "700 lost", "800 exit 99", "900 ring", "1800 ring"},
       {"600: call from 5551234", "600 start 5551234", "700: call ended", "700 end", "1800: call from Unknown",
        "1800 start Unknown"}},
      {"key pressed: the rest of the call stays quiet, the next call is announced",
       {"0 ring", "100 nmbr 5551234", "300 ring", "800 exit 0", "1200 ring", "2100 ring", "3000 ring", "5000 until",
        "5000 ring", "5100 nmbr 5559876", "5300 ring"},
       {"300: call from 5551234", "300 start 5551234", "800: announcement stopped by a key; this call stays quiet",
        "4000: call ended", "5300: call from 5559876", "5300 start 5559876"}},
      {"an announcer still running 10 s after the end gets SIGTERM, once",
       {"0 ring", "100 nmbr 5551234", "300 ring", "20000 until", "20100 signal 15"},
       {"300: call from 5551234", "300 start 5551234", "1300: call ended", "1300 end", "11300 term",
        "11300: announcer still running after the call ended: terminating it"}},
      {"a failing announcer is reported and not restarted",
       {"0 ring", "100 nmbr 5551234", "300 ring", "400 exit 1", "1000 ring", "3000 until"},
       {"300: call from 5551234", "300 start 5551234", "400: announcer ended with exit code 1",
        "2000: call ended"}},
      {"an announcer killed by a signal is reported",
       {"0 ring", "100 nmbr 5551234", "300 ring", "400 signal 9"},
       {"300: call from 5551234", "300 start 5551234", "400: announcer ended by signal 9"}},
      {"an announcer that could not start is not retried in the call",
       {"0 ring", "100 nmbr 5551234", "300 ring", "300 notstarted 2", "1200 ring"},
       {"300: call from 5551234", "300 start 5551234"}},
      {"a call that begins while the last announcer is still ending waits for it",
       {"0 ring", "100 nmbr 5551234", "300 ring", "1400 until", "1500 ring", "1600 nmbr 5559876", "1700 ring",
        "2000 exit 99"},
       {"300: call from 5551234", "300 start 5551234", "1300: call ended", "1300 end", "2000: call from 5559876",
        "2000 start 5559876"}},
      {"a whole record at once (a network source) starts it at once",
       {"0 nmbr 5551234", "0 name ANN LEE", "0 complete"},
       {"0: call from 5551234 (ANN LEE)", "0 start 5551234"}},
      {"a name is shown in caret notation",
       {"0 ring", "100 nmbr 5551234", "100 name A\x1b[2JB", "300 ring"},
       {"300: call from 5551234 (A^[[2JB)", "300 start 5551234"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Play(c.steps), c.trace) << c.name;
}

TEST(CallTrackerTest, WhatTheLoopAsks) {
  // --once ends when a call has ended and no announcer runs any more.
  CallTracker tracker(TrackerSettings{1000, 500, 10000});
  EXPECT_FALSE(tracker.NextDeadline().has_value());  // idle: poll sleeps without a time-out
  tracker.OnEvent(CallEvent{CallEvent::kRing, ""}, 0);
  tracker.OnEvent(CallEvent{CallEvent::kNumber, "5551234"}, 100);
  EXPECT_TRUE(tracker.InCall());
  EXPECT_EQ(tracker.NextDeadline(), Millis{600});
  tracker.OnTimer(600);
  EXPECT_TRUE(tracker.AnnouncerBusy());
  EXPECT_EQ(tracker.NextDeadline(), Millis{1100});
  tracker.OnEvent(CallEvent{CallEvent::kCallEnded, ""}, 800);
  EXPECT_FALSE(tracker.InCall());
  EXPECT_EQ(tracker.CallsEnded(), 1);
  EXPECT_TRUE(tracker.AnnouncerBusy());
  EXPECT_EQ(tracker.NextDeadline(), Millis{10800});
  tracker.OnAnnouncerExited(AnnouncerExit{AnnouncerExit::kExited, 99}, 900);
  EXPECT_FALSE(tracker.AnnouncerBusy());
  EXPECT_FALSE(tracker.NextDeadline().has_value());
}

}  // namespace
}  // namespace annc
