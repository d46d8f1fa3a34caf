#include "line/sources/server/ncid_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace annc {
namespace {

using V = std::vector<std::string>;

const std::string kStartup =
    "200 Server: ncidd (NCID) 1.17\r\n210 API: 1.11 Feature Set 1 2 3 4\r\n300 End of connection startup\r\n";

// Feeds the chunks one after the other; the trace lists "live" when a chunk
// ended the start-up, and each call event as "KIND@LINE VALUE".
V Feed(NcidSession& session, const V& chunks, V* lines = nullptr) {
  V trace;
  SourceOutput out;
  out.line = [lines](std::string_view line) {
    if (lines != nullptr) lines->emplace_back(line);
  };
  out.status = [](const std::string&) {};
  out.event = [&trace](const CallEvent& e) {
    static const char* const kKinds[] = {"ring", "number", "name", "info", "complete", "ended", "lost"};
    std::string text = std::string(kKinds[e.kind]) + "@" + e.line;
    if (!e.value.empty()) text += " " + e.value;
    trace.push_back(text);
  };
  for (const std::string& chunk : chunks) {
    if (session.Feed(chunk, out)) trace.push_back("live");
  }
  return trace;
}

V Feed(const V& chunks, CallFilter filter = {}) {
  NcidSession session(std::move(filter));
  return Feed(session, chunks);
}

TEST(NcidSessionTest, WhatReachesTheTracker) {
  struct Case {
    const char* name;
    V chunks;
    V trace;
  };
  const Case cases[] = {
      {"nothing before the start-up's end is a call: greeting, history, even a CID line",
       {"200 Server: ncidd\r\nCIDLOG: *DATE*12082026*LINE*POTS*NMBR*111*\r\nCID: *LINE*POTS*NMBR*222*\r\n",
        "CIDINFO: *LINE*POTS*RING*1*\r\n250 End of call log\r\n"},
       {}},
      {"a call after the start-up: number, name and the end of its record at once",
       {kStartup, "CID: *DATE*12082026*TIME*1530*LINE*POTS*NMBR*5551234*MESG*NONE*NAME*ANN LEE*\r\n"},
       {"live", "number@POTS 5551234", "name@POTS ANN LEE", "complete@POTS"}},
      {"NCID's marks for no name are left out; an unknown number is passed on as sent",
       {kStartup, "CID: *LINE*A*NMBR*OUT-OF-AREA*NAME*NO NAME*\r\nCID: *LINE*B*NMBR*PRIVATE*NAME*-*\r\n",
        "CID: *NMBR*5551234*\r\n"},
       {"live", "number@A OUT-OF-AREA", "complete@A", "number@B PRIVATE", "complete@B", "number@ 5551234",
        "complete@"}},
      {"CIDINFO: rings above 0, ends at 0, -1, -2, -3; per line",
       {kStartup, "CIDINFO: *LINE*POTS*RING*1*TIME*15:30:20*\r\nCIDINFO: *LINE*POTS*RING*2*\r\n"
                  "CIDINFO: *LINE*POTS*RING*0*\r\nCIDINFO: *LINE*SIP*RING*-1*\r\nCIDINFO: *LINE*SIP*RING*-2*\r\n"
                  "CIDINFO: *LINE*SIP*RING*-3*\r\nCIDINFO: *LINE*SIP*RING*x*\r\n"},
       {"live", "ring@POTS", "ring@POTS", "ended@POTS", "ended@SIP", "ended@SIP", "ended@SIP"}},
      {"other line types, later greetings and a second 300 are nothing",
       {kStartup, "MSG: hello\r\nHUP: *NMBR*1*\r\nBLK: *NMBR*1*\r\nOUT: *NMBR*1*\r\nNOT: x\r\nPID: *NMBR*1*\r\n",
        "WID: *NMBR*1*\r\nXYZ: *NMBR*1*\r\n300 End of connection startup\r\n\n\r\n"},
       {"live"}},
      {"bytes split anywhere, lines ending in CR, LF or CR LF",
       {"300 End of conn", "ection startup\r", "\nCID: *LINE*2*NM", "BR*5551234*\n", "CIDINFO: *LINE*2*RING*0*\r"},
       {"live", "number@2 5551234", "complete@2", "ended@2"}},
      {"a line over 1024 bytes is cut there and its rest dropped",
       {kStartup, "CID: *NMBR*5551234*NAME*" + std::string(2000, 'X') + "*\r\n", "CIDINFO: *LINE*A*RING*1*\r\n"},
       {"live", "number@ 5551234", "complete@", "ring@A"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Feed(c.chunks), c.trace) << c.name;
}

TEST(NcidSessionTest, OnlySomeLines) {
  // --only-line: the calls and ring progress of other lines never reach
  // the tracker (a lone CIDINFO ring would otherwise begin a call).
  const V chunks = {kStartup, "CID: *LINE*POTS*NMBR*111*\r\nCID: *LINE*VOIP*NMBR*222*\r\nCID: *NMBR*333*\r\n",
                    "CIDINFO: *LINE*POTS*RING*1*\r\nCIDINFO: *LINE*VOIP*RING*1*\r\nCIDINFO: *LINE*VOIP*RING*0*\r\n"};
  EXPECT_EQ(Feed(chunks, CallFilter{{}, {"voip"}}), (V{"live", "number@VOIP 222", "complete@VOIP", "ring@VOIP",
                                                      "ended@VOIP"}));
  EXPECT_EQ(Feed(chunks, CallFilter{{}, {"POTS", "VOIP"}}),
            (V{"live", "number@POTS 111", "complete@POTS", "number@VOIP 222", "complete@VOIP", "ring@POTS", "ring@VOIP",
               "ended@VOIP"}));
  EXPECT_EQ(Feed(chunks, CallFilter{{}, {"ISDN"}}), V{"live"});
}

TEST(NcidSessionTest, EveryLineIsShownAndTheLongestIsBounded) {
  NcidSession session;
  V lines;
  Feed(session, {kStartup, "CIDLOG: *NMBR*1*\r\n"}, &lines);
  EXPECT_EQ(lines, (V{"200 Server: ncidd (NCID) 1.17", "210 API: 1.11 Feature Set 1 2 3 4",
                      "300 End of connection startup", "CIDLOG: *NMBR*1*"}));
  // A megabyte without a line end holds no more than one line's bytes.
  for (int i = 0; i < 256; ++i) {
    Feed(session, {std::string(4096, 'Y')}, &lines);
    ASSERT_LE(session.pending(), NcidSession::kMaxLine);
  }
  Feed(session, {"\r\n"}, &lines);
  EXPECT_EQ(lines.back(), std::string(NcidSession::kMaxLine, 'Y'));
  EXPECT_EQ(session.pending(), 0u);
}

TEST(NcidSessionTest, AnOverlongNumberIsCutAndCounted) {
  // A CID line whose NMBR has no closing '*' within kMaxLine gives a call
  // without a number (the pair is left out); the session counts the cut,
  // holds no more than one line, and goes on with the next line.
  const std::string cid = "CID: *DATE*1209*TIME*2300*LINE*-*NMBR*";
  const std::string megabyte(1 << 20, 'j');
  struct Case {
    const char* name;
    V chunks;
    V trace;
    std::size_t cuts;
  };
  const Case cases[] = {
      {"1 MB of junk after NMBR, no line end", {kStartup, cid, megabyte}, {"live"}, 1},
      {"1 MB of junk after NMBR, then the line end and a call",
       {kStartup, cid + megabyte, "\r\nCID: *LINE*A*NMBR*5551234*\r\n"},
       {"live", "number@-", "complete@-", "number@A 5551234", "complete@A"},
       1},
      {"1 MB of spaces as the number, then the line end",
       {kStartup, cid + std::string(1 << 20, ' ') + "*NAME*ANN*\r\n"},
       {"live", "number@-", "complete@-"},
       1},
      {"two such lines are two cuts", {kStartup, cid + megabyte + "\r\n" + cid + megabyte + "\r\n"},
       {"live", "number@-", "complete@-", "number@-", "complete@-"}, 2},
      {"a line of exactly kMaxLine is no cut",
       {kStartup, cid + std::string(NcidSession::kMaxLine - cid.size() - 1, '1') + "*\r\n"},
       {"live", "number@- " + std::string(NcidSession::kMaxLine - cid.size() - 1, '1'), "complete@-"},
       0},
  };
  for (const Case& c : cases) {
    NcidSession session;
    EXPECT_EQ(Feed(session, c.chunks), c.trace) << c.name;
    EXPECT_EQ(session.cutLines(), c.cuts) << c.name;
    EXPECT_LE(session.pending(), NcidSession::kMaxLine) << c.name;
  }
  // A new connection counts afresh.
  NcidSession session;
  Feed(session, {kStartup, cid + megabyte});
  session.Reset();
  EXPECT_EQ(session.cutLines(), 0u);
}

TEST(NcidSessionTest, ANewConnectionStartsOver) {
  NcidSession session;
  EXPECT_EQ(Feed(session, {kStartup, "CID: *NMBR*11"}), V{"live"});
  EXPECT_TRUE(session.Live());
  session.Reset();
  EXPECT_FALSE(session.Live());
  // The cut line is gone, and calls wait for the new start-up's end.
  EXPECT_EQ(Feed(session, {"1*\r\nCID: *NMBR*222*\r\n"}), V{});
  EXPECT_EQ(Feed(session, {kStartup, "CID: *NMBR*333*\r\n"}), (V{"live", "number@ 333", "complete@"}));
}

}  // namespace
}  // namespace annc
