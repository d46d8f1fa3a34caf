"""End-to-end tests of annc under hostile or broken input: spoiled
recordings, huge phone books and books with NUL bytes, arguments of
100 000 bytes, and a caller name made of escape sequences.

Each test shows that nothing is lost (every word, log line and name byte
that can get through does) and that annc ends with the exit code its
README documents.  Faults that the other end-to-end files already provoke
(a missing recording, a recording that is a folder or plain text) are not
repeated here.
"""

import os
import random
import re
import signal
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import (  # noqa: E402
    BANNER, NOPHONE, SEPARATOR, AnncTestCase, caller_line, candidate_cycles,
    TITLE_RESTORE, TITLE_SAVE, file_name, log_lines, run_cycles, run_parallel,
    title_sequence)

KEY = b"k"
MIB = 1 << 20


def caret_notation(data):
    """Control bytes as the log writes them in the C locale: ^@ to ^_, ^?
    for DEL, and M-^@ to M-^_ for the C1 bytes 0x80 to 0x9f."""
    return re.sub(rb"[\x00-\x1f\x7f-\x9f]",
                  lambda m: (b"M-^" if m.group()[0] >= 0x80 else b"^")
                  + bytes([(m.group()[0] & 0x7f) ^ 0x40]), data)


class SpoiledRecordingTest(AnncTestCase):
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
                # Every other word plays whole; 7 beeps each time it is
                # said (in the number, and in the time at hh:x7 or 7 past).
                self.assertCycles(r, "1777", 1)
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


class HugePhoneBookTest(AnncTestCase):
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


class LongArgumentTest(AnncTestCase):
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
                    + caller_line(number) + TITLE_RESTORE)
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


class HostileNameTest(AnncTestCase):
    """A phone-book name made of escape sequences, on a terminal."""

    NAME = b"\x1b]0;pwned\x07\x1b[2J\x1b[31m"

    def test_escape_sequences_of_the_name_never_reach_the_terminal(self):
        sb = self.sandbox(phone_book=b"5551234=" + self.NAME + b"\r\n")
        r = run_cycles(sb, ["5551234"])
        self.assertExit(r, 0)
        self.assertCycles(r, "5551234", 1)
        # annc's own sequences (title saved, title set, title restored)
        # are the only ESCs and the one BEL; the name's control bytes are
        # dropped from the title and shown as ^X in the caller line.
        self.assertEqual(r.stdout.count(b"\x1b"), 3, r.stdout)
        self.assertEqual(r.stdout.count(b"\x07"), 1, r.stdout)
        self.assertEqual(
            r.stdout,
            TITLE_SAVE + b"\x1b]0;5551234 - ]0;pwned[2J[31m\x07" + BANNER
            + b"5551234 - ^[]0;pwned^G^[[2J^[[31m\r\n" + TITLE_RESTORE)
        self.assertEqual(r.termios_after, r.termios_before)
        # Nor do they reach whoever reads the log.
        self.assertOneCallLogged(sb.log_bytes(),
                                 b"5551234 - ^[]0;pwned^G^[[2J^[[31m")

    def test_c1_controls_of_the_name_never_reach_the_terminal(self):
        # CSI as the byte 0x9b drives a terminal in the C locale, as the
        # character U+009B (C2 9B) one in a UTF-8 locale; each is shown as
        # M-^[ in the caller line and the log, and left out of the title.
        # What is a letter or an invalid byte in that locale passes.
        cases = [
            ("C", b"A\x9b2J\x9b]0;x\x9c\xe9\xc2\x9b",
             b"A2J]0;x\xe9\xc2", b"AM-^[2JM-^[]0;xM-^\\\xe9\xc2M-^["),
            ("C.UTF-8", b"A\xc2\x9b2J\xc2\x9b]0;x\xc2\x9c\xc3\xa9\x9b",
             b"A2J]0;x\xc3\xa9\x9b", b"AM-^[2JM-^[]0;xM-^\\\xc3\xa9\x9b"),
        ]
        for locale, name, titled, shown in cases:
            with self.subTest(locale=locale):
                sb = self.sandbox(phone_book=b"5551234=" + name + b"\r\n")
                r = run_cycles(sb, ["5551234"],
                               env=sb.env(extra={"LC_ALL": locale}))
                self.assertExit(r, 0)
                self.assertEqual(
                    r.stdout,
                    TITLE_SAVE + b"\x1b]0;5551234 - " + titled + b"\x07"
                    + BANNER + b"5551234 - " + shown + b"\r\n"
                    + TITLE_RESTORE)
                self.assertOneCallLogged(sb.log_bytes(),
                                         b"5551234 - " + shown)


if __name__ == "__main__":
    unittest.main()
