"""End-to-end tests of annc under faults: a log on a full disk, spoiled
recordings, huge or hostile phone books and arguments, a serial line that
hangs up or never ends its line, signals that arrive while a word is being
played, and a caller name made of escape sequences.

Each test shows that nothing is lost (every word, log line, name byte and
modem byte that can get through does) and that annc ends with the exit code
its README documents.  Faults that the other end-to-end files already
provoke (standard output closed or without a reader, no sound device, a
missing recording, a recording that is a folder or plain text) are not
repeated here.
"""

import array
import fcntl
import os
import random
import re
import signal
import struct
import sys
import termios
import threading
import unittest
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from annc_harness import (  # noqa: E402
    BANNER, CODE_WORD, MARKER, NOPHONE, NUMBER_WORDS, SEPARATOR,
    SERIAL_CONFIRMATIONS, WORD_CODE, AnncTestCase, SerialLine,
    candidate_cycles, caller_line, file_name, parse_log_line, run_cycles,
    run_parallel, title_sequence)

KEY = b"k"
SETUP_FAILED = 254
MIB = 1 << 20


def rss_kib(pid):
    """Resident memory of a process in KiB (VmRSS)."""
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS for process %d" % pid)


def log_lines(data):
    """The log's lines, parsed; the log must end with a line end."""
    assert data is None or data == b"" or data.endswith(b"\r\n"), data[-80:]
    if not data:
        return []
    return [parse_log_line(line) for line in data.split(b"\r\n")[:-1]]


def caret_notation(data):
    """Control bytes as the log writes them: ^@ to ^_, and ^? for DEL."""
    return re.sub(rb"[\x00-\x1f\x7f]",
                  lambda m: b"^" + bytes([m.group()[0] ^ 0x40]), data)


class FaultTestCase(AnncTestCase):

    def assertOneCallLogged(self, log, message):
        lines = log_lines(log)
        self.assertEqual(len(lines), 1, (log or b"")[:200])
        self.assertIsNotNone(lines[0], log[:200])
        self.assertEqual(lines[0]["prefix"], b" ")
        # Compared by length first, so that a failure does not print MBs.
        self.assertEqual(len(lines[0]["message"]), len(message))
        self.assertTrue(lines[0]["message"] == message,
                        "logged message differs")

    def serial(self):
        line = SerialLine()
        self.addCleanup(line.close)
        return line


class FullDiskLogTest(FaultTestCase):
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


class SpoiledRecordingTest(FaultTestCase):
    """A 7.wav that libsndfile cannot read beeps for each 7 and nothing
    else; one cut short in its samples plays the samples it holds."""

    @staticmethod
    def good_recording(sb, word):
        with open(os.path.join(sb.sound_dir, file_name(word)), "rb") as f:
            return f.read()

    def spoilers(self):
        def empty(sb, good):
            return b""

        def random_bytes(sb, good):
            return random.Random(7).randbytes(4096)

        def cut_in_header(sb, good):
            return good[:30]               # inside the fmt chunk

        def unknown_encoding(sb, good):
            # A RIFF/WAVE header whose fmt chunk names no known encoding,
            # followed by the samples.
            fmt = struct.pack("<HHIIHH", 0x7A7A, 1, 8000, 16000, 2, 16)
            data = good[44:]
            body = (b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
                    + b"data" + struct.pack("<I", len(data)) + data)
            return b"RIFF" + struct.pack("<I", len(body)) + body

        def garbage_after_header(sb, good):
            # The header says 16-bit PCM, then the chunk sizes are garbage.
            return good[:12] + b"fmt " + b"\xff\xff\xff\xff" \
                + random.Random(8).randbytes(2000)
        return [("empty file", empty), ("random bytes", random_bytes),
                ("cut inside the header", cut_in_header),
                ("unknown encoding", unknown_encoding),
                ("garbage chunk sizes", garbage_after_header)]

    def test_unreadable_recording_beeps_for_that_word_only(self):
        # 1777: 17, then 77 (70, 7); only the 7 is spoiled.
        def one(name, spoil):
            sb = self.sandbox()
            data = spoil(sb, self.good_recording(sb, "7"))
            sb.remove_recording("7")
            with open(os.path.join(sb.sound_dir, "7.wav"), "wb") as f:
                f.write(data)
            return name, run_cycles(sb, ["1777"], stdin="pipe",
                                    stdout="pipe")
        jobs = [lambda n=n, s=s: one(n, s) for n, s in self.spoilers()]
        for name, r in run_parallel(jobs, workers=3):
            with self.subTest(recording=name):
                self.assertExit(r, 0)
                # Every other word plays whole; 7 beeps once per cycle.
                self.assertCycles(r, "1777", 1)
                self.assertEqual(r.beeps, 1, r.describe())
                self.assertEqual(r.words[-4:],
                                 [SEPARATOR, "17", "70", SEPARATOR])
                self.assertEqual(r.stdout, BANNER + caller_line("1777"))

    def test_recording_cut_short_plays_what_it_holds(self):
        # The header promises 64 samples; 30 follow.  They play, no beep.
        sb = self.sandbox()
        good = self.good_recording(sb, "7")
        self.assertEqual(good[36:40], b"data")
        with open(os.path.join(sb.sound_dir, "7.wav"), "wb") as f:
            f.write(good[:44 + 60])
        r = run_cycles(sb, ["1777"], stdin="pipe", stdout="pipe")
        self.assertExit(r, 0)
        self.assertEqual(r.beeps, 0, r.describe())
        played = sb.captured()
        self.assertEqual([w.label() for w in played[-5:-2]],
                         [SEPARATOR, "17", "70"])
        cut = played[-2]
        self.assertEqual((cut.name, cut.samples), ("7", 30), r.describe())
        self.assertEqual(played[-1].label(), SEPARATOR)


