"""End-to-end: calls from a fake FRITZ!Box call monitor (tests/fritz_box.py,
on 127.0.0.1 or ::1 and a free port), announced by the real annc started by
the real annc-line.

Each test checks what a person would notice: the words annc spoke
(captured through ALSA's file plugin), the lines of annc's log, annc-line's
status lines, when the announcement starts and ends, and whether an
announcer ran at all.  annc-line runs with its own ring time-out for a box
(120 s) unless a test says otherwise, so every call here ends by what the
box sends.
"""

import signal
import socket
import time
import unittest

from fritz_box import (call_line, connect_line, disconnect_line, free_port,
                       ring_line)
from harness import bytes_read, rss_kib, wait_until
from line_harness import LineTestCase

# annc notices the end of the call at its next look at the line, which comes
# after each number spoken: well under a second in these recordings.
END_MARGIN = 3.0
# A CONNECT (somebody answered) must silence the announcer within this.
ANSWERED_WITHIN = 1.0
# annc-line holds a call back this long after its RING.
HOLD_BACK = 1.0
WHOLE_CYCLE = 14            # words: more than a cycle of a 7-digit number
UNKNOWN_CYCLE = 6           # words: the time, "no number" and separators
MODEM_RING_TIMEOUT = 8.0    # a modem's default, far too short for a box
REFUSED_HINT = ("switch the call monitor on by dialling #96*5* on a phone "
                "connected to the box")


def has_ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


