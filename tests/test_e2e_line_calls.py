"""End-to-end: calls from an emulated caller-ID modem, announced by the real
annc started by the real annc-line.

Each test plays the modem (tests/modem_emulator.py) on a pseudo-terminal
behind a symbolic link, runs annc-line on the link with a ring time-out of
1 s, and checks what a person would notice: the words annc spoke (captured
through ALSA's file plugin), the lines of annc's log, annc-line's status
lines, and that the announcement ends soon after the last ring.
"""

import time
import unittest

from harness import NOPHONE, SEPARATOR
from line_harness import RING_TIMEOUT, LineTestCase
from modem_emulator import north_american_block, packet_block, uk_block

# annc notices the end of the call at its next look at the line, which comes
# after each number spoken: a little over a second in these recordings.
END_MARGIN = 3.0


class CallTest(LineTestCase):

    def one_call(self, block, number, profile="vcid", args=(), words=12):
        """Plays one call with --once: the block, then rings until annc has
        spoken `words` words (one whole cycle). Returns (run, sandbox, last
        ring time); the modem is self.emu."""
        sb = self.sandbox()
        emu = self.emu = self.modem(sb, profile)
        run = self.start(sb, emu, ["--once"] + list(args))
        emu.play(block)
        played = lambda: sum(len(w) for w in self.calls_played(sb))
        spoken = lambda: played() >= words
        last_ring = emu.ring_until(spoken, gap=0.4, limit=30)
        self.assertExitCode(run, 0)
        self.assertLess(time.monotonic() - last_ring,
                        RING_TIMEOUT + END_MARGIN + 1.0)
        return run, sb, last_ring

    def assertOneAnnouncement(self, run, sb, number, logged):
        calls = self.calls_played(sb)
        self.assertEqual(len(calls), 1, calls)
        self.assertGreaterEqual(
            self.full_cycles(number, calls[0], run.t_start, run.t_end), 1)
        self.assertEqual(self.calls_logged(sb), [logged])
        status = run.stderr()
        self.assertEqual(status.count("call ended"), 1, status)
        self.assertNotIn("terminating", status)
        self.assertNotIn("announcer ended", status)

    def test_north_american_call(self):
        run, sb, _ = self.one_call(
            north_american_block("5551234", "ANN LEE"), "5551234")
        self.assertOneAnnouncement(run, sb, "5551234", b"5551234 - Ann Lee")
        self.assertIn("annc-line: call from 5551234 (ANN LEE)\n",
                      run.stderr())
        self.assertEqual(run.announcers(), [])

    def test_uk_order_block_before_first_ring(self):
        run, sb, _ = self.one_call(uk_block("5559876"), "5559876",
                                   profile="cid")
        self.assertOneAnnouncement(run, sb, "5559876", b"5559876 - Bob")
        self.assertIn("(AT#CID=1)", run.stderr())

    def test_call_without_caller_id_is_unknown(self):
        # A modem that takes no caller-ID command: rings only.
        run, sb, _ = self.one_call([(0, "RING")], "Unknown",
                                   profile="none")
        self.assertOneAnnouncement(run, sb, "Unknown", b"Unknown")
        self.assertIn(NOPHONE, self.calls_played(sb)[0])
        self.assertIn("calls will be announced as Unknown", run.stderr())

    def test_withheld_number_is_unknown(self):
        run, sb, _ = self.one_call(
            north_american_block("P", "O"), "Unknown", profile="echo",
            args=["--log", "calls.log"])
        calls = self.calls_played(sb)
        self.assertEqual(len(calls), 1)
        self.full_cycles("Unknown", calls[0], run.t_start, run.t_end)
        self.assertIn(NOPHONE, calls[0])
        # --log reaches annc as /L: (relative to the working folder).
        self.assertEqual(self.calls_logged(sb, sb.cwd + "/calls.log"),
                         [b"Unknown"])
        self.assertIsNone(sb.log_bytes())

    def test_raw_packet_from_a_modem_in_unformatted_mode(self):
        # Caller ID switched to unformatted mode through --init: annc-line
        # leaves the mode alone, and decodes the packet.
        run, sb, _ = self.one_call(packet_block(), "4075550000",
                                   profile="hex", args=["--init", "AT+VCID=2"],
                                   words=15)
        self.assertOneAnnouncement(run, sb, "4075550000", b"4075550000")
        self.assertEqual(self.emu.commands_seen(),
                         ["ATZ", "ATE0V1Q0", "AT+VCID=2"])
        status = run.stderr()
        self.assertIn("(AT+VCID=2)", status)
        self.assertIn("call from 4075550000 (JOHN DOE)\n", status)
        self.assertNotIn("caller-ID packet:", status)      # no warning

    def test_key_press_quiets_the_call_and_the_next_is_announced(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        run = self.start(sb, emu)
        emu.play(north_american_block("5551234", "ANN LEE"))
        # A key while the first cycle is spoken: annc ends after it (0).
        emu.ring_until(lambda: self.calls_played(sb) != [], gap=0.4)
        run.press_key()
        emu.ring_until(lambda: "stopped by a key" in run.stderr(), gap=0.4)
        # The call goes on ringing: no second announcer for it.
        emu.ring_until(lambda: False, gap=0.4, limit=2.0)
        self.assertEqual(len(self.calls_played(sb)), 1)
        run.wait_status("call ended")
        # The next call is announced.
        emu.play(uk_block("5559876"))
        self.ring_until_spoken(emu, sb, 1)
        run.wait_status("call ended", 2)
        self.assertEqual(self.calls_logged(sb),
                         [b"5551234 - Ann Lee", b"5559876 - Bob"])
        first, second = self.calls_played(sb)
        self.assertEqual(self.full_cycles("5551234", first, run.t_start,
                                          time.time()), 1)
        self.assertGreaterEqual(self.full_cycles("5559876", second,
                                                 run.t_start, time.time()), 1)
        self.assertEqual(first.count(SEPARATOR), 2)


if __name__ == "__main__":
    unittest.main()
