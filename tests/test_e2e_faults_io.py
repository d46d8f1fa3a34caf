"""End-to-end tests of annc when the world around it fails: a log on a
full disk, a serial line that hangs up or never ends its line, and signals
that arrive while a word is being played.

Each test shows that nothing is lost (every word, log line and modem byte
that can get through does) and that annc ends with the exit code its
README documents.  Faults that the other end-to-end files already provoke
(standard output closed or without a reader, no sound device) are not
repeated here.
"""

import array
import fcntl
import os
import random
import signal
import struct
import sys
import termios
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import (  # noqa: E402
    BANNER, CODE_WORD, MARKER, NUMBER_WORDS, SEPARATOR, SERIAL_CONFIRMATIONS,
    AnncTestCase, caller_line, capture_asoundrc, file_name, log_lines,
    TITLE_RESTORE, rss_kib, run_cycles, run_parallel, title_sequence,
    write_word_wav)

KEY = b"k"
SETUP_FAILED = 254


class FullDiskLogTest(AnncTestCase):
    """/L:/dev/full: opening works, every write fails with ENOSPC."""

    def test_call_announced_though_its_line_is_lost(self):
        sb = self.sandbox()
        r = run_cycles(sb, ["1777", "/L:/dev/full"], stdin="pipe",
                       stdout="pipe")
        self.assertExit(r, 0)
        self.assertCycles(r, "1777", 1)
        self.assertEqual(r.stderr, b"")
        self.assertEqual(r.stdout, BANNER + caller_line("1777"))
        # Nothing was written anywhere else instead.
        self.assertIsNone(sb.log_bytes())
        self.assertEqual(os.listdir(sb.cwd), [])

    def test_serial_failure_line_lost_keeps_its_exit_code(self):
        sb = self.sandbox()
        r = sb.run(["5551234", "/H:abc", "/L:/dev/full"], stdin=KEY,
                   timeout=15)
        self.assertExit(r, SETUP_FAILED)
        self.assertEqual(r.stdout, b"")
        self.assertNothingPlayed(r)
        self.assertIsNone(sb.log_bytes())


