#include "line/sources/server/fritz_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace annc {
namespace {

using V = std::vector<std::string>;

// Feeds the chunks one after the other; the trace lists each call event as
// "KIND@LINE VALUE".
// The trace of the call events (the dialled number and the line's name
// only with `withLine`).
V Feed(FritzSession& session, const V& chunks, V* lines = nullptr, bool withLine = false) {
  V trace;
  SourceOutput out;
  out.line = [lines](std::string_view line) {
    if (lines != nullptr) lines->emplace_back(line);
  };
  out.status = [](const std::string&) {};
  out.event = [&trace, withLine](const CallEvent& e) {
    static const char* const kKinds[] = {"ring",  "number",   "name",   "info",  "complete",
                                         "ended", "lost",     "answered", "called", "label"};
    if (!withLine && (e.kind == CallEvent::kCalledNumber || e.kind == CallEvent::kLineLabel)) return;
    std::string text = std::string(kKinds[e.kind]) + "@" + e.line;
    if (!e.value.empty()) text += " " + e.value;
    trace.push_back(text);
  };
  for (const std::string& chunk : chunks) EXPECT_FALSE(session.Feed(chunk, out));
  return trace;
}

V Feed(const V& chunks, CallFilter filter = {}) {
  FritzSession session(std::move(filter));
  return Feed(session, chunks);
}

std::string Ring(const char* id, const char* caller, const char* called = "5559876", const char* trunk = "SIP0") {
  return std::string("09.12.26 15:17:43;RING;") + id + ";" + caller + ";" + called + ";" + trunk + ";\n";
}
std::string Connect(const char* id) { return std::string("09.12.26 15:17:47;CONNECT;") + id + ";4;5551234;\n"; }
std::string Disconnect(const char* id) { return std::string("09.12.26 15:17:50;DISCONNECT;") + id + ";3;\n"; }

TEST(FritzSessionTest, WhatReachesTheTracker) {
  struct Case {
    const char* name;
    V chunks;
    V trace;
  };
  const Case cases[] = {
      {"a call answered and ended: its number and whole record at once, then the answer",
       {Ring("2", "5551234"), Connect("2"), Disconnect("2")},
       {"number@2 5551234", "complete@2", "answered@2"}},
      {"a call nobody answers, or the box rejects",
       {Ring("2", "5551234"), Disconnect("2")},
       {"number@2 5551234", "complete@2", "ended@2"}},
      {"withheld: an empty number", {Ring("0", "")}, {"number@0", "complete@0"}},
      {"two calls at once, each on its own connection",
       {Ring("1", "111") + Ring("2", "222"), Connect("2"), Disconnect("1"), Disconnect("2")},
       {"number@1 111", "complete@1", "number@2 222", "complete@2", "answered@2", "ended@1"}},
      {"connections never seen ringing, and outgoing calls, are nothing",
       {Connect("5"), Disconnect("5"), "09.12.26 18:20:59;CALL;0;12;5559876;5552222;SIP0;\n", Connect("0"),
        Disconnect("0")},
       {}},
      {"an ID rung again is a new call: the one before it is over",
       {Ring("3", "111"), Ring("3", "222"), Disconnect("3"), Disconnect("3")},
       {"number@3 111", "complete@3", "ended@3", "number@3 222", "complete@3", "ended@3"}},
      {"CR LF, bytes split anywhere, junk and blank lines between",
       {"09.12.26 15:17:43;RI", "NG;2;555", "1234;5559876;SIP0;\r", "\n\r\ngarbage;;\r\n\n", "09.12.26 15:17:50;DIS",
        "CONNECT;2;0;\r\n"},
       {"number@2 5551234", "complete@2", "ended@2"}},
      {"a line over 1024 bytes is cut there and its rest dropped",
       {"09.12.26 15:17:43;RING;4;5551234;5559876;" + std::string(2000, 'X') + ";\n", Disconnect("4")},
       {"number@4 5551234", "complete@4", "ended@4"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Feed(c.chunks), c.trace) << c.name;
}

TEST(FritzSessionTest, TheDialledNumberAndTheLineGoWithTheNumber) {
  FritzSession session{CallFilter{}};
  EXPECT_EQ(Feed(session, {Ring("2", "5551234", "5559876", "SIP1"), Ring("3", "", "", "")}, nullptr, true),
            (V{"number@2 5551234", "called@2 5559876", "label@2 SIP1", "complete@2", "number@3", "complete@3"}));
}

TEST(FritzSessionTest, OnlySomeCalls) {
  // A dropped RING leaves its connection unseen: its CONNECT and DISCONNECT
  // are nothing either.
  struct Case {
    const char* name;
    CallFilter filter;
    V trace;
  };
  const V calls = {Ring("1", "111", "5559876", "SIP0"), Ring("2", "222", "5550000", "SIP1"), Connect("1"),
                   Connect("2"), Disconnect("1"), Disconnect("2")};
  const Case cases[] = {
      {"no filter", {}, {"number@1 111", "complete@1", "number@2 222", "complete@2", "answered@1", "answered@2"}},
      {"--only-to one number", {{"5559876"}, {}}, {"number@1 111", "complete@1", "answered@1"}},
      {"--only-to the other", {{"555-0000"}, {}}, {"number@2 222", "complete@2", "answered@2"}},
      {"--only-to neither", {{"5551111"}, {}}, {}},
      {"--only-line on the trunk", {{}, {"sip1"}}, {"number@2 222", "complete@2", "answered@2"}},
      {"both must match", {{"5559876"}, {"SIP1"}}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Feed(calls, c.filter), c.trace) << c.name;
}

TEST(FritzSessionTest, EveryLineIsShownAndMemoryIsBounded) {
  FritzSession session;
  V lines;
  Feed(session, {Ring("2", "5551234"), "junk\r\n", "09.12.26 18:20:59;CALL;0;12;5559876;5552222;SIP0;\n"}, &lines);
  EXPECT_EQ(lines, (V{"09.12.26 15:17:43;RING;2;5551234;5559876;SIP0;", "junk",
                      "09.12.26 18:20:59;CALL;0;12;5559876;5552222;SIP0;"}));
  // A megabyte without a line end holds no more than one line's bytes.
  for (int i = 0; i < 256; ++i) {
    Feed(session, {std::string(4096, 'Y')}, &lines);
    ASSERT_LE(session.pending(), FritzSession::kMaxLine);
  }
  Feed(session, {"\n"}, &lines);
  EXPECT_EQ(lines.back(), std::string(FritzSession::kMaxLine, 'Y'));
  EXPECT_EQ(session.pending(), 0u);

  // Rings whose DISCONNECT never comes: the oldest connections are
  // forgotten, the newest still followed.
  FritzSession rings;
  V chunks;
  for (int i = 0; i < 100; ++i) chunks.push_back(Ring(std::to_string(i).c_str(), "1"));
  Feed(rings, chunks);
  EXPECT_EQ(Feed(rings, {Disconnect("0"), Disconnect("83"), Disconnect("84"), Disconnect("99")}),
            (V{"ended@84", "ended@99"}));
}

TEST(FritzSessionTest, ANewConnectionStartsOver) {
  FritzSession session;
  EXPECT_TRUE(session.Live());
  EXPECT_EQ(Feed(session, {Ring("2", "5551234"), "09.12.26 15:17:43;RING;3;55"}),
            (V{"number@2 5551234", "complete@2"}));
  session.Reset();
  EXPECT_TRUE(session.Live());
  // The cut line is gone, and the calls of the last connection with it.
  EXPECT_EQ(Feed(session, {"5;1;SIP0;\n", Disconnect("2"), Ring("3", "777")}), (V{"number@3 777", "complete@3"}));
}

}  // namespace
}  // namespace annc
