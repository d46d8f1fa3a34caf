"""End-to-end: annc-line under the faults that would lose calls, with the
real annc, the emulated modem (tests/modem_emulator.py) and the fake NCID
server (tests/ncid_server.py): a bad set-up, a key typed while idle, a
hung announcer, an announcer that outlives annc-line, a call over within
milliseconds, calls on one NCID line and on many, a blocked standard error,
a silent server and an absurd number.

Every wait is on a condition with a bound; the bounds are generous where
only "eventually" matters, and the ones that are the point of a test (2 s
for the announcer to go with annc-line, 12 s for a silent server) are the
behaviour under test.
"""

import fcntl
import os
import re
import shutil
import signal
import time
import unittest

from harness import NOPHONE, FdReader, alive, open_pty, wait_until
from line_harness import LineTestCase
from modem_emulator import north_american_block, uk_block
from ncid_server import cid_line, cidinfo_line

RING_GAP = 0.4
WHOLE_CYCLE = 14            # words: more than a cycle of a 7-digit number


class FaultTest(LineTestCase):

    def words(self, sb, call):
        played = self.calls_played(sb)
        return len(played[call]) if len(played) > call else 0

    def ncid_ring_until(self, server, done, line="POTS", limit=30.0):
        """CIDINFO rings every RING_GAP seconds until done() holds or
        `limit` seconds have passed."""
        ring, deadline = 1, time.monotonic() + limit
        while not done() and time.monotonic() < deadline:
            server.send_line(cidinfo_line(ring, line))
            ring += 1
            time.sleep(RING_GAP)

    def assertAnnounced(self, sb, call, number, t_start):
        """Announcement number `call` spoke at least one whole cycle."""
        played = self.calls_played(sb)
        self.assertGreater(len(played), call, played)
        self.assertGreaterEqual(self.full_cycles(
            number, played[call], t_start, time.time()), 1, played[call])

    def wait_logged(self, run, sb, calls, timeout=15.0):
        run.wait_for(lambda: self.calls_logged(sb) == calls,
                     "the log to hold %r (it holds %r)"
                     % (calls, self.calls_logged(sb)), timeout)

    # A set-up in which every call would fail is refused at start.

    def test_bad_setups_end_at_start_with_one_line(self):
        def no_sound_folder(sb):
            shutil.rmtree(sb.sound_dir)
            folder = sb.sound_dir + "/"
            return [], ("no sound folder %s (No such file or directory): "
                        "make one with tools/make_voice.sh %s"
                        % (folder, folder))

        def no_phone_book(sb):
            os.remove(os.path.join(sb.sound_dir, "aon.db"))
            return [], ("cannot read the phone book %s/aon.db: No such file "
                        "or directory: create it (an empty file will do)"
                        % sb.sound_dir)

        def unwritable_log(sb):
            return ["--log", "/nonexistent/x.log"], (
                "cannot write the log /nonexistent/x.log: No such file or "
                "directory: choose another with --log FILE")

        def announcer_not_executable(sb):
            os.chmod(sb.exe, 0o644)
            return [], ("cannot run the announcer %s: Permission denied"
                        % sb.exe)

        for setup in (no_sound_folder, no_phone_book, unwritable_log,
                      announcer_not_executable):
            with self.subTest(setup.__name__):
                sb = self.sandbox()
                emu = self.modem(sb)
                args, says = setup(sb)
                run = self.start(sb, emu, args, wait_ready=False)
                self.assertExitCode(run, 1, timeout=10)
                self.assertEqual(run.stderr(), "annc-line: %s\n" % says)
                # Refused before the modem was touched or locked.
                self.assertEqual(emu.commands_seen(), [])
                self.assertEqual(os.listdir(run.lock_dir), [])

    # A key typed on the console while no call is announced.

    def test_key_typed_while_idle_does_not_silence_the_next_call(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        master, slave = open_pty()
        self.addCleanup(os.close, master)
        screen = FdReader(master)           # the console's screen, drained
        self.addCleanup(screen.stop)
        run = self.start(sb, emu, console=slave)
        os.close(slave)
        self.assertEqual(os.tcgetpgrp(master), run.pid)
        os.write(master, b"k")              # typed while idle
        time.sleep(0.3)
        emu.play(north_american_block("5551234", "ANN LEE"))
        self.ring_until_spoken(emu, sb, 0, words=WHOLE_CYCLE)
        run.wait_status("call ended", timeout=10)
        status = run.stderr()
        self.assertNotIn("stopped by a key", status)
        self.assertAnnounced(sb, 0, "5551234", run.t_start)
        self.assertEqual(self.calls_logged(sb), [b"5551234 - Ann Lee"])
        self.assertIn(b"5551234 - Ann Lee", screen.snapshot())   # shown

    # The announcer does not outlive annc-line.

    def test_announcer_ends_when_annc_line_is_killed(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        run = self.start(sb, emu)
        emu.play(north_american_block("5551234"))
        emu.ring_until(lambda: self.words(sb, 0) >= 3, gap=RING_GAP)
        announcers = run.announcers()
        self.assertEqual(len(announcers), 1)
        run.proc.kill()
        run.proc.wait()
        killed = time.monotonic()
        wait_until(lambda: not alive(announcers[0]), 2.0,
                   "annc to end after annc-line was killed")
        self.assertLess(time.monotonic() - killed, 2.0)

    # A hung announcer.

    def stop_the_first_announcer(self, sb, emu, run):
        """A call whose announcer is stopped (SIGSTOP) while it speaks,
        then the call ends; returns when annc-line has said so."""
        emu.play(north_american_block("5551234", "ANN LEE"))
        emu.ring_until(lambda: self.words(sb, 0) >= 3, gap=RING_GAP)
        announcers = run.announcers()
        self.assertEqual(len(announcers), 1)
        os.kill(announcers[0], signal.SIGSTOP)
        self.addCleanup(lambda: alive(announcers[0]) and
                        os.kill(announcers[0], signal.SIGKILL))
        run.wait_status("call ended")
        return announcers[0]

    def test_calls_after_a_hung_announcer_are_announced(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        run = self.start(sb, emu)
        hung = self.stop_the_first_announcer(sb, emu, run)
        ended = time.monotonic()
        # SIGTERM 10 s after the call ended does nothing to a stopped
        # process; SIGKILL 3 s later does, and the next call gets its own.
        run.wait_status("announcer did not end after SIGTERM: killing it",
                        timeout=20)
        run.wait_for(lambda: not alive(hung), "the hung announcer killed", 5)
        self.assertGreaterEqual(time.monotonic() - ended, 12.0)
        time.sleep(max(0.0, ended + 13.0 - time.monotonic()))
        emu.play(uk_block("5559876"))
        self.ring_until_spoken(emu, sb, 1, words=WHOLE_CYCLE)
        run.wait_status("call ended", 2)
        time.sleep(max(0.0, ended + 45.0 - time.monotonic()))
        emu.play(north_american_block("5551234", "ANN LEE"))
        self.ring_until_spoken(emu, sb, 2, words=WHOLE_CYCLE)
        run.wait_status("call ended", 3)
        self.assertAnnounced(sb, 1, "5559876", run.t_start)
        self.assertAnnounced(sb, 2, "5551234", run.t_start)
        self.assertEqual(self.calls_logged(sb), [
            b"5551234 - Ann Lee", b"5559876 - Bob", b"5551234 - Ann Lee"])
        status = run.stderr()
        self.assertEqual(status.count("killing it"), 1, status)
        self.assertEqual(status.count("call from"), 3, status)

    def test_call_while_a_hung_announcer_is_ended_is_logged(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        run = self.start(sb, emu)
        hung = self.stop_the_first_announcer(sb, emu, run)
        # A call that comes and goes while the hung announcer is still
        # being ended (within the 13 s it is given): never spoken, logged.
        emu.play(uk_block("5559876"))
        emu.ring_until(lambda: False, gap=RING_GAP, limit=2.0)
        run.wait_status("call ended", 2)
        self.assertTrue(alive(hung))
        status = run.stderr()
        self.assertIn("call from 5559876 not announced: the announcer was "
                      "busy; logged", status)
        self.assertEqual(len(self.calls_played(sb)), 1)
        self.wait_logged(run, sb, [b"5551234 - Ann Lee", b"5559876 - Bob"],
                         timeout=5)
        self.assertNotIn("cannot write", run.stderr())

    # A call over within milliseconds.

    def test_call_ended_at_once_then_next_call_announced(self):
        sb = self.sandbox()
        server = self.ncid_server()
        run = self.start(sb, server, ring_timeout=8)
        server.send(b"".join(l.encode() + b"\r\n" for l in (
            cid_line("5551234", "ANN LEE"), cidinfo_line(0))))
        run.wait_status("call ended on line POTS")
        time.sleep(2.0)
        server.send_line(cid_line("5559876", "BOB"))
        sent = time.monotonic()
        # Announced at once, not once the deaf announcer is terminated.
        self.ncid_ring_until(server, lambda: self.words(sb, 1) >= 1,
                             limit=15)
        self.assertLess(time.monotonic() - sent, 5.0,
                        "second call announced only after %.1f s"
                        % (time.monotonic() - sent))
        self.ncid_ring_until(server, lambda: self.words(sb, 1) >= WHOLE_CYCLE)
        server.send_line(cidinfo_line(0))
        run.wait_status("call ended on line POTS", 2)
        self.assertAnnounced(sb, 1, "5559876", run.t_start)
        self.assertNotIn("terminating", run.stderr())
        self.assertEqual(self.calls_logged(sb)[-1], b"5559876 - Bob")

    def test_modem_no_carrier_at_once_then_next_call_announced(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        run = self.start(sb, emu)
        # The ring after the block starts annc; NO CARRIER right after it.
        emu.play(uk_block("5551234") + [(0, "RING"), (0, "NO CARRIER")])
        run.wait_status("call ended")
        time.sleep(2.0)
        emu.play(uk_block("5559876"))
        sent = time.monotonic()
        emu.ring_until(lambda: self.words(sb, 1) >= 1, gap=RING_GAP,
                       limit=15)
        self.assertLess(time.monotonic() - sent, 5.0,
                        "second call announced only after %.1f s"
                        % (time.monotonic() - sent))
        self.ring_until_spoken(emu, sb, 1, words=WHOLE_CYCLE)
        run.wait_status("call ended", 2)
        self.assertAnnounced(sb, 1, "5559876", run.t_start)
        self.assertNotIn("terminating", run.stderr())
        self.assertEqual(self.calls_logged(sb)[-1], b"5559876 - Bob")

    # Calls from an NCID server: one line, many lines.

    def test_two_cid_lines_on_one_line_are_two_calls(self):
        sb = self.sandbox()
        server = self.ncid_server()
        run = self.start(sb, server, ring_timeout=8)
        server.send_line(cid_line("5551234", "ANN LEE"))
        self.ncid_ring_until(server, lambda: self.words(sb, 0) >= 3)
        server.send_line(cid_line("5559876", "BOB"))
        self.ncid_ring_until(server,
                             lambda: self.words(sb, 1) >= WHOLE_CYCLE)
        server.send_line(cidinfo_line(0))
        run.wait_status("call ended on line POTS", 2)
        self.wait_logged(run, sb, [b"5551234 - Ann Lee", b"5559876 - Bob"])
        self.assertAnnounced(sb, 1, "5559876", run.t_start)
        status = run.stderr()
        self.assertIn("call from 5559876 (BOB) on line POTS\n", status)

    def test_ten_lines_at_once_none_dropped_silently(self):
        sb = self.sandbox()
        server = self.ncid_server()
        run = self.start(sb, server, ring_timeout=3)
        numbers = ["55510%02d" % i for i in range(10)]
        server.send(b"".join(cid_line(n, line="L%d" % i).encode() + b"\r\n"
                             for i, n in enumerate(numbers)))
        # Every call is said, and ends by the ring time-out.
        run.wait_for(lambda: all(("call from %s on line L%d" % (n, i))
                                 in run.stderr()
                                 for i, n in enumerate(numbers)),
                     "each call said", 20)
        run.wait_for(lambda: run.stderr().count("call ended on line") >= 8,
                     "the followed calls ended", 20)
        run.wait_for(lambda: run.announcers() == [], "announcers gone", 20)
        calls = sorted(n.encode() for n in numbers)
        run.wait_for(lambda: sorted(self.calls_logged(sb)) == calls,
                     "each call logged (the log holds %r)"
                     % self.calls_logged(sb), 15)

    # A blocked standard error.

    def test_full_stderr_pipe_neither_loses_calls_nor_blocks_sigterm(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        r, w = os.pipe()
        self.addCleanup(os.close, r)
        self.addCleanup(os.close, w)
        fcntl.fcntl(w, fcntl.F_SETPIPE_SZ, 4096)
        fcntl.fcntl(w, fcntl.F_SETFL, os.O_NONBLOCK)
        def fill():
            try:
                while True:
                    os.write(w, b"x" * 4096)
            except BlockingIOError:
                pass
        fill()                      # full before annc-line writes a byte
        fcntl.fcntl(w, fcntl.F_SETFL, 0)
        run = self.start(sb, emu, stderr=w, wait_ready=False)
        emu.wait_command("AT+VCID=1")
        time.sleep(0.5)
        emu.play(north_american_block("5551234", "ANN LEE"))
        self.ring_until_spoken(emu, sb, 0, words=WHOLE_CYCLE)
        self.wait_logged(run, sb, [b"5551234 - Ann Lee"])
        run.wait_for(lambda: run.announcers() == [], "announcer gone", 10)
        # Standard error flows again: the next status line says how many
        # were dropped.
        fcntl.fcntl(r, fcntl.F_SETFL, os.O_NONBLOCK)
        try:
            while os.read(r, 65536):
                pass
        except BlockingIOError:
            pass
        emu.play(uk_block("5559876"))
        self.ring_until_spoken(emu, sb, 1, words=WHOLE_CYCLE)
        self.wait_logged(run, sb, [b"5551234 - Ann Lee", b"5559876 - Bob"])
        said = b""
        def read_some():
            nonlocal said
            try:
                said += os.read(r, 65536)
            except BlockingIOError:
                pass
            return b"call from 5559876" in said
        wait_until(read_some, 10, "the second call said")
        match = re.search(rb"annc-line: (\d+) status lines dropped while "
                          rb"standard error was blocked\n", said)
        self.assertIsNotNone(match, said)
        self.assertGreaterEqual(int(match.group(1)), 3, said)
        # Blocked again, in the middle of a call: SIGTERM still ends it.
        fcntl.fcntl(w, fcntl.F_SETFL, os.O_NONBLOCK)
        fill()
        emu.play(north_american_block("5551234", "ANN LEE"))
        emu.ring_until(lambda: self.words(sb, 2) >= 3, gap=RING_GAP)
        run.signal(signal.SIGTERM)
        sent = time.monotonic()
        self.assertEqual(run.wait(2.0), 0)
        self.assertLess(time.monotonic() - sent, 2.0)

    # A silent NCID server.

    def test_silent_server_is_connected_to_again(self):
        sb = self.sandbox()
        server = self.ncid_server(silent=1)
        run = self.start(sb, server, ring_timeout=8, wait_ready=False)
        first = server.wait_accepted(1)[0]
        times = server.wait_accepted(2, timeout=20)
        self.assertLess(times[1] - first, 12.0)
        self.assertGreater(times[1] - first, 9.0)
        run.wait_status("connection to NCID server 127.0.0.1:%d lost (it "
                        "said nothing for 10 s); connecting again"
                        % server.port)
        # The second connection is served: calls come again.
        run.wait_status("connected to NCID server")
        server.send_line(cid_line("5559876", "BOB"))
        self.ncid_ring_until(server, lambda: self.words(sb, 0) >= WHOLE_CYCLE)
        server.send_line(cidinfo_line(0))
        run.wait_status("call ended on line POTS")
        self.assertEqual(self.calls_logged(sb), [b"5559876 - Bob"])

    # An absurd number.

    def assertUnknownWithOneStatusLine(self, run, sb):
        run.wait_for(lambda: run.announcers() == [], "announcer gone", 10)
        self.assertEqual(self.calls_logged(sb), [b"Unknown"])
        played = self.calls_played(sb)
        self.assertEqual(len(played), 1, played)
        self.assertIn(NOPHONE, played[0])
        status = run.stderr()
        said = re.findall(r"annc-line: a number of (\d+) digits is no phone "
                          r"number: announced as Unknown\n", status)
        self.assertEqual(len(said), 1, status)
        self.assertGreater(int(said[0]), 32)
        self.assertIn("call from Unknown", status)
        self.assertNotIn("5" * 33, status)

    def test_megabyte_number_line_from_the_modem_is_unknown(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        run = self.start(sb, emu)
        emu.play([(0, "RING"), (0.15, "DATE = 1124"), (0.01, "TIME = 1806"),
                  (0.01, "NMBR = " + "5" * (1 << 20))])
        self.ring_until_spoken(emu, sb, 0, words=6)
        run.wait_status("call ended")
        self.assertUnknownWithOneStatusLine(run, sb)

    def test_number_of_40_digits_from_ncid_is_unknown(self):
        sb = self.sandbox()
        server = self.ncid_server()
        run = self.start(sb, server, ring_timeout=8)
        server.send_line(cid_line("1234567890" * 4, "ANN LEE"))
        run.wait_status("call from Unknown")
        self.ncid_ring_until(server, lambda: self.words(sb, 0) >= 6)
        server.send_line(cidinfo_line(0))
        run.wait_status("call ended on line POTS")
        self.assertUnknownWithOneStatusLine(run, sb)


if __name__ == "__main__":
    unittest.main()