class FritzTest(LineTestCase):

    def start_box(self, sb, box, args=(), **kw):
        kw.setdefault("ring_timeout", None)
        run = self.start(sb, box, args, **kw)
        box.wait_clients(1)
        return run

    def words(self, sb, call):
        played = self.calls_played(sb)
        return len(played[call]) if len(played) > call else 0

    def wait_words(self, run, sb, call, count):
        run.wait_for(lambda: self.words(sb, call) >= count,
                     "%d words of announcement %d" % (count, call), 20)

    def wait_announcer(self, run):
        run.wait_for(run.announcers, "an announcer started")

    def wait_no_announcer(self, run, timeout=END_MARGIN):
        run.wait_for(lambda: run.announcers() == [], "the announcer gone",
                     timeout)

    def assertNoAnnouncerFor(self, run, seconds):
        """No announcer starts for `seconds` (annc-line goes on running)."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.assertEqual(run.announcers(), [], run.stderr())
            time.sleep(0.02)
        self.assertIsNone(run.proc.poll(), run.stderr())

    def test_call_announced_a_second_after_its_ring_and_ended_by_disconnect(
            self):
        sb = self.sandbox()
        box = self.fritz_box()
        run = self.start_box(sb, box)
        # An outgoing call and the end of a call never seen ringing: nothing.
        box.send_line(call_line(7))
        box.send_line(disconnect_line(9, 12))
        box.send_line(ring_line(2, "5551234", "5559876", "SIP0"), crlf=True)
        rang = time.monotonic()
        self.wait_announcer(run)
        held = time.monotonic() - rang
        self.assertGreaterEqual(held, HOLD_BACK - 0.1)
        self.assertLess(held, HOLD_BACK + 1.5)
        # Past a modem's ring time-out the call still goes on: the box sends
        # nothing between a RING and its end.
        self.wait_words(run, sb, 0, WHOLE_CYCLE)
        while time.monotonic() < rang + MODEM_RING_TIMEOUT + 0.5:
            time.sleep(0.05)
        self.assertNotEqual(run.announcers(), [], run.stderr())
        self.assertNotIn("call ended", run.stderr())
        box.send_line(disconnect_line(2, 0))
        run.wait_status("call ended on line 2")
        self.wait_no_announcer(run)
        calls = self.calls_played(sb)
        self.assertEqual(len(calls), 1, calls)
        self.assertGreaterEqual(self.full_cycles(
            "5551234", calls[0], run.t_start, time.time()), 1)
        self.assertEqual(self.calls_logged(sb), [b"5551234 - Ann Lee"])
        self.assertEqual(run.status_lines(), [
            "annc-line: connected to FRITZ!Box 127.0.0.1:%d" % box.port,
            "annc-line: call from 5551234 on line 2",
            "annc-line: call ended on line 2"])

    def test_connect_stops_the_announcement_within_a_second(self):
        sb = self.sandbox()
        box = self.fritz_box()
        run = self.start_box(sb, box)
        box.send_line(ring_line(4, "5559876"))
        self.wait_words(run, sb, 0, 3)
        box.send_line(connect_line(4, extension=1))
        answered = time.monotonic()
        self.wait_no_announcer(run, ANSWERED_WITHIN)
        self.assertLess(time.monotonic() - answered, ANSWERED_WITHIN)
        self.assertIn("call answered on line 4\n", run.stderr())
        spoken = self.words(sb, 0)
        # The talk goes on for a while, then the call is over: it stays
        # quiet all along.
        self.assertNoAnnouncerFor(run, 1.5)
        box.send_line(disconnect_line(4, 2))
        self.assertNoAnnouncerFor(run, 0.5)
        self.assertEqual(len(self.calls_played(sb)), 1)
        self.assertEqual(self.words(sb, 0), spoken)
        self.assertEqual(self.calls_logged(sb), [b"5559876 - Bob"])
        status = run.stderr()
        self.assertEqual(status.count("call from 5559876 on line 4\n"), 1,
                         status)
        self.assertNotIn("call ended", status)

    def test_call_the_box_rejects_is_never_announced(self):
        sb = self.sandbox()
        box = self.fritz_box()
        run = self.start_box(sb, box)
        box.send_line(ring_line(5, "5551234"))
        time.sleep(0.2)
        box.send_line(disconnect_line(5, 0))
        run.wait_status("call ended on line 5")
        self.assertNoAnnouncerFor(run, HOLD_BACK + 0.5)
        self.assertEqual(self.calls_played(sb), [])
        self.assertEqual(self.calls_logged(sb), [])
        self.assertNotIn("call from", run.stderr())
        # The next call, which the box lets through, is announced.
        box.send_line(ring_line(5, "5559876"))
        run.wait_status("call from 5559876 on line 5")
        self.wait_words(run, sb, 0, 3)
        box.send_line(disconnect_line(5, 0))
        run.wait_status("call ended on line 5", 2)
        self.wait_no_announcer(run)
        self.assertEqual(self.calls_logged(sb), [b"5559876 - Bob"])

    def test_two_calls_ringing_at_once_on_two_connections(self):
        sb = self.sandbox()
        box = self.fritz_box()
        run = self.start_box(sb, box)
        box.send_line(ring_line(1, "5551234", "5559876", "SIP0"))
        self.wait_words(run, sb, 0, 3)
        box.send_line(ring_line(2, "5559876", "5550000", "SIP1"))
        run.wait_status("call on line 2 takes over the announcement")
        self.wait_words(run, sb, 1, WHOLE_CYCLE)
        # The second call gives up; the first one rings on, quietly.
        box.send_line(disconnect_line(2, 0))
        run.wait_status("call ended on line 2")
        self.wait_no_announcer(run)
        self.assertNotIn("on line 1\n", run.stderr().split(
            "call from 5551234 on line 1\n", 1)[1])
        box.send_line(connect_line(1))
        run.wait_status("call answered on line 1")
        self.assertNoAnnouncerFor(run, 0.5)
        calls = self.calls_played(sb)
        self.assertEqual(len(calls), 2, calls)
        self.assertGreaterEqual(self.full_cycles(
            "5559876", calls[1], run.t_start, time.time()), 1)
        self.assertEqual(self.calls_logged(sb),
                         [b"5551234 - Ann Lee", b"5559876 - Bob"])
        self.assertEqual(run.stderr().count("call from"), 2, run.stderr())

    def test_withheld_number_is_announced_as_unknown(self):
        sb = self.sandbox()
        box = self.fritz_box()
        run = self.start_box(sb, box)
        box.send_line(ring_line(0, ""))
        run.wait_status("call from Unknown on line 0\n")
        self.wait_words(run, sb, 0, UNKNOWN_CYCLE + 1)
        box.send_line(disconnect_line(0, 0))
        run.wait_status("call ended on line 0")
        self.wait_no_announcer(run)
        self.assertEqual(self.calls_logged(sb), [b"Unknown"])
        calls = self.calls_played(sb)
        self.assertEqual(len(calls), 1, calls)
        self.assertGreaterEqual(self.full_cycles(
            "Unknown", calls[0], run.t_start, time.time()), 1)

    def test_only_to_and_only_line_leave_out_the_other_calls(self):
        sb = self.sandbox()
        box = self.fritz_box()
        run = self.start_box(sb, box, ["--only-to", "555 98-76",
                                       "--only-to", "5553333",
                                       "--only-line", "sip0"])
        # To another number of the household; to this number but on
        # another line: neither is announced or logged, and their ends
        # mean nothing.
        box.send_line(ring_line(1, "5551234", "5550000", "SIP0"))
        box.send_line(ring_line(2, "5551234", "5559876", "SIP1"))
        self.assertNoAnnouncerFor(run, HOLD_BACK + 0.5)
        box.send_line(connect_line(1))
        box.send_line(disconnect_line(2, 0))
        # To this number on this line: announced.
        box.send_line(ring_line(3, "5551234", "5559876", "SIP0"))
        run.wait_status("call from 5551234 on line 3")
        self.wait_words(run, sb, 0, 3)
        box.send_line(disconnect_line(3, 0))
        run.wait_status("call ended on line 3")
        self.wait_no_announcer(run)
        self.assertEqual(self.calls_logged(sb), [b"5551234 - Ann Lee"])
        self.assertEqual(len(self.calls_played(sb)), 1)
        self.assertEqual(run.status_lines()[1:], [
            "annc-line: call from 5551234 on line 3",
            "annc-line: call ended on line 3"])

    def test_box_goes_away_and_comes_back(self):
        sb = self.sandbox()
        box = self.fritz_box()
        run = self.start_box(sb, box)
        box.send_line(ring_line(2, "5551234"))
        self.wait_words(run, sb, 0, 3)
        box.drop()
        box.stop_listening()
        run.wait_status("connection to FRITZ!Box 127.0.0.1:%d lost "
                        "(closed by the server); connecting again"
                        % box.port)
        run.wait_status("call ended on line 2")
        self.wait_no_announcer(run)
        time.sleep(1.5)               # an attempt is refused meanwhile
        box.listen()
        box.wait_clients(1, timeout=10)
        run.wait_status("connected to FRITZ!Box", 2)
        self.assertEqual(box.accepted, 2)
        # The box numbers its calls afresh: connection 2 is a new call.
        box.send_line(ring_line(2, "5559876"))
        self.wait_words(run, sb, 1, WHOLE_CYCLE)
        box.send_line(connect_line(2))
        run.wait_status("call answered on line 2")
        self.wait_no_announcer(run, ANSWERED_WITHIN + 1)
        self.assertEqual(run.stderr().count("lost"), 1, run.stderr())
        self.assertEqual(self.calls_logged(sb),
                         [b"5551234 - Ann Lee", b"5559876 - Bob"])
        self.assertGreaterEqual(self.full_cycles(
            "5559876", self.calls_played(sb)[1], run.t_start, time.time()),
            1)
        self.assertIsNone(run.proc.poll())

    def test_refused_at_start_says_how_to_switch_the_call_monitor_on(self):
        sb = self.sandbox()
        port = free_port()
        run = self.start(sb, "fritz:127.0.0.1:%d" % port, wait_ready=False,
                         ring_timeout=None)
        self.assertExitCode(run, 1, timeout=15)
        self.assertEqual(run.stderr(), "annc-line: fritz:127.0.0.1:%d: cannot "
                         "connect: Connection refused; %s\n"
                         % (port, REFUSED_HINT))
        self.assertEqual(self.calls_played(sb), [])

    def test_a_megabyte_without_a_line_end_keeps_memory_flat(self):
        sb = self.sandbox()
        box = self.fritz_box()
        run = self.start_box(sb, box)
        before_rss, before_read = rss_kib(run.pid), bytes_read(run.pid)
        junk = ring_line(1, "5550000").encode() + b"X" * (1 << 20)
        for i in range(0, len(junk), 1 << 16):
            box.send(junk[i:i + (1 << 16)])
        run.wait_for(lambda: bytes_read(run.pid) - before_read >= len(junk),
                     "the megabyte read")
        grown = rss_kib(run.pid) - before_rss
        self.assertLess(grown, 256, "VmRSS grew by %d KiB" % grown)
        # The cut line is a call, and the next line is read as usual.
        box.send(b"\n")
        run.wait_status("call from 5550000 on line 1\n")
        box.send_line(connect_line(1))
        run.wait_status("call answered on line 1")
        self.assertIsNone(run.proc.poll())

    def test_once_announces_a_call_and_ends_at_its_connect(self):
        sb = self.sandbox()
        box = self.fritz_box()
        run = self.start_box(sb, box, ["--once"])
        box.send_line(ring_line(3, "5551234"))
        self.wait_words(run, sb, 0, WHOLE_CYCLE)
        box.send_line(connect_line(3))
        answered = time.monotonic()
        self.assertExitCode(run, 0, timeout=END_MARGIN + 5)
        self.assertLess(time.monotonic() - answered, END_MARGIN)
        calls = self.calls_played(sb)
        self.assertEqual(len(calls), 1, calls)
        self.assertGreaterEqual(self.full_cycles(
            "5551234", calls[0], run.t_start, run.t_end), 1)
        self.assertEqual(self.calls_logged(sb), [b"5551234 - Ann Lee"])
        self.assertEqual(run.stderr().count("call answered on line 3\n"), 1,
                         run.stderr())
        self.assertEqual(run.announcers(), [])
        box.wait_no_clients(5)

    @unittest.skipUnless(has_ipv6_loopback(), "no IPv6 loopback here")
    def test_ipv6_box(self):
        sb = self.sandbox()
        box = self.fritz_box(host="::1")
        run = self.start_box(sb, box, ["--once"])
        self.assertIn("connected to FRITZ!Box [::1]:%d\n" % box.port,
                      run.stderr())
        box.send_line(ring_line(0, "5559876"))
        run.wait_status("call from 5559876 on line 0")
        box.send_line(disconnect_line(0, 0))
        self.assertExitCode(run, 0)
        self.assertEqual(self.calls_logged(sb), [b"5559876 - Bob"])

    def test_check_prints_every_line(self):
        sb = self.sandbox()
        box = self.fritz_box()
        run = self.start_box(sb, box, ["--check"])
        sent = [ring_line(0, "555\x1b[2J\x07", "5559876", "SIP0"),
                call_line(1),
                "not the box's\x7f line\x01",
                connect_line(0),
                disconnect_line(0, 3)]
        # At once: the call is answered long before it would be announced
        # (and its decision printed).
        box.send(b"".join(l.encode("latin-1") + (b"\r\n" if i % 2 == 0
                                                 else b"\n")
                          for i, l in enumerate(sent)))
        run.wait_for(lambda: "DISCONNECT" in run.stdout(), "the lines shown")
        run.signal(signal.SIGINT)
        self.assertExitCode(run, 0, timeout=5)
        shown = [l.replace("\x1b", "^[").replace("\x07", "^G")
                 .replace("\x7f", "^?").replace("\x01", "^A") for l in sent]
        self.assertEqual(run.stdout().splitlines(), shown)
        self.assertEqual(self.calls_played(sb), [])     # no announcer
        self.assertEqual(self.calls_logged(sb), [])


if __name__ == "__main__":
    unittest.main()
