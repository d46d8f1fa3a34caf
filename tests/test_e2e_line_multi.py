"""End-to-end: one real annc-line with several sources at once, the real
annc announcing their calls one at a time.

The emulated modem (a pseudo-terminal) and the fake NCID server on
127.0.0.1 are given to the same annc-line; a call on each is announced, the
newer taking over, and each call's row in the history (--history, in the
sandbox) and line in annc's calls log keep their own source.  A FRITZ!Box
beside an NCID server takes --only-to for itself: the server's calls are
still announced.
"""

import time

from fritz_box import disconnect_line, ring_line
from modem_emulator import north_american_block
from ncid_server import cid_line, cidinfo_line
from test_e2e_line_history import HistoryCase

# annc notices the end of a call at its next look at the line.
END_MARGIN = 3.0
WHOLE_CYCLE = 14            # words: more than a cycle of a 7-digit number


class SeveralSourcesTest(HistoryCase):

    def words(self, sb, call):
        played = self.calls_played(sb)
        return len(played[call]) if len(played) > call else 0

    def test_a_modem_call_and_a_servers_call_each_with_its_source(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        server = self.ncid_server()
        ncid = "ncid:127.0.0.1:%d" % server.port
        modem = "modem:" + emu.link
        run = self.run_line(sb, emu, [server.address], ring_timeout=8)
        run.wait_status("connected to NCID server")
        path = self.history_path(sb)

        # The modem's call, announced; then the server's, which takes over.
        emu.play(north_american_block("5551234", "ANN LEE"))
        emu.ring_until(lambda: self.words(sb, 0) >= 3, gap=0.4, limit=20)
        server.send_line(cid_line("5559876", "BOB", line="POTS"))
        run.wait_status("call on line POTS via %s takes over the "
                        "announcement" % ncid)
        ring = 1
        deadline = time.monotonic() + 30
        while self.words(sb, 1) < WHOLE_CYCLE and time.monotonic() < deadline:
            server.send_line(cidinfo_line(ring, "POTS"))
            emu.ring()
            ring += 1
            time.sleep(0.4)
        # Each call ends by its own source's word.
        server.send_line(cidinfo_line(0, "POTS"))
        run.wait_status("call ended on line POTS via " + ncid,
                        timeout=END_MARGIN + 2)
        self.assertNotIn("call ended via " + modem, run.stderr())
        emu.send_line("NO CARRIER")
        run.wait_status("call ended via " + modem, timeout=END_MARGIN + 2)
        run.wait_for(lambda: run.announcers() == [], "the announcers' end",
                     END_MARGIN + 2)

        status = run.stderr()
        self.assertIn("call from 5551234 (ANN LEE) via %s\n" % modem, status)
        self.assertIn("call from 5559876 (BOB) on line POTS via %s\n" % ncid,
                      status)
        rows = self.wait_rows(path, 2)
        self.assertEqual(
            [(r["source"], r["line"], r["number"], r["announced"],
              r["answered"]) for r in rows],
            [(modem, "", "5551234", 1, None),
             (ncid, "POTS", "5559876", 1, None)])
        for row in rows:
            self.assertTimes(row, run.t_start, time.time())
        self.assertEqual(self.calls_logged(sb),
                         [b"5551234 - Ann Lee", b"5559876 - Bob"])
        # Two announcements, the second heard whole (annc's log says which
        # number each was given).
        calls = self.calls_played(sb)
        self.assertEqual(len(calls), 2, calls)
        self.assertGreaterEqual(len(calls[1]), WHOLE_CYCLE, calls)
        run.signal(15)
        self.assertExitCode(run, 0)

    def test_only_to_is_the_boxs_alone(self):
        sb = self.sandbox()
        box = self.fritz_box()
        server = self.ncid_server()
        run = self.run_line(sb, box, ["--only-to", "5559876", server.address],
                            ring_timeout=None, wait_ready=False)
        run.wait_status("connected to NCID server")
        run.wait_status("connected to FRITZ!Box")
        path = self.history_path(sb)
        # A box's call to another own number: dropped.
        box.send_line(ring_line(2, "5550000", "5551111", "SIP1"))
        box.send_line(disconnect_line(2, 0))
        # The server's call, of which no own number is known: announced.
        server.send_line(cid_line("5551234", "ANN LEE", line="POTS"))
        run.wait_for(lambda: self.words(sb, 0) >= 3, "3 words")
        server.send_line(cidinfo_line(0, "POTS"))
        run.wait_status("call ended on line POTS via ncid:127.0.0.1:%d"
                        % server.port, timeout=END_MARGIN + 2)
        rows = self.wait_rows(path, 1)
        self.assertEqual([(r["source"], r["number"]) for r in rows],
                         [("ncid:127.0.0.1:%d" % server.port, "5551234")])
        self.assertNotIn("5550000", run.stderr())