class HugePhoneBookTest(FaultTestCase):
    """Phone books far beyond any real one, and books with NUL bytes."""

    def book_path(self, sb):
        return os.path.join(sb.sound_dir, "aon.db")

    def lookups(self, sb, numbers):
        """Runs annc once per number (key already pressed); returns the
        message each logged."""
        found = {}
        for number in numbers:
            path = os.path.join(sb.root, "lookup.log")
            if os.path.exists(path):
                os.remove(path)
            r = sb.run([number, "/L:" + path], stdin=KEY, timeout=60)
            self.assertExit(r, 0)
            self.assertEqual(r.stdout, BANNER)
            lines = log_lines(sb.read_file(path))
            self.assertEqual(len(lines), 1)
            found[number] = lines[0]["message"]
        return found

    def test_hundred_megabytes_of_random_bytes(self):
        sb = self.sandbox(phone_book=None)
        path = self.book_path(sb)
        tail = b"\n5551234=Found At End\r\nAb5559876=Mixed Case\r\n"
        with open(path, "wb") as f:
            for _ in range(100):
                f.write(os.urandom(MIB).replace(b"\0", b"\1"))
            f.write(tail)
        with self.subTest("no NUL: the last lines are found"):
            self.assertEqual(
                self.lookups(sb, ["5551234", "aB5559876", "5550000"]),
                {"5551234": b"5551234 - Found At End",
                 "aB5559876": b"aB5559876 - Mixed Case",
                 "5550000": b"5550000"})
        with self.subTest("a NUL early: the text ends there"):
            with open(path, "r+b") as f:
                f.write(os.urandom(4096) + b"\0")
            self.assertEqual(
                self.lookups(sb, ["5551234", "aB5559876"]),
                {"5551234": b"5551234", "aB5559876": b"aB5559876"})

    def test_nul_at_start(self):
        sb = self.sandbox(phone_book=b"\x005551234=Ann Lee\r\n")
        self.assertEqual(self.lookups(sb, ["5551234", "x"]),
                         {"5551234": b"5551234", "x": b"x"})

    def test_ten_megabyte_name(self):
        # Every byte of the name but NUL, CR and LF, in one line of 10 MB;
        # into a pipe the caller line carries it exactly; the log too, with
        # its control bytes in caret notation.
        rng = random.Random(10)
        name = bytes(b for b in rng.randbytes(10 * MIB + 4096)
                     if b not in (0, 10, 13))[:10 * MIB]
        sb = self.sandbox(phone_book=b"1=One\r\n5551234=" + name + b"\r\n")
        r = run_cycles(sb, ["5551234"], stdin="pipe", stdout="pipe",
                       timeout=60)
        self.assertExit(r, 0)
        self.assertCycles(r, "5551234", 1)
        expected = BANNER + caller_line("5551234", name)
        self.assertEqual(len(r.stdout), len(expected))
        self.assertTrue(r.stdout == expected, "caller line differs")
        self.assertOneCallLogged(sb.log_bytes(),
                                 b"5551234 - " + caret_notation(name))