class SerialLineFaultTest(AnncTestCase):
    """The modem side misbehaves during the call."""

    SLACK_KIB = 1024

    def cycles_done(self, sb):
        return [w.name for w in sb.captured()].count(SEPARATOR) // 2

    def test_line_hung_up_during_call(self):
        # Every read from the dead line fails; the failure is logged the
        # first time only; the call goes on cycle after cycle without
        # growing, and a key ends it with 0.
        sb = self.sandbox()
        line = self.serial()
        launch = sb.launch(["12", "/H:%d" % line.fd], stdin="pipe",
                           serial=line)
        with launch:
            launch.wait_words(1)
            line.close_master()
            launch.wait_cycle_started(2, 20)
            early = rss_kib(launch.pid)
            launch.wait_cycle_started(5, 30)
            late = rss_kib(launch.pid)
            launch.press_key()
        r = launch.wait(20)
        self.assertExit(r, 0)
        self.assertLess(late - early, self.SLACK_KIB,
                        "memory grew from %d to %d KiB" % (early, late))
        cycles = r.words.count(SEPARATOR) // 2
        self.assertGreaterEqual(cycles, 5)
        self.assertCycles(r, "12", cycles)
        self.assertEqual(r.stdout, SERIAL_CONFIRMATIONS + BANNER
                         + caller_line("12") * cycles)
        lines = log_lines(sb.log_bytes())
        self.assertEqual((lines[0]["prefix"], lines[0]["message"]),
                         (b" ", b"12"))
        failures = lines[1:]
        for l in failures:
            self.assertIsNotNone(l, sb.log_bytes()[-300:])
            self.assertEqual(l["prefix"], b"?")
            self.assertRegex(l["message"], rb"\A GetOverlappedResult \S")
        # A read fails after each spoken number of every cycle since the
        # hang-up, always the same way: one line says so, not one a number.
        self.assertEqual(len(failures), 1, sb.log_bytes()[-300:])

    def test_modem_that_never_ends_its_line(self):
        # 256 KiB without a line end, then RING and CR: a line that ends
        # with RING is no result code.  Each byte is echoed exactly, memory
        # does not grow with them, the announcement resumes when they stop
        # and a key ends it with 0.
        size = 256 * 1024
        rng = random.Random(11)
        junk = bytes(b for b in rng.randbytes(size + 4096)
                     if b not in (10, 13))
        stream = junk[:size - 5] + b"RING\r"
        sb = self.sandbox()
        line = self.serial()
        launch = sb.launch(["12", "/H:%d" % line.fd], stdin="pipe",
                           serial=line)
        sent = [0]

        def modem():
            try:
                for at in range(0, len(stream), 4096):
                    sent[0] += os.write(line.master, stream[at:at + 4096])
            except OSError:
                pass
        writer = threading.Thread(target=modem, daemon=True)
        with launch:
            launch.wait_words(1)
            before = rss_kib(launch.pid)
            writer.start()
            writer.join(60)
            self.assertFalse(writer.is_alive(), "annc stopped reading")
            launch.wait_until(
                lambda: launch.stdout_bytes().count(stream[-64:]) == 1,
                30, "the last bytes echoed")
            after = rss_kib(launch.pid)
            played = len(sb.captured())
            launch.wait_words(played + 3, 20)
            launch.press_key()
        r = launch.wait(20)
        self.assertExit(r, 0)
        self.assertEqual(sent[0], len(stream))
        # No more than half of what was sent, and never above the slack.
        self.assertLess(after - before, min(self.SLACK_KIB, size // 2048),
                        "memory grew from %d to %d KiB" % (before, after))
        cycles = r.words.count(SEPARATOR) // 2
        self.assertCycles(r, "12", cycles)
        head = SERIAL_CONFIRMATIONS + BANNER
        self.assertTrue(r.stdout.startswith(head), r.describe())
        echoed = r.stdout[len(head):].replace(caller_line("12"), b"")
        self.assertEqual(r.stdout[len(head):].count(caller_line("12")),
                         cycles)
        self.assertEqual(len(echoed), len(stream))
        self.assertTrue(echoed == stream, "echo differs from what was sent")


class SignalDuringWordTest(AnncTestCase):
    """SIGINT, SIGTERM and SIGHUP while annc is inside the playing of a
    word, with a terminal as its console."""

    WORD_SAMPLES = 80000    # 160 KB of samples: more than a pipe holds

    def fifo_sandbox(self):
        """A sandbox whose sound device writes into a FIFO the test never
        reads: the first word blocks annc in the middle of its samples.
        Returns the sandbox and the FIFO's reading end."""
        sb = self.sandbox()
        fifo = os.path.join(sb.capture_dir, "FIFO")
        os.mkfifo(fifo)
        reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        self.addCleanup(os.close, reader)
        with open(os.path.join(sb.home, ".asoundrc"), "w") as f:
            f.write(capture_asoundrc(fifo, truncate=True))
        for word in NUMBER_WORDS:        # the hour comes first: long words
            write_word_wav(os.path.join(sb.sound_dir, file_name(word)), word,
                           frames=self.WORD_SAMPLES)
        return sb, reader

    @staticmethod
    def queued(fd):
        count = array.array("i", [0])
        fcntl.ioctl(fd, termios.FIONREAD, count)
        return count[0]

    def test_terminal_restored_after_signal_inside_a_word(self):
        def one(sig):
            sb, reader = self.fifo_sandbox()
            launch = sb.launch(["5"], stdin="pty", stdout="pty")
            with launch:
                launch.wait_until(lambda: self.queued(reader) >= 4096, 20,
                                  "the first word on its way")
                during = termios.tcgetattr(launch._pty_slave)
                still_running = launch.running()
                launch.signal(sig)
            r = launch.wait(15)
            return sig, r, during, still_running, os.read(reader, 1 << 20)
        results = run_parallel([lambda s=s: one(s) for s in
                                (signal.SIGINT, signal.SIGTERM,
                                 signal.SIGHUP)], workers=3)
        for sig, r, during, still_running, played in results:
            with self.subTest(signal=sig.name):
                self.assertTrue(still_running)
                self.assertEqual(r.returncode, -sig, r.describe())
                # The terminal was in annc's mode while the word played,
                # and is back as it was.
                self.assertFalse(during[3] & termios.ICANON)
                self.assertNotEqual(during, r.termios_before)
                self.assertEqual(r.termios_after, r.termios_before)
                self.assertEqual(r.stdout, title_sequence(b"5 - ") + BANNER
                                 + caller_line("5") + TITLE_RESTORE)
                # What got out is the start of one word, cut off.
                samples = struct.unpack("<%dh" % (len(played) // 2),
                                        played[:len(played) & ~1])
                self.assertGreater(len(samples), 1)
                self.assertLess(len(samples), self.WORD_SAMPLES)
                self.assertEqual(samples[0], MARKER)
                self.assertIn(CODE_WORD.get(samples[1]), NUMBER_WORDS)
                self.assertEqual(set(samples[1:]), {samples[1]})


if __name__ == "__main__":
    unittest.main()
