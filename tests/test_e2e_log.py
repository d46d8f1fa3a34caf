"""End-to-end tests of the phone book, the event log and the error reports
for files annc cannot open.

Most runs here get a key before the first cycle (a byte already waiting in
a standard-input pipe): annc then looks the caller up, logs the call, prints
its banner and ends at once, which keeps these tests quick.
"""

import os
import re
import unittest

from harness import (
    BANNER, TIMESTAMP_RE, AnncTestCase, Launch, log_time_in_window,
    parse_log_line, report_re, run_parallel)

KEY = b"k"


class LogAssertions(AnncTestCase):

    def assertCallLogged(self, result, log, message):
        """log is exactly one call line with this message, stamped between
        the start and the end of the run."""
        self.assertIsNotNone(log, "no log written\n" + result.describe())
        self.assertRegex(log, b"\\A  " + TIMESTAMP_RE + b" "
                         + re.escape(message) + b"\r\n\\Z")
        parsed = parse_log_line(log[:-2])
        self.assertTrue(log_time_in_window(parsed["time"], result.t_start,
                                           result.t_end, result.tz_offset),
                        "timestamp %r outside the run (zone %+d min)"
                        % (log[:22], result.tz_offset))


class PhoneBookTest(LogAssertions):
    """The name found for the caller, as logged (and shown)."""

    CASES = [
        # (phone book, argument 1, logged message)
        (b"5551234=Ann Lee\r\n5551234=Bob\r\n", b"5551234",
         b"5551234 - Ann Lee"),                       # first match wins
        (b"5559876 =Cy\r\n", b"5559876", b"5559876"),  # blank is part of it
        (b"ABC=Alpha\r\n", b"abc", b"abc - Alpha"),    # letter case ignored
        (b"5551234=Ann=Lee\r\n", b"5551234", b"5551234 - Ann=Lee"),
        (b"1=One\n2=Two\n", b"2", b"2 - Two"),         # LF line ends
        (b"1=One\r2=Two\r", b"2", b"2 - Two"),         # CR line ends
        (b"1=One\n\r2=Two", b"2", b"2 - Two"),         # LF CR, no last end
        (b"1=One\r\n2=Two", b"1", b"1 - One"),         # CR LF not in name
        (b"1=One\x002=Two\r\n", b"2", b"2"),           # NUL ends the text
        (b"1=One\x002=Two\r\n", b"1", b"1 - One"),
        (b"5551234\r\n5551234=Ann\r\n", b"5551234", b"5551234 - Ann"),
        (b"5551234=\r\n5551234=Ann\r\n", b"5551234", b"5551234"),  # empty
        (b"5551234=Ann\r\n", b" 5551234", b" 5551234"),  # untrimmed
        (b"5551234=Ann\r\n", b"5551234:2", b"5551234 - Ann"),  # colon cut
        (b"5551234=Ann\r\n", b"5550000:9", b"5550000"),
        (b"5551234=Ann\r\n=Nobody\r\n", b":", b" - Nobody"),  # empty number
        (b"", b"5551234", b"5551234"),                 # empty phone book
    ]

    def test_lookup(self):
        def one(case):
            book, number, _ = case
            sb = self.sandbox(phone_book=book)
            return case, sb, sb.run([number], stdin=KEY, timeout=15)
        for (book, number, message), sb, r in run_parallel(
                [lambda c=c: one(c) for c in self.CASES]):
            with self.subTest(book=book, number=number):
                self.assertExit(r, 0)
                self.assertEqual(r.stdout, BANNER)
                self.assertCallLogged(r, sb.log_bytes(), message)

    def test_letter_case_in_utf8_locale(self):
        sb = self.sandbox(phone_book="АБВ=Cyrillic\r\n".encode())
        r = sb.run(["абв"], stdin=KEY, timeout=15,
                   env=sb.env(extra={"LC_ALL": "C.UTF-8"}))
        self.assertExit(r, 0)
        self.assertCallLogged(r, sb.log_bytes(),
                              "абв - Cyrillic".encode())

    def test_empty_message_logs_empty_line(self):
        # An empty number and no name: a line end alone, no timestamp.
        sb = self.sandbox(phone_book=b"5551234=Ann\r\n")
        r = sb.run([":"], stdin=KEY, timeout=15)
        self.assertExit(r, 0)
        self.assertEqual(sb.log_bytes(), b"\r\n")

    def test_missing_phone_book(self):
        sb = self.sandbox(phone_book=None)
        path = os.path.join(sb.sound_dir, "aon.db").encode()
        expected = report_re(b"EFOpenError", b"Cannot open file " + path)
        digits = []
        for stdio in ("pipe", "pty"):
            with self.subTest(stdio=stdio):
                r = sb.run(["5551234"], stdin=KEY if stdio == "pipe"
                           else "pty", stdout=stdio, timeout=15)
                self.assertExit(r, 1)
                # Exactly the report: no title, no banner.
                m = expected.fullmatch(r.stdout)
                self.assertIsNotNone(m, r.describe())
                digits.append(m.group(1))
                self.assertNothingPlayed(r)
                self.assertIsNone(sb.log_bytes(), "call logged")
                if stdio == "pty":
                    self.assertEqual(r.termios_after, r.termios_before)
        # The digits locate the failure: the same on every run.
        self.assertEqual(len(set(digits)), 1, digits)

    def test_phone_book_that_is_not_a_file(self):
        # A folder, or a FIFO nobody ever writes into (annc must not wait
        # for a writer): both fail at once like a missing book.
        for kind, make in (("folder", os.mkdir), ("fifo", os.mkfifo)):
            with self.subTest(kind=kind):
                sb = self.sandbox(phone_book=None)
                path = os.path.join(sb.sound_dir, "aon.db")
                make(path)
                r = sb.run(["5551234"], stdin=KEY, timeout=10)
                self.assertExit(r, 1)
                self.assertIsNotNone(report_re(
                    b"EFOpenError", b"Cannot open file " + path.encode())
                    .fullmatch(r.stdout), r.describe())
                self.assertNothingPlayed(r)
                self.assertIsNone(sb.log_bytes())