class LongArgumentTest(FaultTestCase):
    """An argument of 100 000 bytes."""

    LENGTH = 100000

    def test_unknown_number_of_100_kb(self):
        # It holds a capital X: "unknown number" is spoken; the title, the
        # caller line and the log carry the whole of it.
        pattern = b"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-+#*"
        number = (pattern * (self.LENGTH // len(pattern) + 1))[:self.LENGTH]
        self.assertIn(b"X", number)
        sb = self.sandbox()
        r = run_cycles(sb, [number])
        self.assertExit(r, 0)
        self.assertCycles(r, number, 1)
        self.assertEqual(r.words[-3:], [SEPARATOR, NOPHONE, SEPARATOR])
        expected = (title_sequence(number + b" - ") + BANNER
                    + caller_line(number))
        self.assertEqual(len(r.stdout), len(expected))
        self.assertTrue(r.stdout == expected, "title or caller line differs")
        self.assertOneCallLogged(sb.log_bytes(), number)

    def test_digits_of_100_kb_spoken_group_by_group(self):
        # 50 000 groups would take hours: the test listens to the first
        # ones, then ends annc with a signal.
        number = b"0123456789" * (self.LENGTH // 10)
        sb = self.sandbox()
        launch = sb.launch([number], stdin="pipe")
        wanted_groups = 6
        group_words = 2                    # 01, 23, 45, ...: two words each

        def groups_spoken():
            names = [w.name for w in sb.captured()]
            if SEPARATOR not in names:
                return 0
            return (len(names) - names.index(SEPARATOR) - 1) // group_words
        try:
            launch.wait_until(lambda: groups_spoken() >= wanted_groups, 30,
                              "%d groups spoken" % wanted_groups)
        finally:
            launch.signal(signal.SIGTERM)
        r = launch.wait(15)
        self.assertEqual(r.returncode, -signal.SIGTERM, r.describe())
        # Whole words only (the last one may have been cut by the signal).
        words = [w.label() for w in sb.captured() if w.whole]
        options = candidate_cycles(number, r.t_start, r.t_end)
        self.assertTrue(any(c[:len(words)] == words for c in options),
                        r.describe())
        self.assertEqual(words[words.index(SEPARATOR) + 1:][:10],
                         ["0", "1", "20", "3", "40", "5", "60", "7", "80",
                          "9"])
        expected = BANNER + caller_line(number)
        self.assertTrue(r.stdout == expected, "caller line differs")
        self.assertOneCallLogged(sb.log_bytes(), number)


class SerialLineFaultTest(FaultTestCase):
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
        try:
            launch.wait_words(1)
            line.close_master()
            launch.wait_cycle_started(2, 20)
            early = rss_kib(launch.pid)
            launch.wait_cycle_started(5, 30)
            late = rss_kib(launch.pid)
            launch.press_key()
        except BaseException:
            launch.kill()
            raise
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
        try:
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
        except BaseException:
            launch.kill()
            raise
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


class SignalDuringWordTest(FaultTestCase):
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
            f.write('pcm.!default {\n'
                    '  type file\n'
                    '  slave.pcm { type null }\n'
                    '  file "%s"\n'
                    '  format "raw"\n'
                    '  truncate true\n'
                    '}\n' % fifo)
        for word in NUMBER_WORDS:        # the hour comes first: long words
            values = [MARKER] + [WORD_CODE[word]] * (self.WORD_SAMPLES - 1)
            with wave.open(os.path.join(sb.sound_dir, file_name(word)),
                           "wb") as w:
                w.setnchannels(1)
                w.setsampwidth(2)
                w.setframerate(8000)
                w.writeframes(struct.pack("<%dh" % len(values), *values))
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
            try:
                launch.wait_until(lambda: self.queued(reader) >= 4096, 20,
                                  "the first word on its way")
                during = termios.tcgetattr(launch._pty_slave)
                still_running = launch.running()
                launch.signal(sig)
            except BaseException:
                launch.kill()
                raise
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
                                 + caller_line("5"))
                # What got out is the start of one word, cut off.
                samples = struct.unpack("<%dh" % (len(played) // 2),
                                        played[:len(played) & ~1])
                self.assertGreater(len(samples), 1)
                self.assertLess(len(samples), self.WORD_SAMPLES)
                self.assertEqual(samples[0], MARKER)
                self.assertIn(CODE_WORD.get(samples[1]), NUMBER_WORDS)
                self.assertEqual(set(samples[1:]), {samples[1]})


class HostileNameTest(FaultTestCase):
    """A phone-book name made of escape sequences, on a terminal."""

    NAME = b"\x1b]0;pwned\x07\x1b[2J\x1b[31m"

    def test_escape_sequences_of_the_name_never_reach_the_terminal(self):
        sb = self.sandbox(phone_book=b"5551234=" + self.NAME + b"\r\n")
        r = run_cycles(sb, ["5551234"])
        self.assertExit(r, 0)
        self.assertCycles(r, "5551234", 1)
        # annc's own title sequence is the one ESC and the one BEL; the
        # name's control bytes are dropped from the title and shown as ^X
        # in the caller line.
        self.assertEqual(r.stdout.count(b"\x1b"), 1, r.stdout)
        self.assertEqual(r.stdout.count(b"\x07"), 1, r.stdout)
        self.assertEqual(
            r.stdout,
            b"\x1b]0;5551234 - ]0;pwned[2J[31m\x07" + BANNER
            + b"5551234 - ^[]0;pwned^G^[[2J^[[31m\r\n")
        self.assertEqual(r.termios_after, r.termios_before)
        # Nor do they reach whoever reads the log.
        self.assertOneCallLogged(sb.log_bytes(),
                                 b"5551234 - ^[]0;pwned^G^[[2J^[[31m")


if __name__ == "__main__":
    unittest.main()
