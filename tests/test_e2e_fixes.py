"""End-to-end tests of faults met in real use, on the real binary: float
recordings played at their own level, phone books that are not files or that
Notepad saved with a byte-order mark, a log held locked by another process,
the log's time separator and system error texts in other locales.
"""

import fcntl
import math
import os
import struct
import subprocess
import threading
import unittest

from harness import (
    MARKER, NOPHONE, SEPARATOR, WORD_CODE, AnncTestCase, log_line_re,
    report_re, run_cycles, run_parallel, write_float_wav, write_wav)

KEY = b"k"


def unknown_number_samples(sb):
    """The captured samples of the unknown-number recording of the first
    cycle: what lies between the end of the first chime and the marker that
    starts the second one, without the silence around it."""
    raw = sb.captured_raw()
    samples = struct.unpack("<%dh" % (len(raw) // 2), raw)
    chime = WORD_CODE[SEPARATOR]
    i = samples.index(chime)
    while samples[i] == chime:
        i += 1
    end = samples.index(MARKER, i)
    part = list(samples[i:end])
    while part and part[0] == 0:
        part.pop(0)
    while part and part[-1] == 0:
        part.pop()
    return part


def dbfs(peak):
    return 20 * math.log10(peak)


class FloatRecordingTest(AnncTestCase):
    """A floating-point recording plays at the level it was recorded at."""

    def play_as_unknown_number(self, writer, values):
        sb = self.sandbox()
        sb.remove_recording(NOPHONE)
        writer(os.path.join(sb.sound_dir, "nophone.wav"), values)
        r = run_cycles(sb, ["Unknown"], stdin="pipe", stdout="pipe")
        self.assertExit(r, 0)
        self.assertEqual(r.beeps, 0, r.describe())
        return unknown_number_samples(sb)

    def test_quiet_float_recording_stays_quiet(self):
        # A 1 kHz tone at -60 dBFS.
        tone = [0.001 * math.sin(2 * math.pi * k / 8) for k in range(800)]
        played = self.play_as_unknown_number(write_float_wav, tone)
        self.assertTrue(played)
        peak = max(abs(s) for s in played) / 32768
        self.assertAlmostEqual(dbfs(peak), dbfs(max(abs(v) for v in tone)),
                               delta=1.0, msg="played peak %r" % peak)

    def test_float_chime_as_loud_as_the_same_chime_in_16_bit(self):
        # A decaying tone peaking at 0.4 of full scale, once as 16-bit
        # samples and once as the same values in float.
        ints = [int(round(13107 * math.exp(-k / 300)
                          * math.sin(2 * math.pi * (k + 0.5) / 10)))
                for k in range(800)]
        floats = [v / 32768 for v in ints]
        as16, asfloat = run_parallel([
            lambda: self.play_as_unknown_number(write_wav, ints),
            lambda: self.play_as_unknown_number(write_float_wav, floats)],
            workers=2)
        peak = max(map(abs, ints))
        self.assertGreater(peak, 12000)
        self.assertEqual(max(map(abs, as16)), peak)
        self.assertEqual(max(map(abs, asfloat)), peak)
        self.assertEqual(asfloat, as16)


class NotepadPhoneBookTest(AnncTestCase):
    """Phone books as Windows Notepad saves them, with a byte-order mark."""

    BOOK = "5551234=\u00c5se Lee\r\n5559876=Bob\r\n"

    def test_marked_books_find_the_first_line(self):
        books = [("utf-8", b"\xef\xbb\xbf" + self.BOOK.encode("utf-8")),
                 ("utf-16-le", b"\xff\xfe" + self.BOOK.encode("utf-16-le")),
                 ("utf-16-be", b"\xfe\xff" + self.BOOK.encode("utf-16-be"))]
        for encoding, book in books:
            with self.subTest(encoding=encoding):
                sb = self.sandbox(phone_book=book)
                r = sb.run(["5551234"], stdin=KEY,
                           env=sb.env(extra={"LC_ALL": "C.UTF-8"}))
                self.assertExit(r, 0)
                self.assertRegex(sb.log_bytes(), b"\\A" + log_line_re(
                    b" ", b":", "5551234 - \u00c5se Lee".encode("utf-8"))
                    .pattern + b"\\Z")


class LogHeldByAnotherProcessTest(AnncTestCase):
    """Another process holds the log's lock (an editor, a stuck writer)."""

    def hold_lock(self, path):
        fd = os.open(path, os.O_RDWR | os.O_CREAT, 0o644)
        self.addCleanup(os.close, fd)
        fcntl.flock(fd, fcntl.LOCK_EX)
        return fd

    def test_lock_held_past_five_seconds_fails_as_a_sharing_violation(self):
        sb = self.sandbox()
        self.hold_lock(sb.default_log)
        r = sb.run(["5551234"], stdin=KEY, timeout=20)
        self.assertExit(r, 1)
        self.assertIsNotNone(report_re(b"EInOutError", b"I/O error 32")
                             .fullmatch(r.stdout), r.describe())
        self.assertGreaterEqual(r.t_end - r.t_start, 4.5)
        self.assertNothingPlayed(r)
        self.assertEqual(sb.log_bytes(), b"")

    def test_lock_let_go_within_the_time_is_waited_for(self):
        sb = self.sandbox()
        fd = os.open(sb.default_log, os.O_RDWR | os.O_CREAT, 0o644)
        fcntl.flock(fd, fcntl.LOCK_EX)
        release = threading.Timer(1.0, os.close, [fd])
        release.start()
        try:
            r = sb.run(["5551234"], stdin=KEY, timeout=20)
        finally:
            release.join()
        self.assertExit(r, 0)
        self.assertRegex(sb.log_bytes(), b"\\A" + log_line_re(
            b" ", b":", b"5551234 - Ann Lee").pattern + b"\\Z")


def locale_available(name):
    """Whether the C library can set this locale (as installed by
    tools/setup.sh)."""
    probe = subprocess.run(
        ["python3", "-c", "import locale; locale.setlocale(locale.LC_ALL, '')"],
        env=dict(os.environ, LC_ALL=name), capture_output=True)
    return probe.returncode == 0


class LocaleTest(AnncTestCase):
    """The log line in the user's locale."""

    # The separator each locale's time format puts between hour and
    # minute, as the rule gives it: Norwegian writes "kl. %H.%M", the
    # others a multi-byte character, which gives a colon.
    SEPARATORS = [("nb_NO.UTF-8", b"."), ("ja_JP.UTF-8", b":"),
                  ("ko_KR.UTF-8", b":"), ("zh_CN.UTF-8", b":"),
                  ("de_DE.UTF-8", b":"), ("C", b":")]

    def test_time_separator_of_the_locale(self):
        tried = 0
        for name, separator in self.SEPARATORS:
            if not locale_available(name):
                continue
            tried += 1
            with self.subTest(locale=name):
                sb = self.sandbox()
                r = sb.run(["5551234"], stdin=KEY,
                           env=sb.env(extra={"LC_ALL": name}))
                self.assertExit(r, 0)
                self.assertRegex(sb.log_bytes(), b"\\A" + log_line_re(
                    b" ", separator, b"5551234 - Ann Lee").pattern + b"\\Z")
        if tried < 3:
            self.skipTest("run tools/setup.sh for nb_NO, ja_JP, ko_KR, zh_CN")

    def test_system_error_text_in_the_users_language(self):
        # A handle that is not open: the text for EBADF in each language,
        # as the C library gives it to any program.
        def strerror_in(name):
            return subprocess.run(
                ["python3", "-c", "import locale, os; "
                 "locale.setlocale(locale.LC_ALL, ''); "
                 "print(os.strerror(9), end='')"],
                env=dict(os.environ, LC_ALL=name), capture_output=True,
                check=True).stdout
        if not locale_available("de_DE.UTF-8") or \
                strerror_in("de_DE.UTF-8") == b"Bad file descriptor":
            self.skipTest("no German locale or libc translations")
        for name, text in [("C", b"Bad file descriptor"),
                           ("de_DE.UTF-8", strerror_in("de_DE.UTF-8"))]:
            with self.subTest(locale=name):
                sb = self.sandbox()
                r = sb.run(["5551234", "/H:999"], stdin=KEY,
                           env=sb.env(extra={"LC_ALL": name}))
                self.assertExit(r, 254)
                self.assertRegex(sb.log_bytes(), b"\\A" + log_line_re(
                    b"?", b":", b" GetCommTimeouts " + text.rstrip(b"."))
                    .pattern + b"\\Z")


if __name__ == "__main__":
    unittest.main()