class EventLogTest(LogAssertions):
    """Where the call is logged, and the log line itself."""

    def test_call_line(self):
        # Two blanks (the prefix and a separator), the local time, a blank,
        # then number, " - " and name; in the zone TZ says.
        for offset in (0, 330):
            with self.subTest(tz_offset=offset):
                sb = self.sandbox()
                r = sb.run(["5551234"], stdin=KEY, tz_offset=offset,
                           timeout=15)
                self.assertExit(r, 0)
                self.assertCallLogged(r, sb.log_bytes(),
                                      b"5551234 - Ann Lee")

    def test_runs_append(self):
        sb = self.sandbox()
        with open(sb.default_log, "wb") as f:
            f.write(b"earlier\r\n")
        first = sb.run(["5551234"], stdin=KEY, timeout=15)
        second = sb.run(["5559876"], stdin=KEY, timeout=15)
        self.assertExit(first, 0)
        self.assertExit(second, 0)
        log = sb.log_bytes()
        self.assertTrue(log.startswith(b"earlier\r\n"), log)
        lines = log[len(b"earlier\r\n"):].split(b"\r\n")
        self.assertEqual(len(lines), 3, log)
        self.assertEqual(lines[2], b"")
        self.assertCallLogged(first, lines[0] + b"\r\n", b"5551234 - Ann Lee")
        self.assertCallLogged(second, lines[1] + b"\r\n", b"5559876 - Bob")

    def test_log_switch(self):
        sb = self.sandbox()
        os.mkdir(os.path.join(sb.cwd, "sub"))
        absolute = os.path.join(sb.root, "abs.log")
        cases = [
            (["/L:sub/calls.log"], os.path.join(sb.cwd, "sub", "calls.log")),
            (["-l:rel.log"], os.path.join(sb.cwd, "rel.log")),
            (["/L:" + absolute], absolute),
            (["/L:first.log", "/L:second.log"],
             os.path.join(sb.cwd, "first.log")),
        ]
        for switches, path in cases:
            with self.subTest(switches=switches):
                r = sb.run(["5551234"] + switches, stdin=KEY, timeout=15)
                self.assertExit(r, 0)
                self.assertCallLogged(r, sb.read_file(path),
                                      b"5551234 - Ann Lee")
                os.remove(path)
        self.assertIsNone(sb.log_bytes(), "default log written as well")
        self.assertEqual(sorted(os.listdir(sb.cwd)), ["sub"])
        self.assertEqual(os.listdir(os.path.join(sb.cwd, "sub")), [])

    def test_switch_not_a_switch_without_switch_char(self):
        # L:x.log is only an argument; the default log is used.
        sb = self.sandbox()
        r = sb.run(["5551234", "L:x.log"], stdin=KEY, timeout=15)
        self.assertExit(r, 0)
        self.assertCallLogged(r, sb.log_bytes(), b"5551234 - Ann Lee")
        self.assertEqual(os.listdir(sb.cwd), [])

    def test_empty_log_switch_logs_nothing(self):
        sb = self.sandbox()
        before = sorted(os.listdir(sb.root))
        r = sb.run(["5551234", "/L:"], stdin=KEY, timeout=15)
        self.assertExit(r, 0)
        self.assertEqual(r.stdout, BANNER)
        self.assertEqual(sorted(os.listdir(sb.root)), before)
        self.assertEqual(os.listdir(sb.cwd), [])

    def test_empty_log_switch_still_announces(self):
        sb = self.sandbox()
        launch = sb.launch(["12", "/L:"], stdin="pipe")
        launch.wait_cycle_started(1)
        launch.press_key()
        r = launch.wait()
        self.assertExit(r, 0)
        self.assertCycles(r, "12", 1)
        self.assertIsNone(sb.log_bytes())

    def test_log_that_cannot_be_written(self):
        sb = self.sandbox()
        a_file = os.path.join(sb.root, "plain")
        with open(a_file, "wb"):
            pass
        a_folder = os.path.join(sb.root, "folder")
        os.mkdir(a_folder)
        loop = os.path.join(sb.root, "loop")
        os.symlink(loop, loop)
        cases = [
            (os.path.join(sb.root, "missing", "calls.log"),
             b"Invalid filename"),
            (os.path.join(a_file, "calls.log"), b"Invalid filename"),
            (a_folder, b"File access denied"),
            (os.path.join(sb.root, "n" * 300), b"I/O error 36"),
            (loop, b"I/O error 40"),
        ]
        for path, message in cases:
            with self.subTest(message=message, path=path[-40:]):
                r = sb.run(["5551234", "/L:" + path], stdin=KEY, timeout=15)
                self.assertExit(r, 1)
                # The report alone: the banner comes after the log line.
                self.assertRegex(r.stdout, b"\\A" + report_re(
                    b"EInOutError", message).pattern + b"\\Z")
                self.assertNothingPlayed(r)
        self.assertIsNone(sb.log_bytes())
        self.assertEqual(os.listdir(a_folder), [])

    def test_end_of_file_marks(self):
        # A run of Ctrl-Z bytes that ends the file is an old end-of-file
        # mark and goes; a Ctrl-Z with anything after it is data and stays.
        cases = [
            (b"  old\r\n\x1a", b"  old\r\n"),
            (b"  old\r\n\x1a\x1a\x1a\x1a", b"  old\r\n"),
            (b"\x1a", b""),
            (b"  a\x1ab\r\n", b"  a\x1ab\r\n"),
            (b"  a\x1ab\r\n\x1a\x1a", b"  a\x1ab\r\n"),
            (b"  old\r\n\x1a  next\r\n", b"  old\r\n\x1a  next\r\n"),
            (b"\x1a\r\n" + b"z" * 300 + b"\x1a", b"\x1a\r\n" + b"z" * 300),
        ]

        def one(case):
            before, kept = case
            sb = self.sandbox()
            with open(sb.default_log, "wb") as f:
                f.write(before)
            return case, sb, sb.run(["5551234"], stdin=KEY, timeout=15)
        for (before, kept), sb, r in run_parallel(
                [lambda c=c: one(c) for c in cases]):
            with self.subTest(before=before[:20]):
                self.assertExit(r, 0)
                log = sb.log_bytes()
                self.assertTrue(log.startswith(kept), log)
                self.assertCallLogged(r, log[len(kept):],
                                      b"5551234 - Ann Lee")

    def test_many_processes_log_at_once(self):
        # Long names make each line take long to write; every line must be
        # found whole, none lost, none torn or mixed with another.
        writers, rounds = 12, 3
        names = {("555%04d" % i).encode(): (b"Caller%02d " % i) * 300
                 for i in range(writers)}
        sb = self.sandbox(phone_book=b"".join(
            n + b"=" + name + b"\r\n" for n, name in names.items()))
        shared = os.path.join(sb.root, "shared.log")
        results = []
        for _ in range(rounds):
            launches = [Launch(sb, [n, "/L:" + shared], stdin=KEY)
                        for n in names]
            results += [launch.wait(30) for launch in launches]
        for r in results:
            self.assertExit(r, 0)
        log = sb.read_file(shared)
        lines = log.split(b"\r\n")
        self.assertEqual(lines[-1], b"", "log does not end with a line end")
        lines = lines[:-1]
        self.assertEqual(len(lines), writers * rounds)
        seen = {}
        for line in lines:
            m = re.fullmatch(b"  " + TIMESTAMP_RE + rb" (\d+) - (.*)", line,
                             re.S)
            self.assertIsNotNone(m, "torn line %r" % line[:80])
            self.assertEqual(m.group(2), names.get(m.group(1)),
                             "mixed line %r" % line[:80])
            seen[m.group(1)] = seen.get(m.group(1), 0) + 1
        self.assertEqual(seen, {n: rounds for n in names})


if __name__ == "__main__":
    unittest.main()
