"""End-to-end: calls screened by the real annc-line (--block, --allow,
--quiet, --repeat-window) on an emulated caller-ID modem and on a fake NCID
server, with the real annc announcing the calls let through.

The emulator records when each AT command came and when each RING went out,
so a hang-up is checked against the rings of the call: a blocked call in
North American order (caller ID between the first and the second ring) is
taken off the line before its second ring, a UK one (caller ID before the
first ring) before its first.  The calls log (--log) must hold one line per
call: annc's for a call announced, annc-line's with B or Q for one blocked
or quiet.
"""

import datetime
import os
import random
import re
import signal
import time
import unittest

from harness import rss_kib
from line_harness import LineTestCase
from modem_emulator import north_american_block
from ncid_server import cid_line, cidinfo_line

RING_GAP = 0.4
HOLD_S = 2.0                 # ATH1 to ATH0
LOG = "calls.log"            # relative to the sandbox's working folder
# A little over what a list of 100,000 entries or a 1 MB line needs: the
# text kept and about 12 bytes per expression.
RSS_LIMIT_KIB = 48 * 1024

CALL_LINE = re.compile(
    rb"(?P<letter>[ ?BQ]) \d\d-[A-Z][a-z]{2}-\d{4} \d\d:\d\d:\d\d "
    rb"(?P<msg>.*)")


def uk_block_with_name(number, name):
    """A UK caller-ID block with number and name, before the first ring."""
    return [(0, "DATE = 0124"), (0.01, "TIME = 1534"),
            (0.01, "NMBR = " + number), (0.01, "NAME = " + name)]


def window_around_now(minutes=20):
    """A quiet window "HH:MM-HH:MM" from `minutes` before the local (UTC in
    the sandbox) time to `minutes` after it."""
    now = datetime.datetime.now(datetime.timezone.utc)
    start = (now - datetime.timedelta(minutes=minutes)).strftime("%H:%M")
    end = (now + datetime.timedelta(minutes=minutes)).strftime("%H:%M")
    return "%s-%s" % (start, end)


class ScreeningCase(LineTestCase):

    def write_list(self, sb, name, data):
        if isinstance(data, str):
            data = data.encode("latin-1")
        with open(os.path.join(sb.cwd, name), "wb") as f:
            f.write(data)
        return name

    def calls(self, sb):
        """(letter, message) of each line of the calls log."""
        data = sb.read_file(os.path.join(sb.cwd, LOG)) or b""
        self.assertTrue(data == b"" or data.endswith(b"\r\n"), data[-80:])
        out = []
        for line in data.split(b"\r\n")[:-1]:
            m = CALL_LINE.fullmatch(line)
            self.assertIsNotNone(m, "not a log line: %r" % line)
            out.append((m.group("letter"), m.group("msg")))
        return out

    def wait_calls(self, sb, count, timeout=10.0):
        deadline = time.monotonic() + timeout
        while len(self.calls(sb)) < count and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.calls(sb)

    def hang_ups(self, emu):
        return [t for t, c in emu.timed_commands() if c.upper() == "ATH1"]

    def ring_on(self, emu, seconds):
        """Rings every RING_GAP seconds for `seconds`, unless the call is
        taken off the line."""
        return emu.ring_until(lambda: False, gap=RING_GAP, limit=seconds)

    def assertHungUpAndBack(self, emu, ath1):
        """ATH0 after the 2 s hold, and the modem on hook again."""
        on_hook = [t for t, c in emu.timed_commands()
                   if c.upper() == "ATH0" and t > ath1]
        if not on_hook:
            emu.wait_commands(len(emu.commands_seen()) + 1, timeout=HOLD_S + 3)
            on_hook = [t for t, c in emu.timed_commands()
                       if c.upper() == "ATH0" and t > ath1]
        self.assertTrue(on_hook, emu.commands_seen())
        self.assertGreaterEqual(on_hook[0] - ath1, HOLD_S - 0.1)
        self.assertLess(on_hook[0] - ath1, HOLD_S + 1.0)
        self.assertFalse(emu.off_hook)


