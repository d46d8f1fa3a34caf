"""End-to-end: calls from a fake NCID server (tests/ncid_server.py, on
127.0.0.1 and a free port), announced by the real annc started by the real
annc-line.

Each test checks what a person would notice: the words annc spoke
(captured through ALSA's file plugin), the lines of annc's log, annc-line's
status lines, and when the announcement ends; and what the server sees.
"""

import os
import signal
import socket
import subprocess
import time
import unittest

from harness import bytes_read, rss_kib
from line_harness import LineTestCase, annc_line_binary
from ncid_server import GREETING, STARTUP_DONE, cid_line, cidinfo_line, \
    free_port

# annc notices the end of the call at its next look at the line, which comes
# after each number spoken: a little over a second in these recordings.
END_MARGIN = 3.0
RING_GAP = 0.4
WHOLE_CYCLE = 14            # words: more than a cycle of a 7-digit number


def version():
    out = subprocess.run([annc_line_binary(), "--version"],
                         capture_output=True, timeout=10).stdout
    return out.decode().split()[1]


def has_ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


class NcidTest(LineTestCase):

    def words(self, sb, call):
        played = self.calls_played(sb)
        return len(played[call]) if len(played) > call else 0

    def ring_until(self, server, done, line="POTS", limit=30.0):
        """CIDINFO rings every RING_GAP seconds until done() holds or
        `limit` seconds have passed."""
        ring, deadline = 1, time.monotonic() + limit
        while not done() and time.monotonic() < deadline:
            server.send_line(cidinfo_line(ring, line))
            ring += 1
            time.sleep(RING_GAP)

    def test_once_announces_a_call_and_ends_at_ring_0(self):
        sb = self.sandbox()
        # History before the start-up's end, a CID line among it: never a call.
        server = self.ncid_server(history=[
            "CIDLOG: *DATE*12082026*TIME*1500*LINE*POTS*NMBR*5559876*"
            "MESG*NONE*NAME*BOB*", cid_line("5559876", "BOB"),
            "250 End of call log"])
        run = self.start(sb, server, ["--once"], ring_timeout=8)
        self.assertEqual(server.hellos, [[
            "HELLO: IDENT: client annc-line " + version(),
            "HELLO: CMD: no_log"]])
        server.send_line(cid_line("5551234", "ANN LEE"))
        self.ring_until(server, lambda: self.words(sb, 0) >= WHOLE_CYCLE)
        server.send_line(cidinfo_line(0))
        ended = time.monotonic()
        self.assertExitCode(run, 0)
        # Ended by the CIDINFO line, long before the 8 s ring time-out.
        self.assertLess(time.monotonic() - ended, END_MARGIN)
        calls = self.calls_played(sb)
        self.assertEqual(len(calls), 1, calls)
        self.assertGreaterEqual(self.full_cycles(
            "5551234", calls[0], run.t_start, run.t_end), 1)
        self.assertEqual(self.calls_logged(sb), [b"5551234 - Ann Lee"])
        status = run.stderr()
        self.assertIn("call from 5551234 (ANN LEE) on line POTS\n", status)
        self.assertEqual(status.count("call from"), 1, status)
        self.assertEqual(status.count("call ended on line POTS"), 1, status)
        self.assertEqual(run.announcers(), [])

    def test_call_without_cidinfo_ends_at_the_ring_timeout(self):
        sb = self.sandbox()
        server = self.ncid_server()
        run = self.start(sb, server)            # ring time-out 1 s
        server.send_line(cid_line("NO-NUMBER", "NO NAME", line="SIP"))
        sent = time.monotonic()
        run.wait_status("call ended on line SIP")
        self.assertGreaterEqual(time.monotonic() - sent, 0.9)
        self.assertLess(time.monotonic() - sent, 2.5)
        run.wait_for(lambda: run.announcers() == [], "announcer gone",
                     END_MARGIN + 2)
        self.assertIn("call from Unknown on line SIP\n", run.stderr())
        self.assertEqual(self.calls_logged(sb), [b"Unknown"])

    def test_a_second_lines_call_takes_over(self):
        sb = self.sandbox()
        server = self.ncid_server()
        run = self.start(sb, server, ring_timeout=8)
        server.send_line(cid_line("5551234", "ANN LEE", line="POTS"))
        self.ring_until(server, lambda: self.words(sb, 0) >= 3)
        server.send_line(cid_line("5559876", "BOB", line="VOIP"))
        # The first line goes on ringing: it takes nothing back.
        self.ring_until(server, lambda: self.words(sb, 1) >= WHOLE_CYCLE)
        server.send_line(cidinfo_line(0, "VOIP"))
        server.send_line(cidinfo_line(-1, "POTS"))
        run.wait_status("call ended on line VOIP")
        run.wait_status("call ended on line POTS")
        run.wait_for(lambda: run.announcers() == [], "announcer gone",
                     END_MARGIN + 2)
        status = run.stderr()
        self.assertIn("call on line VOIP takes over the announcement",
                      status)
        self.assertEqual(status.count("call from"), 2, status)
        self.assertEqual(self.calls_logged(sb),
                         [b"5551234 - Ann Lee", b"5559876 - Bob"])
        calls = self.calls_played(sb)
        self.assertEqual(len(calls), 2, calls)
        self.assertGreaterEqual(self.full_cycles(
            "5559876", calls[1], run.t_start, time.time()), 1)

    def test_server_goes_away_and_comes_back(self):
        sb = self.sandbox()
        server = self.ncid_server()
        run = self.start(sb, server, ring_timeout=8)
        server.send_line(cid_line("5551234", "ANN LEE"))
        self.ring_until(server, lambda: self.words(sb, 0) >= 3)
        server.drop()
        server.stop_listening()
        run.wait_status("connection to NCID server 127.0.0.1:%d lost "
                        "(closed by the server); connecting again"
                        % server.port)
        run.wait_status("call ended on line POTS")
        run.wait_for(lambda: run.announcers() == [], "announcer gone",
                     END_MARGIN + 2)
        time.sleep(1.5)               # an attempt is refused meanwhile
        server.listen()
        server.wait_clients(2, timeout=10)
        run.wait_status("connected to NCID server", 2)
        self.assertEqual(server.hellos[1], server.hellos[0])
        server.send_line(cid_line("5559876", "BOB"))
        self.ring_until(server, lambda: self.words(sb, 1) >= WHOLE_CYCLE)
        server.send_line(cidinfo_line(0))
        run.wait_status("call ended on line POTS", 2)
        self.assertEqual(run.stderr().count("lost"), 1, run.stderr())
        self.assertEqual(self.calls_logged(sb),
                         [b"5551234 - Ann Lee", b"5559876 - Bob"])
        self.assertGreaterEqual(self.full_cycles(
            "5559876", self.calls_played(sb)[1], run.t_start, time.time()),
            1)

    def test_a_megabyte_without_a_line_end_keeps_memory_flat(self):
        sb = self.sandbox()
        server = self.ncid_server()
        run = self.start(sb, server, ring_timeout=8)
        before_rss, before_read = rss_kib(run.pid), bytes_read(run.pid)
        junk = b"CID: *NMBR*5550000*NAME*" + b"X" * (1 << 20)
        for i in range(0, len(junk), 1 << 16):
            server.send(junk[i:i + (1 << 16)])
        run.wait_for(lambda: bytes_read(run.pid) - before_read >= len(junk),
                     "the megabyte read")
        grown = rss_kib(run.pid) - before_rss
        self.assertLess(grown, 256, "VmRSS grew by %d KiB" % grown)
        # Said once, naming the server, before the line has ended.
        run.wait_status(" sent a line longer than 1024 bytes; it was cut there")
        # The cut line (its name pair never closed) is still a call, and
        # the next line is read as usual.
        server.send(b"\r\n")
        run.wait_status("call from 5550000\n")
        self.assertEqual(run.stderr().count(" sent a line longer than"), 1, run.stderr())
        server.send_line(cidinfo_line(0, ""))
        run.wait_status("call ended")
        self.assertIsNone(run.proc.poll())

    def test_refused_at_start(self):
        sb = self.sandbox()
        port = free_port()
        run = self.start(sb, "ncid:127.0.0.1:%d" % port, wait_ready=False)
        self.assertExitCode(run, 1, timeout=15)
        self.assertEqual(run.stderr(), "annc-line: ncid:127.0.0.1:%d: cannot "
                         "connect: Connection refused\n" % port)

    def test_host_unknown_at_start(self):
        # An empty label: the resolver turns the name down without sending
        # a query, so no network is needed to see the failure.
        sb = self.sandbox()
        run = self.start(sb, "ncid:no..such.host", wait_ready=False)
        self.assertExitCode(run, 1, timeout=15)
        stderr = run.stderr()
        self.assertTrue(stderr.startswith(
            "annc-line: ncid:no..such.host: cannot find the host: "),
            stderr)
        self.assertEqual(stderr.count("\n"), 1, stderr)

    @unittest.skipUnless(has_ipv6_loopback(), "no IPv6 loopback here")
    def test_ipv6_server(self):
        sb = self.sandbox()
        server = self.ncid_server(host="::1")
        run = self.start(sb, server, ["--once"], ring_timeout=8)
        self.assertIn("connected to NCID server [::1]:%d\n" % server.port,
                      run.stderr())
        server.send_line(cid_line("5559876", "BOB", line="1"))
        run.wait_status("call from 5559876 (BOB) on line 1")
        server.send_line(cidinfo_line(-2, "1"))
        self.assertExitCode(run, 0)
        self.assertEqual(self.calls_logged(sb), [b"5559876 - Bob"])

    def test_systemd_told_when_ready_and_when_stopping(self):
        """Run as a Type=notify service: READY=1 with the status once the
        server's start-up has ended, STOPPING=1 at a SIGTERM."""
        sb = self.sandbox()
        path = os.path.join(sb.root, "notify")
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.addCleanup(listener.close)
        listener.bind(path)
        listener.settimeout(10)
        plain_env = sb.env
        sb.env = lambda *a, **k: dict(plain_env(*a, **k), NOTIFY_SOCKET=path)
        server = self.ncid_server()
        run = self.start(sb, server)
        messages = []
        while not any("READY=1" in m for m in messages):
            messages.append(listener.recv(4096).decode())
        ready = [m for m in messages if "READY=1" in m][0].split("\n")
        self.assertIn("STATUS=connected to 127.0.0.1:%d" % server.port, ready)
        run.signal(signal.SIGTERM)
        self.assertExitCode(run, 0, timeout=5)
        while not any("STOPPING=1" in m for m in messages):
            messages.append(listener.recv(4096).decode())

    def test_check_prints_every_line(self):
        sb = self.sandbox()
        history = ["CIDLOG: *NMBR*5559876*NAME*BOB*", "250 End of call log"]
        server = self.ncid_server(history=history)
        run = self.start(sb, server, ["--check"])
        call = cid_line("5551234", "EVIL\x1b]0;title\x07")
        server.send_line(call)
        run.wait_for(lambda: "decision: " in run.stdout(), "the call shown")
        run.signal(signal.SIGINT)
        self.assertExitCode(run, 0, timeout=5)
        # The control bytes at the name's end are not part of it.
        self.assertEqual(run.stdout().splitlines(), list(GREETING) + history + [
            STARTUP_DONE, call.replace("\x1b", "^[").replace("\x07", "^G"),
            "decision: call from 5551234 (EVIL^[]0;title): announce"])
        self.assertEqual(self.calls_played(sb), [])     # no announcer

    def test_c1_controls_of_the_name_in_the_status_line(self):
        # CSI is the byte 0x9b in the C locale and U+009B (C2 9B) in a UTF-8
        # one: shown as M-^[ in the status line and the line --check
        # prints; a letter or an invalid byte of that locale passes.
        cases = [
            ("C", "EVIL\x9b2J\x85\xc2\xe9", "EVILM-^[2JM-^E\xc2\xe9"),
            ("C.UTF-8", "EVIL\xc2\x9b2J\xc2\x85\x9b\xc3\xa9",
             "EVILM-^[2JM-^E\x9b\xc3\xa9"),
        ]
        for locale, name, shown in cases:
            with self.subTest(locale=locale):
                sb = self.sandbox()
                server = self.ncid_server(history=["250 End of call log"])
                run = self.start(sb, server, ["--check"],
                                 env=sb.env(extra={"LC_ALL": locale}))
                call = cid_line("5551234", name)
                server.send_line(call)
                run.wait_for(lambda: "decision: " in run.stdout(),
                             "the call shown")
                run.signal(signal.SIGINT)
                self.assertExitCode(run, 0, timeout=5)
                self.assertIn("call from 5551234 (%s) on line POTS\n"
                              % shown, run.stderr())
                self.assertNotIn("\x9b2J", run.stderr())
                lines = run.stdout().splitlines()
                self.assertIn(call.replace(name, shown), lines)
                self.assertIn("decision: call from 5551234 (%s): announce"
                              % shown, lines)


if __name__ == "__main__":
    unittest.main()
