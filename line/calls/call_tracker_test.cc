#include "line/calls/call_tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace annc {
namespace {

// A scenario is a list of steps "TIME WHAT[@LINE] [VALUE]": ring, nmbr V,
// name V, info, complete, nocarrier, lost, answered, exit N (the announcer's exit
// code), signal N, notstarted, until (only lets time pass); @LINE names the
// phone line of an event (none: a modem's one line), and a #N after it the
// source (none: source 0). Before each step the
// clock runs to its time, and OnTimer is called at every deadline the
// tracker names on the way, as the event loop does. The trace lists every
// action as "TIME start NUMBER", "TIME end", "TIME term" or "TIME: status".
// Steps "called V" and "label V" give the dialled number and the line's
// name. *facts, when given, gets what the calls' records are made of:
// "TIME decided #CALL N rings [line L] [called C] [name]" (started or
// logged), "TIME key #CALL", "TIME over #CALL ended|answered|lost N rings
// [uncounted]".
std::string Facts(Millis t, const char* what, const CallFacts& f) {
  std::string text = std::to_string(t) + " " + what + " #" + std::to_string(f.call);
  if (std::string_view(what) == "key") return text;
  if (std::string_view(what) == "over") {
    static const char* const kEnds[] = {"ended", "answered", "lost"};
    text += std::string(" ") + kEnds[f.end];
  }
  text += " " + std::to_string(f.rings) + " rings";
  if (!f.lineLabel.empty()) text += " line " + f.lineLabel;
  if (!f.called.empty()) text += " called " + f.called;
  if (!f.hasNumber) text += " nonumber";
  if (f.source != 0) text += " source " + std::to_string(f.source);
  if (std::string_view(what) == "over" && !f.counted) text += " uncounted";
  return text;
}

std::vector<std::string> Play(CallTracker& tracker, const std::vector<std::string>& steps,
                              std::vector<std::string>* facts = nullptr) {
  std::vector<std::string> trace;
  auto record = [&trace, facts](Millis t, const Actions& actions) {
    for (const Action& a : actions) {
      std::string at = std::to_string(t);
      if (facts != nullptr) {
        if (a.kind == Action::kStartAnnouncer || a.kind == Action::kLogCall) facts->push_back(Facts(t, "decided", a.facts));
        if (a.kind == Action::kStoppedByKey) facts->push_back(Facts(t, "key", a.facts));
        if (a.kind == Action::kCallOver) facts->push_back(Facts(t, "over", a.facts));
      }
      switch (a.kind) {
        case Action::kStoppedByKey:
        case Action::kCallOver:
          break;
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
        case Action::kLogCall:
          trace.push_back(at + " log " + a.number + (a.name.empty() ? "" : " " + a.name));
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
    std::string line;
    int source = 0;
    if (std::size_t at = what.find('#'); at != std::string::npos) {
      source = std::stoi(what.substr(at + 1));
      what.resize(at);
    }
    if (std::size_t at = what.find('@'); at != std::string::npos) {
      line = what.substr(at + 1);
      what.resize(at);
    }
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
    const std::string known[] = {"ring", "nmbr",     "name", "info",   "complete",   "nocarrier", "lost",
                                 "answered", "exit", "signal", "notstarted", "called", "label"};
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
    if (what == "answered") kind = CallEvent::kAnswered;
    if (what == "called") kind = CallEvent::kCalledNumber;
    if (what == "label") kind = CallEvent::kLineLabel;
    record(t, tracker.OnEvent(CallEvent{kind, value, line, source}, t));
  }
  return trace;
}

// The default block and SIGTERM times; the ring time-out as given.
TrackerSettings WithRingTimeout(Millis ringTimeout) {
  TrackerSettings settings;
  settings.ringTimeout = ringTimeout;
  return settings;
}

std::vector<std::string> Play(const std::vector<std::string>& steps, Millis ringTimeout = 1000) {
  CallTracker tracker(WithRingTimeout(ringTimeout));
  return Play(tracker, steps);
}

// What the records of the calls in `steps` are made of.
std::vector<std::string> FactsOf(const std::vector<std::string>& steps, Millis holdBack = 0) {
  TrackerSettings settings = WithRingTimeout(1000);
  settings.holdBack = holdBack;
  CallTracker tracker(settings);
  std::vector<std::string> facts;
  Play(tracker, steps, &facts);
  return facts;
}

using V = std::vector<std::string>;

// Whether a call is still in progress at `now`: on a copy of the tracker,
// time runs on until any call must have timed out, and a call that was in
// progress says it ended.
bool InCall(CallTracker tracker, Millis now) {
  for (const Action& action : tracker.OnTimer(now + 24LL * 3600 * 1000)) {
    if (action.kind == Action::kStatus && action.text.starts_with("call ended")) return true;
  }
  return false;
}

TEST(CallTrackerTest, WhatTheRecordsAreMadeOf) {
  struct Case {
    const char* name;
    V steps;
    V facts;
    Millis holdBack = 0;
  };
  const Case cases[] = {
      {"a modem's call: decided with the rings so far, over with all of them",
       {"0 ring", "200 nmbr 5551234", "300 name ANN LEE", "900 ring", "1800 ring", "2500 until", "3000 exit 99"},
       {"300 decided #0 1 rings", "2800 over #0 ended 3 rings"}},
      {"a key stops the announcement: said for the call it spoke for",
       {"0 ring", "200 nmbr 5551234", "300 name ANN LEE", "800 exit 0", "900 ring", "5000 until"},
       {"300 decided #0 1 rings", "800 key #0", "1900 over #0 ended 2 rings"}},
      {"a FRITZ!Box call: its line's name and the dialled number, then its answer",
       {"0 nmbr@2 5551234", "0 called@2 5559876", "0 label@2 SIP0", "0 complete@2", "900 answered@2"},
       {"0 decided #0 0 rings line SIP0 called 5559876", "900 over #0 answered 0 rings line SIP0 called 5559876"}},
      {"a lost connection ends the call as lost",
       {"0 nmbr@1 111", "0 complete@1", "500 lost"},
       {"0 decided #0 0 rings", "500 over #0 lost 0 rings"}},
      {"a call never ready (one ring, no number) ends without being decided",
       {"0 ring", "2000 until"},
       {"1000 over #0 ended 1 rings nonumber"}},
      {"a call the router rejects within the hold-back is no call for the user",
       {"0 nmbr@2 5551234", "0 complete@2", "300 nocarrier@2"},
       {"300 over #0 ended 0 rings uncounted"},
       1000},
      {"a call that waited for a busy announcer is decided when it ends, logged",
       {"0 nmbr@1 111", "0 complete@1", "100 nmbr@2 222", "100 complete@2", "200 nocarrier@2", "300 nocarrier@1",
        "400 exit 99"},
       {"0 decided #0 0 rings", "200 decided #1 0 rings", "200 over #1 ended 0 rings", "300 over #0 ended 0 rings"}},
  };
  for (const Case& c : cases) EXPECT_EQ(FactsOf(c.steps, c.holdBack), c.facts) << c.name;
}

TEST(CallTrackerTest, Scenarios) {
  struct Case {
    const char* name;
    V steps;
    V trace;
  };
  const Case cases[] = {
      {"North America: the block between the first and the second ring; number and name make it whole",
       {"0 ring", "200 info", "210 info", "220 name ANN LEE", "230 nmbr 5551234", "600 ring", "1500 ring",
        "2400 ring", "3500 exit 99", "20000 until"},
       {"230: call from 5551234 (ANN LEE)", "230 start 5551234", "3400: call ended", "3400 end"}},
      {"a number and a name: the block is whole at once, in whichever order",
       {"0 ring", "200 nmbr 5551234", "300 name ANN LEE", "900 until"},
       {"300: call from 5551234 (ANN LEE)", "300 start 5551234"}},
      {"a number alone: the block is whole 0.5 s after its last line",
       {"0 ring", "200 nmbr 5551234", "300 info", "900 until"},
       {"800: call from 5551234", "800 start 5551234"}},
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
       {"200: call from Unknown (O)", "200 start Unknown"}},
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
       {"100: call from 5551234 (A^[[2JB)", "100 start 5551234"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Play(c.steps), c.trace) << c.name;
}

TEST(CallTrackerTest, SeveralLines) {
  // A network server's calls: whole records at once, rings and ends per
  // line (the ring time-out is 8 s here).
  struct Case {
    const char* name;
    V steps;
    V trace;
  };
  const Case cases[] = {
      {"a call on another line takes over; rings of the first do not bring it back",
       {"0 nmbr@POTS 5551234", "0 name@POTS ANN LEE", "0 complete@POTS", "2000 ring@POTS", "3000 nmbr@VOIP 5559876",
        "3000 complete@VOIP", "3500 ring@POTS", "4000 exit 99", "5000 ring@POTS", "6000 nocarrier@VOIP",
        "6500 exit 99", "7000 nocarrier@POTS", "30000 until"},
       {"0: call from 5551234 (ANN LEE) on line POTS", "0 start 5551234",
        "3000: call on line VOIP takes over the announcement", "3000 end", "4000: call from 5559876 on line VOIP",
        "4000 start 5559876", "6000: call ended on line VOIP", "6000 end", "7000: call ended on line POTS"}},
      {"without an end, each line's call times out on its own",
       {"0 nmbr@A 1", "0 complete@A", "5000 nmbr@B 2", "5000 complete@B", "6000 exit 99", "14000 exit 99",
        "30000 until"},
       {"0: call from 1 on line A", "0 start 1", "5000: call on line B takes over the announcement", "5000 end",
        "6000: call from 2 on line B", "6000 start 2", "8000: call ended on line A", "13000: call ended on line B",
        "13000 end"}},
      {"an older call does not take the announcement back, but is announced once it is free",
       {"0 ring@A", "100 nmbr@B 2", "100 complete@B", "200 ring@A", "300 nocarrier@B", "400 exit 99"},
       {"100: call from 2 on line B", "100 start 2", "300: call ended on line B", "300 end",
        "400: call from Unknown on line A", "400 start Unknown"}},
      {"a new record on a line whose call has a whole one is a new call: the one before ends",
       {"0 ring@A", "100 nmbr@A 1", "100 complete@A", "200 nmbr@A 2", "200 complete@A", "250 exit 99",
        "300 nocarrier@A", "350 exit 99"},
       {"100: call from 1 on line A", "100 start 1", "200: call ended on line A", "200 end",
        "250: call from 2 on line A", "250 start 2", "300: call ended on line A", "300 end"}},
      {"an end on a line without a call is nothing",
       {"0 nmbr@A 1", "0 complete@A", "100 nocarrier@B", "200 until"},
       {"0: call from 1 on line A", "0 start 1"}},
      {"the source lost ends every call",
       {"0 nmbr@A 1", "0 complete@A", "100 nmbr@B 2", "100 complete@B", "200 lost", "300 exit 99", "30000 until"},
       {"0: call from 1 on line A", "0 start 1", "100: call on line B takes over the announcement", "100 end",
        "200: call from 2 on line B not announced: the announcer was busy; logged", "200 log 2",
        "200: call ended on line B", "200: call ended on line A"}},
      {"a line is shown in caret notation",
       {"0 nmbr@X\x1b[2J 5", "0 complete@X\x1b[2J"},
       {"0: call from 5 on line X^[[2J", "0 start 5"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Play(c.steps, TrackerSettings::kDefaultRingTimeout), c.trace) << c.name;

  // Lines beyond the ones followed are ignored until a call has ended.
  CallTracker tracker(TrackerSettings{});
  V steps, trace;
  for (std::size_t i = 0; i <= CallTracker::kMaxCalls; ++i) steps.push_back("0 ring@L" + std::to_string(i));
  for (std::size_t i = CallTracker::kMaxCalls; i-- > 0;) trace.push_back("8000: call ended on line L" + std::to_string(i));
  steps.push_back("9000 until");
  EXPECT_EQ(Play(tracker, steps), trace);
  EXPECT_EQ(tracker.CallsEnded(), static_cast<int>(CallTracker::kMaxCalls));
  EXPECT_FALSE(InCall(tracker, 9000));
}

// A modem (source 0, the default ring time-out), an NCID server (1, a
// shorter one) and a FRITZ!Box (2, a long ring time-out and a hold-back).
TrackerSettings ThreeSources() {
  TrackerSettings settings;
  settings.sources = {{"modem:/dev/ttyACM0", 8000, 0}, {"ncid:h:3333", 5000, 0}, {"fritz:b:1012", 120000, 1000}};
  return settings;
}

TEST(CallTrackerTest, SeveralSources) {
  struct Case {
    const char* name;
    V steps;
    V trace;
  };
  const Case cases[] = {
      {"the same number from a modem and an NCID server at once: two calls, the newer takes over, each ends alone",
       {"0 ring", "500 nmbr 5551234", "1500 nmbr@1#1 5551234", "1500 complete@1#1", "1600 exit 99", "3000 ring",
        "3500 nocarrier@1#1", "3600 exit 99", "4000 ring", "5000 nocarrier", "30000 until"},
       {"1000: call from 5551234 via modem:/dev/ttyACM0", "1000 start 5551234",
        "1500: call on line 1 via ncid:h:3333 takes over the announcement", "1500 end",
        "1600: call from 5551234 on line 1 via ncid:h:3333", "1600 start 5551234",
        "3500: call ended on line 1 via ncid:h:3333", "3500 end", "5000: call ended via modem:/dev/ttyACM0"}},
      {"a modem's NO CARRIER does not end a server's call on a line of the same name",
       {"0 nmbr#1 5551234", "0 complete#1", "100 nocarrier", "1000 nocarrier#1", "1100 exit 99", "30000 until"},
       {"0: call from 5551234 via ncid:h:3333", "0 start 5551234", "1000: call ended via ncid:h:3333", "1000 end"}},
      {"a server lost ends its own calls only; the modem's goes on to its end",
       {"0 ring", "500 nmbr 5551234", "1500 nmbr@1#1 5559876", "1500 complete@1#1", "1600 exit 99", "2000 lost#1",
        "2100 exit 99", "3000 ring", "4000 nocarrier", "30000 until"},
       {"1000: call from 5551234 via modem:/dev/ttyACM0", "1000 start 5551234",
        "1500: call on line 1 via ncid:h:3333 takes over the announcement", "1500 end",
        "1600: call from 5559876 on line 1 via ncid:h:3333", "1600 start 5559876",
        "2000: call ended on line 1 via ncid:h:3333", "2000 end", "4000: call ended via modem:/dev/ttyACM0"}},
      {"each source's own ring time-out and hold-back",
       {"0 nmbr@1#1 1", "0 complete@1#1", "0 nmbr@SIP0#2 2", "0 complete@SIP0#2", "1100 exit 99",
        "120100 exit 99", "200000 until"},
       {"0: call from 1 on line 1 via ncid:h:3333", "0 start 1",
        "1000: call on line SIP0 via fritz:b:1012 takes over the announcement", "1000 end",
        "1100: call from 2 on line SIP0 via fritz:b:1012", "1100 start 2", "5000: call ended on line 1 via ncid:h:3333",
        "120000: call ended on line SIP0 via fritz:b:1012", "120000 end"}},
  };
  for (const Case& c : cases) {
    CallTracker tracker(ThreeSources());
    EXPECT_EQ(Play(tracker, c.steps), c.trace) << c.name;
  }

  // Each record says its source.
  CallTracker tracker(ThreeSources());
  V facts;
  Play(tracker, {"0 nmbr@1#1 1", "0 complete@1#1", "100 nocarrier@1#1", "150 exit 99", "200 ring", "300 nmbr 2",
                 "900 nocarrier"},
       &facts);
  EXPECT_EQ(facts, (V{"0 decided #0 0 rings source 1", "100 over #0 ended 0 rings source 1",
                      "800 decided #1 1 rings", "900 over #1 ended 1 rings"}));
}

TEST(CallTrackerTest, NoCallLost) {
  const std::string digits40(40, '7');
  struct Case {
    const char* name;
    V steps;
    V trace;
  };
  const Case cases[] = {
      {"a call that waits for an announcer still ending, and ends before it is gone, is logged",
       {"0 nmbr@A 1", "0 complete@A", "100 nocarrier@A", "200 nmbr@B 2", "200 name@B BOB", "200 complete@B",
        "300 nocarrier@B"},
       {"0: call from 1 on line A", "0 start 1", "100: call ended on line A", "100 end",
        "300: call from 2 (BOB) on line B not announced: the announcer was busy; logged", "300 log 2 BOB",
        "300: call ended on line B"}},
      {"an older call that never got the announcer is logged when it ends",
       {"0 ring@A", "100 nmbr@B 2", "100 complete@B", "200 nmbr@A 1", "800 nocarrier@A", "900 nocarrier@B",
        "950 exit 99"},
       {"100: call from 2 on line B", "100 start 2", "800: call from 1 on line A not announced: the announcer was busy; logged",
        "800 log 1", "800: call ended on line A", "900: call ended on line B", "900 end"}},
      {"a number too long to be one is announced as Unknown",
       {"0 ring", "100 nmbr " + digits40, "200 ring"},
       {"200: a number of 40 digits is no phone number: announced as Unknown", "200: call from Unknown",
        "200 start Unknown"}},
      {"a number of 32 digits is still one",
       {"0 ring", "100 nmbr " + std::string(32, '5'), "200 ring"},
       {"200: call from " + std::string(32, '5'), "200 start " + std::string(32, '5')}},
  };
  for (const Case& c : cases) EXPECT_EQ(Play(c.steps, 8000), c.trace) << c.name;

  // A call on one line more than can be followed is said and logged.
  V steps, trace;
  for (std::size_t i = 0; i < CallTracker::kMaxCalls; ++i) {
    steps.push_back("0 nmbr@L" + std::to_string(i) + " " + std::to_string(100 + i));
    steps.push_back("0 complete@L" + std::to_string(i));
  }
  steps.push_back("10 nmbr@X 5551234");
  steps.push_back("10 complete@X");
  V got = Play(steps, 8000);
  V wanted = {"10: call from 5551234 on line X not announced: 8 calls are in progress; logged", "10 log 5551234"};
  EXPECT_NE(std::search(got.begin(), got.end(), wanted.begin(), wanted.end()), got.end());
}

TEST(CallTrackerTest, RouterCalls) {
  // A router's call monitor: a whole record per call at once, on the line of
  // its connection; the call is held back 1 s, ends when answered or when
  // the router says so, and times out after 8 s without either.
  struct Case {
    const char* name;
    V steps;
    V trace;
  };
  const Case cases[] = {
      {"announced 1 s after it began",
       {"0 nmbr@2 5551234", "0 complete@2", "2000 until"},
       {"1000: call from 5551234 on line 2", "1000 start 5551234"}},
      {"rejected by the router: ended within the hold-back, never announced",
       {"0 nmbr@2 5551234", "0 complete@2", "200 nocarrier@2", "5000 until"},
       {"200: call ended on line 2"}},
      {"answered while announced: the announcement ends, and nothing more of the call",
       {"0 nmbr@2 5551234", "0 complete@2", "4000 answered@2", "4500 exit 99", "6000 nocarrier@2", "30000 until"},
       {"1000: call from 5551234 on line 2", "1000 start 5551234", "4000: call answered on line 2", "4000 end"}},
      {"answered within the hold-back: never announced",
       {"0 nmbr@2 5551234", "0 complete@2", "500 answered@2", "5000 until"},
       {"500: call answered on line 2"}},
      {"an answer on a line without a call is nothing",
       {"0 nmbr@2 1", "0 complete@2", "100 answered@3", "1500 until"},
       {"1000: call from 1 on line 2", "1000 start 1"}},
      {"two calls at once: each held from its own beginning, the newer takes over",
       {"0 nmbr@1 111", "0 complete@1", "300 nmbr@2 222", "300 complete@2", "1400 exit 99", "3000 answered@1",
        "4000 nocarrier@2", "4100 exit 99"},
       {"1000: call from 111 on line 1", "1000 start 111", "1300: call on line 2 takes over the announcement",
        "1300 end", "1400: call from 222 on line 2", "1400 start 222", "3000: call answered on line 1",
        "4000: call ended on line 2", "4000 end"}},
      {"neither answered nor ended: the ring time-out ends it",
       {"0 nmbr@2 1", "0 complete@2", "9000 exit 99"},
       {"1000: call from 1 on line 2", "1000 start 1", "8000: call ended on line 2", "8000 end"}},
      {"withheld: an empty number is announced as unknown",
       {"0 nmbr@0 ", "0 complete@0", "1000 until"},
       {"1000: call from Unknown on line 0", "1000 start Unknown"}},
      {"the hold-back outlasts a modem's block completion too",
       {"0 ring", "100 nmbr 5551234", "1500 until"},
       {"1000: call from 5551234", "1000 start 5551234"}},
  };
  for (const Case& c : cases) {
    CallTracker tracker(TrackerSettings{8000, 500, 10000, 1000});
    EXPECT_EQ(Play(tracker, c.steps), c.trace) << c.name;
  }
  // A call the router rejected within the hold-back does not count as a
  // call for --once.
  CallTracker rejected(TrackerSettings{8000, 500, 10000, 1000});
  Play(rejected, {"0 nmbr@2 1", "0 complete@2", "200 nocarrier@2", "5000 until"});
  EXPECT_EQ(rejected.CallsEnded(), 0);
  // Answered calls count as ended, so --once ends after one.
  CallTracker tracker(TrackerSettings{8000, 500, 10000, 1000});
  Play(tracker, {"0 nmbr@2 1", "0 complete@2", "1500 answered@2", "1600 exit 99"});
  EXPECT_EQ(tracker.CallsEnded(), 1);
  EXPECT_FALSE(InCall(tracker, 1600));
  EXPECT_FALSE(tracker.AnnouncerBusy());
}

TEST(CallTrackerTest, WhatTheLoopAsks) {
  // --once ends when a call has ended and no announcer runs any more.
  CallTracker tracker(WithRingTimeout(1000));
  EXPECT_FALSE(tracker.NextDeadline().has_value());  // idle: poll sleeps without a time-out
  tracker.OnEvent(CallEvent{CallEvent::kRing, "", ""}, 0);
  tracker.OnEvent(CallEvent{CallEvent::kNumber, "5551234", ""}, 100);
  EXPECT_TRUE(InCall(tracker, 100));
  EXPECT_EQ(tracker.NextDeadline(), Millis{600});
  tracker.OnTimer(600);
  EXPECT_TRUE(tracker.AnnouncerBusy());
  EXPECT_EQ(tracker.NextDeadline(), Millis{1100});
  tracker.OnEvent(CallEvent{CallEvent::kCallEnded, "", ""}, 800);
  EXPECT_FALSE(InCall(tracker, 800));
  EXPECT_EQ(tracker.CallsEnded(), 1);
  EXPECT_TRUE(tracker.AnnouncerBusy());
  EXPECT_EQ(tracker.NextDeadline(), Millis{10800});
  tracker.OnAnnouncerExited(AnnouncerExit{AnnouncerExit::kExited, 99}, 900);
  EXPECT_FALSE(tracker.AnnouncerBusy());
  EXPECT_FALSE(tracker.NextDeadline().has_value());
}

}  // namespace
}  // namespace annc