class ModemScreeningTest(ScreeningCase):

    def test_blocked_north_american_call_hung_up_before_second_ring(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        junk = self.write_list(sb, "calls.block",
                               "# junk callers\n\n5551234 #= Car warranty\n")
        run = self.start(sb, emu, ["--block", junk, "--log", LOG])
        emu.play(north_american_block("5551234", "ANN LEE"))
        # The second ring is due RING_GAP after the block: well inside the
        # 0.5 s window a block without both number and name would wait for.
        self.ring_on(emu, 4.0)
        ath1 = emu.wait_command("ATH1")
        rings = emu.ring_times()
        self.assertEqual(len(rings), 1, "rings %r, ATH1 at %r" % (rings, ath1))
        self.assertGreater(ath1, rings[0])
        self.assertEqual(len(self.hang_ups(emu)), 1)
        self.assertHungUpAndBack(emu, ath1)
        run.wait_status("; hung up")
        self.assertIn("annc-line: call from 5551234 (Car warranty): blocked by "
                      "calls.block line 3; hung up\n", run.stderr())
        self.assertEqual(self.wait_calls(sb, 1), [(b"B", b"5551234 - Car warranty")])
        self.assertEqual(self.calls_played(sb), [])
        self.assertEqual(run.announcers(), [])
        self.assertIsNone(run.proc.poll())

    def test_blocked_uk_calls_hung_up_before_first_ring(self):
        sb = self.sandbox()
        emu = self.modem(sb, "cid")
        junk = self.write_list(sb, "calls.block",
                               '"CARD SERVICES"\n^0800 #= Freephone sales\n')
        run = self.start(sb, emu, ["--block", junk, "--log", LOG])
        # Number and name: decided at once, the first ring RING_GAP later.
        emu.play(uk_block_with_name("5551234", "CARD SERVICES"))
        self.ring_on(emu, 3.0)
        ath1 = emu.wait_command("ATH1")
        self.assertEqual(emu.ring_times(), [])
        self.assertHungUpAndBack(emu, ath1)
        # Number only: decided when the 0.5 s window ends, before the ring
        # that comes 0.8 s after the block.
        emu.play(uk_block_with_name("08001234567", "X")[:3])
        time.sleep(0.8)
        self.ring_on(emu, 3.0)
        self.assertEqual(len(self.hang_ups(emu)), 2, emu.commands_seen())
        self.assertEqual(emu.ring_times(), [])
        self.assertHungUpAndBack(emu, self.hang_ups(emu)[1])
        self.assertEqual(self.wait_calls(sb, 2), [
            (b"B", b"5551234 - CARD SERVICES"),
            (b"B", b"08001234567 - Freephone sales")])
        status = run.stderr()
        self.assertIn("call from 5551234 (CARD SERVICES): blocked by "
                      "calls.block line 1; hung up\n", status)
        self.assertIn("call from 08001234567 (Freephone sales): blocked by "
                      "calls.block line 2; hung up\n", status)
        self.assertEqual(self.calls_played(sb), [])

    def test_on_hook_without_ok_is_tried_again(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        junk = self.write_list(sb, "calls.block", "5551234\n")
        run = self.start(sb, emu, ["--block", junk, "--log", LOG])
        emu.unanswered_once("ATH0")
        emu.play(north_american_block("5551234", "ANN LEE"))
        self.ring_on(emu, 1.0)
        emu.wait_commands(7, timeout=HOLD_S + 8)
        self.assertEqual(emu.commands_seen()[3:],
                         ["ATH1", "ATH0", "AT", "ATH0"])
        self.assertFalse(emu.off_hook)
        self.assertEqual(self.calls(sb), [(b"B", b"5551234 - ANN LEE")])
        self.assertIsNone(run.proc.poll())

    def test_ways_out_during_the_hang_up_leave_the_modem_on_hook(self):
        # --once after a blocked call, and a signal while the line is held
        # off hook: annc-line ends with the modem back on hook, not with
        # the line busy.
        for how in ("--once", "SIGTERM"):
            with self.subTest(how):
                sb = self.sandbox()
                emu = self.modem(sb)
                junk = self.write_list(sb, "calls.block", "5551234\n")
                args = ["--block", junk, "--log", LOG]
                run = self.start(sb, emu, args + (["--once"] if how == "--once"
                                                  else []))
                emu.play(north_american_block("5551234", "ANN LEE"))
                ath1 = emu.wait_command("ATH1")
                if how == "SIGTERM":
                    time.sleep(0.5)
                    run.signal(signal.SIGTERM)
                run.wait(HOLD_S + 8)
                self.assertIsNotNone(run.returncode, "annc-line did not end")
                later = [c.upper() for t, c in emu.timed_commands() if t > ath1]
                self.assertFalse(emu.off_hook, "ended off hook; then got %r; "
                                 "stderr=%r" % (later, run.stderr()))
                self.assertEqual(self.calls(sb), [(b"B", b"5551234 - ANN LEE")])

    def test_block_mode_ignore_lets_a_blocked_call_ring_unannounced(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        junk = self.write_list(sb, "calls.block", "^555\n")
        run = self.start(sb, emu, ["--block", junk, "--block-mode", "ignore",
                                   "--log", LOG])
        emu.play(north_american_block("5551234", "ANN LEE"))
        self.ring_on(emu, 2.0)
        self.assertGreaterEqual(len(emu.ring_times()), 4)
        self.assertNotIn("ATH1", emu.commands_seen())
        self.assertEqual(self.wait_calls(sb, 1), [(b"B", b"5551234 - ANN LEE")])
        self.assertIn("call from 5551234 (ANN LEE): blocked by calls.block "
                      "line 1\n", run.stderr())
        self.assertEqual(self.calls_played(sb), [])

    def test_allowed_number_on_the_block_list_is_announced(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        junk = self.write_list(sb, "calls.block", "^555 #= Junk range\n")
        friends = self.write_list(sb, "friends", "# family\n5551234\n")
        run = self.start(sb, emu, ["--once", "--block", junk, "--allow",
                                   friends, "--log", LOG])
        emu.play(north_american_block("5551234", "ANN LEE"))
        self.ring_until_spoken(emu, sb, 0)
        self.assertExitCode(run, 0)
        self.assertNotIn("ATH1", emu.commands_seen())
        played = self.calls_played(sb)
        self.assertEqual(len(played), 1)
        self.assertGreaterEqual(self.full_cycles("5551234", played[0],
                                                 run.t_start, run.t_end), 1)
        self.assertEqual(self.calls(sb), [(b" ", b"5551234 - Ann Lee")])
        self.assertIn("call from 5551234: allowed by friends line 2\n",
                      run.stderr())

    def test_quiet_hours_log_q_and_start_no_annc(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        window = window_around_now()
        run = self.start(sb, emu, ["--quiet", window, "--log", LOG])
        emu.play(north_american_block("5551234", "ANN LEE"))
        self.ring_on(emu, 2.5)
        run.wait_status("quiet hours")
        self.assertIn("call from 5551234 (ANN LEE): quiet hours %s\n" % window,
                      run.stderr())
        # Shown, not answered: it goes on ringing.
        self.assertGreaterEqual(len(emu.ring_times()), 5)
        self.assertNotIn("ATH1", emu.commands_seen())
        self.assertEqual(self.calls(sb), [(b"Q", b"5551234 - ANN LEE")])
        self.assertEqual(self.calls_played(sb), [])
        self.assertEqual(run.announcers(), [])

    def test_repeat_call_in_quiet_hours_is_announced(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        window = window_around_now()
        run = self.start(sb, emu, ["--quiet", window, "--repeat-window", "3",
                                   "--log", LOG])
        emu.play(north_american_block("5551234", "ANN LEE"))
        self.ring_on(emu, 1.2)
        run.wait_status("quiet hours")
        run.wait_status("call ended")        # by the ring time-out
        # The same number again: through.
        emu.play(north_american_block("5551234", "ANN LEE"))
        self.ring_until_spoken(emu, sb, 0)
        run.wait_status("call ended", 2)
        self.assertIn("call from 5551234: called again within 3 minutes\n",
                      run.stderr())
        played = self.calls_played(sb)
        self.assertEqual(len(played), 1)
        self.full_cycles("5551234", played[0], run.t_start, time.time())
        # Another number in the window stays quiet.
        emu.play(north_american_block("5559876", "BOB"))
        self.ring_on(emu, 1.2)
        run.wait_status("quiet hours", 2)
        self.assertEqual(self.wait_calls(sb, 3), [
            (b"Q", b"5551234 - ANN LEE"), (b" ", b"5551234 - Ann Lee"),
            (b"Q", b"5559876 - BOB")])
        self.assertEqual(len(self.calls_played(sb)), 1)

    def test_list_edited_while_running_takes_effect_at_next_call(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        junk = self.write_list(sb, "calls.block", "5551234 #= Old\n")
        run = self.start(sb, emu, ["--block", junk, "--log", LOG])
        self.write_list(sb, "calls.block", "# edited\n5552222 #= New junk\n")
        emu.play(north_american_block("5552222", "CALLER"))
        self.ring_on(emu, 1.5)
        ath1 = emu.wait_command("ATH1")
        run.wait_status("; hung up")
        status = run.stderr()
        self.assertIn("read the block list calls.block again: 1 entries\n",
                      status)
        self.assertIn("call from 5552222 (New junk): blocked by calls.block "
                      "line 2; hung up\n", status)
        self.assertHungUpAndBack(emu, ath1)
        # The number only the old copy blocked is announced.
        ended = run.stderr().count("call ended")
        emu.play(north_american_block("5551234", "ANN LEE"))
        self.ring_until_spoken(emu, sb, 0)
        run.wait_status("call ended", ended + 1)
        self.assertEqual(len(self.hang_ups(emu)), 1)
        self.assertEqual(self.calls(sb), [(b"B", b"5552222 - New junk"),
                                          (b" ", b"5551234 - Ann Lee")])
        self.assertEqual(run.stderr().count("again: 1 entries"), 1)

    def test_list_removed_while_running_keeps_the_last_copy(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        junk = self.write_list(sb, "calls.block", "5551234 #= Junk\n")
        run = self.start(sb, emu, ["--block", junk, "--log", LOG])
        os.unlink(os.path.join(sb.cwd, junk))
        for call in range(2):
            emu.play(north_american_block("5551234", "ANN LEE"))
            self.ring_on(emu, 1.0)
            self.wait_calls(sb, call + 1)
            self.assertEqual(len(self.hang_ups(emu)), call + 1,
                             emu.commands_seen())
            self.assertHungUpAndBack(emu, self.hang_ups(emu)[call])
        status = run.stderr()
        self.assertEqual(status.count(
            "annc-line: cannot read the block list calls.block again (No such "
            "file or directory); the copy read before stays in use\n"), 1,
            status)
        self.assertEqual(self.calls(sb), [(b"B", b"5551234 - Junk")] * 2)
        self.assertEqual(self.calls_played(sb), [])

    def test_unreadable_list_at_start_exits_1_with_one_line(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        os.mkdir(os.path.join(sb.cwd, "folder.block"))
        self.write_list(sb, "friends", "5551234\n")
        cases = [
            (["--block", "missing.block"],
             "the block list missing.block: No such file or directory"),
            (["--allow", "friends", "--block", "folder.block"],
             "the block list folder.block: Is a directory"),
            (["--allow", "nobody"], "the allow list nobody: No such file"),
        ]
        for args, cause in cases:
            with self.subTest(args=args):
                run = self.start(sb, emu, args, wait_ready=False)
                try:
                    self.assertExitCode(run, 1)
                    lines = run.stderr().splitlines()
                    self.assertEqual(len(lines), 1, lines)
                    self.assertIn("cannot read " + cause, lines[0])
                    self.assertEqual(os.listdir(run.lock_dir), [])
                    self.assertEqual(run.announcers(), [])
                finally:
                    run.close()         # the port is free for the next


class BadListTest(ScreeningCase):
    """Lists no person writes: annc-line starts, or says in one line why
    not, and stays small."""

    def blocks(self, sb, emu, run, number, label):
        emu.play(north_american_block(number, "ANN LEE"))
        self.ring_on(emu, 1.0)
        ath1 = emu.wait_command("ATH1")
        self.assertHungUpAndBack(emu, ath1)
        self.assertEqual(self.wait_calls(sb, 1), [(b"B", b"%s - %s" % (
            number.encode(), label))])

    def test_lists_that_start(self):
        rng = random.Random(16)
        cases = {
            "a 1 MB line": b"A" * (1 << 20) + b"\n5551234 #= After\n",
            "NUL bytes": b"\0\0\x005550000\0\n\0#= x\n5551234\0 5551234 #= After\n",
            "100,000 entries": b"".join(b"%010d #= Junk %d\n" % (i, i)
                                        for i in range(100000))
                               + b"5551234 #= After\n",
        }
        for what, data in cases.items():
            with self.subTest(what):
                sb = self.sandbox()
                emu = self.modem(sb)
                self.write_list(sb, "calls.block", data)
                run = self.start(sb, emu, ["--block", "calls.block", "--log",
                                           LOG])
                self.assertLess(rss_kib(run.pid), RSS_LIMIT_KIB)
                self.blocks(sb, emu, run, "5551234", b"After")
                self.assertLess(rss_kib(run.pid), RSS_LIMIT_KIB)
        # Random bytes: whatever they block, the call is decided, once.
        sb = self.sandbox()
        emu = self.modem(sb)
        self.write_list(sb, "calls.block", bytes(rng.getrandbits(8)
                                                 for _ in range(1 << 16)))
        run = self.start(sb, emu, ["--block", "calls.block", "--log", LOG])
        emu.play(north_american_block("5551234", "ANN LEE"))
        self.ring_on(emu, 2.0)
        self.assertEqual(len(self.wait_calls(sb, 1)), 1)
        self.assertLess(rss_kib(run.pid), RSS_LIMIT_KIB)
        self.assertIsNone(run.proc.poll())

    def test_list_beyond_the_limit_exits_1_with_one_line(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        self.write_list(sb, "huge.block", b"5551234 " * (9 << 17))   # 9 MiB
        run = self.start(sb, emu, ["--block", "huge.block"], wait_ready=False)
        self.assertExitCode(run, 1)
        lines = run.stderr().splitlines()
        self.assertEqual(len(lines), 1, lines)
        self.assertIn("cannot read the block list huge.block: ", lines[0])


class NcidScreeningTest(ScreeningCase):

    def test_ncid_call_on_the_block_list_is_not_announced(self):
        sb = self.sandbox()
        server = self.ncid_server()
        junk = self.write_list(sb, "calls.block", '"ANN LEE" #= Pest\n')
        run = self.start(sb, server, ["--block", junk, "--log", LOG])
        server.send_line(cid_line("5551234", "ANN LEE"))
        for ring in range(1, 6):
            server.send_line(cidinfo_line(ring))
            time.sleep(RING_GAP)
        server.send_line(cidinfo_line(0))
        run.wait_status("blocked by")
        self.assertIn("annc-line: call from 5551234 (Pest): blocked by "
                      "calls.block line 1\n", run.stderr())
        self.assertNotIn("hung up", run.stderr())
        self.assertEqual(self.wait_calls(sb, 1), [(b"B", b"5551234 - Pest")])
        # The next call, not on the list, is announced.
        server.send_line(cid_line("5559876", "BOB"))
        ring = 1
        deadline = time.monotonic() + 20
        while (sum(len(w) for w in self.calls_played(sb)) < 12
               and time.monotonic() < deadline):
            server.send_line(cidinfo_line(ring))
            ring += 1
            time.sleep(RING_GAP)
        server.send_line(cidinfo_line(0))
        run.wait_status("call ended")
        self.assertEqual(len(self.calls_played(sb)), 1)
        self.assertEqual(self.wait_calls(sb, 2), [(b"B", b"5551234 - Pest"),
                                                  (b" ", b"5559876 - Bob")])

    def test_check_prints_each_decision(self):
        sb = self.sandbox()
        server = self.ncid_server()
        junk = self.write_list(sb, "calls.block", "^1900 #= Premium rate\n")
        run = self.start(sb, server, ["--check", "--block", junk])
        server.send_line(cid_line("19005550000", "SALES"))
        server.send_line(cid_line("5551234", "ANN LEE"))
        run.wait_for(lambda: run.stdout().count("decision: ") >= 2,
                     "two decisions shown")
        run.signal(signal.SIGINT)
        self.assertExitCode(run, 0, timeout=5)
        decisions = [l for l in run.stdout().splitlines()
                     if l.startswith("decision: ")]
        self.assertEqual(decisions, [
            "decision: call from 19005550000 (Premium rate): blocked by "
            "calls.block line 1", "decision: call from 5551234 (ANN LEE): announce"])
        self.assertEqual(self.calls_played(sb), [])
        self.assertIsNone(sb.log_bytes())               # nothing logged


if __name__ == "__main__":
    unittest.main()
