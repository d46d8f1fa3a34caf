#include "line/sources/server/server_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "line/sources/server/fritz_line.h"
#include "line/sources/server/fritz_session.h"
#include "line/sources/server/ncid_session.h"
#include "posix/fake_line_system.h"

namespace annc {
namespace {

constexpr char kNcidGreeting[] = "200 Server: ncidd\r\n300 End of connection startup\r\n";
constexpr char kWebServer[] = "HTTP/1.1 400 Bad Request\r\n";
constexpr char kNcidLost[] = ": connection to NCID server server:3333 lost (closed by the server); connecting again";
constexpr char kNcidNoServer[] = ": ncid:server: not an NCID server (its first line is no greeting); connecting again";
constexpr char kBoxLost[] = ": connection to FRITZ!Box box:1012 lost (closed by the server); connecting again";
constexpr char kBoxConnected[] = ": connected to FRITZ!Box box:1012";

struct Scenario {
  const char* name;
  const ServerKind* kind;
  std::function<void(FakeLineSystem&)> script;
  Millis until;                      // the run ends here
  std::vector<std::string> inOrder;  // these, in this order
  std::vector<std::string> never = {};  // and none of these
  std::vector<std::pair<std::string, int>> counts = {};  // lines that appear exactly so often, at any time
};

// Runs a client of the scenario's server on the fake until `until` or its
// start fails, waiting and calling it back as annc-line's event loop does.
// The trace gets the client's status and service lines, "lost" for each
// kSourceLost and "failed: TEXT" for a start that failed.
std::vector<std::string> Run(const Scenario& scenario) {
  FakeLineSystem fake;
  scenario.script(fake);
  std::unique_ptr<ServerSession> session;
  if (scenario.kind->protocol == ServerKind::kFritz) {
    session = std::make_unique<FritzSession>();
  } else {
    session = std::make_unique<NcidSession>();
  }
  const bool ncid = scenario.kind == &kNcidServer;
  ServerClient client(ServerSource{scenario.kind, ncid ? "server" : "box", ncid ? 3333 : 1012},
                      ncid ? "ncid:server" : "fritz:box", "1.0", Charset::kSingleByte, *session, fake);
  SourceOutput out;
  out.event = [&fake](const CallEvent& event) {
    if (event.kind == CallEvent::kSourceLost) fake.trace.push_back(std::to_string(fake.now) + " lost");
  };
  out.line = [](std::string_view) {};
  out.status = [&fake](const std::string& text) { fake.Status(text); };
  out.service = [&fake](const std::string& text, bool ready) { fake.Service(text, ready); };
  client.Begin(fake.now, out);
  while (fake.now < scenario.until && client.startup() != CallSource::kFailed) {
    std::optional<Millis> deadline = client.NextDeadline();
    if (!deadline || *deadline > scenario.until) deadline = scenario.until;
    std::vector<Watch> watches;
    if (client.handle() >= 0) watches.push_back(Watch{client.handle(), client.WantsWritable(), false});
    fake.Wait(&watches, deadline);
    if (!watches.empty() && watches[0].ready) client.OnReady(fake.now, out);
    client.OnTimer(fake.now, out);
  }
  if (client.startup() == CallSource::kFailed) {
    fake.trace.push_back(std::to_string(fake.now) + " failed: " + client.FailureText());
  }
  return fake.trace;
}

// How many lines of the trace end in `text`, at whatever time.
int Count(const std::vector<std::string>& trace, const std::string& text) {
  return static_cast<int>(std::count_if(trace.begin(), trace.end(), [&text](const std::string& line) {
    return line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0;
  }));
}

void Play(const std::vector<Scenario>& scenarios) {
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    std::vector<std::string> trace = Run(scenario);
    EXPECT_TRUE(InOrder(trace, scenario.inOrder)) << Shown(trace);
    for (const std::string& line : scenario.never) {
      EXPECT_EQ(std::find(trace.begin(), trace.end(), line), trace.end()) << line << "\n" << Shown(trace);
    }
    for (const auto& [text, times] : scenario.counts) {
      EXPECT_EQ(Count(trace, text), times) << text << "\n" << Shown(trace);
    }
  }
}

TEST(ServerClientTest, FritzBoxLostAndFound) {
  Play({
      {"after a reconnection, the next loss is tried again after 1 s",
       &kFritzBox,
       [](FakeLineSystem& f) {
         f.At(5000, [&f] {
           f.connects = {ECONNREFUSED, ECONNREFUSED};
           f.ServerCloses();
         });
         f.At(20000, [&f] { f.ServerCloses(); });
       },
       30000,
       {"0 connect", "0" + std::string(kBoxConnected), "5000" + std::string(kBoxLost), "6000 connect", "8000 connect",
        "12000 connect", "12000" + std::string(kBoxConnected), "20000 disconnect", "21000 connect",
        "21000" + std::string(kBoxConnected)},
       {"28000 connect"}},
      {"lost, found, lost again: each loss said",
       &kFritzBox,
       [](FakeLineSystem& f) {
         f.At(5000, [&f] { f.ServerCloses(); });
         f.At(9000, [&f] { f.ServerCloses(); });
       },
       12000,
       {"5000" + std::string(kBoxLost), "5000 service connecting again to box:1012", "5000 lost",
        "6000" + std::string(kBoxConnected), "6000 ready connected to box:1012", "9000" + std::string(kBoxLost),
        "9000 service connecting again to box:1012", "9000 lost", "10000" + std::string(kBoxConnected)},
       {},
       {{kBoxLost, 2}, {kBoxConnected, 3}, {" lost", 2}}},
      {"down for a while twice: each outage said once, however many attempts fail",
       &kFritzBox,
       [](FakeLineSystem& f) {
         f.At(5000, [&f] { f.ServerDown(ECONNREFUSED); });
         f.At(12500, [&f] { f.ServerBack(); });
         f.At(25000, [&f] { f.ServerDown(ECONNREFUSED); });
         f.At(27500, [&f] { f.ServerBack(); });
       },
       35000,
       {"5000" + std::string(kBoxLost), "6000 connect", "8000 connect", "12000 connect", "20000 connect",
        "20000" + std::string(kBoxConnected), "25000" + std::string(kBoxLost), "26000 connect", "28000 connect",
        "28000" + std::string(kBoxConnected)},
       {},
       {{kBoxLost, 2}, {kBoxConnected, 3}}},
  });
}

TEST(ServerClientTest, ConnectionsInProgress) {
  const std::string hint = std::string("; ") + kFritzRefusedHint;
  Play({
      {"an address that never answers is given up after 10 s for the next one",
       &kFritzBox,
       [](FakeLineSystem& f) {
         f.addressCount = 2;
         f.connects = {FakeLineSystem::kInProgress, 0};
       },
       15000,
       {"0 connect 192.0.2.1", "10000 disconnect", "10000 connect 192.0.2.2", "10000" + std::string(kBoxConnected)},
       {"10000 connect 192.0.2.1"}},
      {"at start, no address answers: annc-line cannot start, after 10 s each",
       &kFritzBox,
       [](FakeLineSystem& f) {
         f.addressCount = 2;
         f.connects = {FakeLineSystem::kInProgress, FakeLineSystem::kInProgress};
       },
       60000,
       {"0 connect 192.0.2.1", "10000 connect 192.0.2.2", "20000 disconnect",
        "20000 failed: fritz:box: cannot connect: Connection timed out"},
       {"20000 connect 192.0.2.1"}},
      {"a connection made a while after it was started",
       &kFritzBox,
       [](FakeLineSystem& f) {
         f.connects = {FakeLineSystem::kInProgress};
         f.At(300, [&f] { f.ConnectionMade(); });
       },
       1000,
       {"0 connect", "300" + std::string(kBoxConnected), "300 ready connected to box:1012"},
       {"0" + std::string(kBoxConnected)}},
      {"an address refused in the end: the next one is tried at once",
       &kFritzBox,
       [](FakeLineSystem& f) {
         f.addressCount = 2;
         f.connects = {FakeLineSystem::kInProgress, 0};
         f.At(500, [&f] { f.ConnectionFails(ECONNREFUSED); });
       },
       1000,
       {"0 connect 192.0.2.1", "500 disconnect", "500 connect 192.0.2.2", "500" + std::string(kBoxConnected)}},
      {"every address refused in the end at start: the line says how to switch the call monitor on",
       &kFritzBox,
       [](FakeLineSystem& f) {
         f.addressCount = 2;
         f.connects = {FakeLineSystem::kInProgress, FakeLineSystem::kInProgress};
         f.At(500, [&f] { f.ConnectionFails(ECONNREFUSED); });
         f.At(700, [&f] { f.ConnectionFails(ECONNREFUSED); });
       },
       5000,
       {"500 connect 192.0.2.2", "700 failed: fritz:box: cannot connect: Connection refused" + hint}},
      {"an NCID server is greeted once the connection is made, then its start-up counts",
       &kNcidServer,
       [](FakeLineSystem& f) {
         f.connects = {FakeLineSystem::kInProgress};
         f.onConnect = [&f] { f.ServerSends(kNcidGreeting); };
         f.At(2000, [&f] { f.ConnectionMade(); });
       },
       3000,
       {"0 connect", "2000 send HELLO: IDENT: client annc-line 1.0", "2000: connected to NCID server server:3333"},
       {"0 send HELLO: IDENT: client annc-line 1.0"}},
      {"later, an address that never answers: given up after 10 s, then the back-off",
       &kNcidServer,
       [](FakeLineSystem& f) {
         f.onConnect = [&f] { f.ServerSends(kNcidGreeting); };
         f.At(5000, [&f] {
           f.connects = {FakeLineSystem::kInProgress};
           f.ServerCloses();
         });
       },
       20000,
       {"5000" + std::string(kNcidLost), "6000 connect", "16000 disconnect", "18000 connect",
        "18000: connected to NCID server server:3333"},
       {"16000 connect"},
       {{kNcidLost, 1}}},
  });
}

TEST(ServerClientTest, NcidPeers) {
  auto greets = [](FakeLineSystem& f) { f.onConnect = [&f] { f.ServerSends(kNcidGreeting); }; };
  auto noServer = [](FakeLineSystem& f) { f.onConnect = [&f] { f.ServerSends(kWebServer); }; };
  Play({
      {"no server, then a real one, then no server again: said both times",
       &kNcidServer,
       [greets, noServer](FakeLineSystem& f) {
         greets(f);
         f.At(5000, [&f, noServer] {
           noServer(f);
           f.ServerCloses();
         });
         f.At(7000, [&f, greets] { greets(f); });
         f.At(10000, [&f, noServer] {
           noServer(f);
           f.ServerCloses();
         });
       },
       12000,
       {"5000" + std::string(kNcidLost), "6000 connect", "6000" + std::string(kNcidNoServer), "8000 connect",
        "8000: connected to NCID server server:3333", "10000" + std::string(kNcidLost), "11000 connect",
        "11000" + std::string(kNcidNoServer)},
       {},
       {{kNcidNoServer, 2}, {kNcidLost, 2}}},
      {"lost and found twice: each loss said, and tried again after 1 s",
       &kNcidServer,
       [greets](FakeLineSystem& f) {
         greets(f);
         f.At(5000, [&f] { f.ServerDown(ECONNREFUSED); });
         f.At(7500, [&f] { f.ServerBack(); });
         f.At(20000, [&f] { f.ServerDown(ECONNREFUSED); });
         f.At(20500, [&f] { f.ServerBack(); });
       },
       25000,
       {"5000" + std::string(kNcidLost), "6000 connect", "8000 connect", "8000: connected to NCID server server:3333",
        "20000" + std::string(kNcidLost), "21000 connect", "21000: connected to NCID server server:3333"},
       {},
       {{kNcidLost, 2}, {": connected to NCID server server:3333", 3}}},
  });
}

TEST(ServerClientTest, AnOverlongLineIsSaidOnceAConnection) {
  const std::string cid = "CID: *DATE*1209*TIME*2300*LINE*-*NMBR*";
  const std::string megabyte(1 << 20, 'j');
  const std::string said =
      ": NCID server server:3333 sent a line longer than 1024 bytes; it was cut there (later ones on this "
      "connection are cut without a word)";
  auto sends = [](std::string bytes) {
    return [bytes](FakeLineSystem& f) {
      f.onConnect = [&f, bytes] { f.ServerSends(kNcidGreeting + bytes); };
    };
  };
  Play({
      {"1 MB after NMBR and no line end: said, and the connection stays", &kNcidServer, sends(cid + megabyte), 5000,
       {"0" + said}, {}, {{said, 1}, {": connected to NCID server server:3333", 1}, {kNcidLost, 0}}},
      {"1 MB of spaces as the number, a line end, then the same again: said once", &kNcidServer,
       sends(cid + std::string(1 << 20, ' ') + "\r\n" + cid + megabyte + "\r\n"), 5000, {"0" + said}, {},
       {{said, 1}}},
      {"lines within the bound: nothing said", &kNcidServer, sends(cid + "5551234*\r\n"), 5000, {}, {}, {{said, 0}}},
      {"said again on a new connection", &kNcidServer,
       [sends, cid, megabyte](FakeLineSystem& f) {
         sends(cid + megabyte)(f);
         f.At(2000, [&f] { f.ServerCloses(); });
       },
       5000, {"0" + said, "2000" + std::string(kNcidLost), "3000" + said}, {}, {{said, 2}}},
  });
}

}  // namespace
}  // namespace annc
