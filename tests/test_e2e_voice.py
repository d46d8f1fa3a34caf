"""End-to-end tests of annc's announcement: what it plays, how keys end it,
what it prints on the console and when it beeps.

Every test runs the real binary in a folder of its own (see the harness package),
captures the sound it plays through ALSA's file plugin and decodes it back
into words, which are compared with the words the rules call for at the
time of the run.
"""

import os
import signal
import termios
import time
import unittest

from harness import (
    BANNER, NOPHONE, SEPARATOR, TITLE_RESTORE, TITLE_SAVE, AnncTestCase,
    caller_line, cycle_pause_ms, run_cycles, run_parallel, title_sequence)


class StartAndKeysTest(AnncTestCase):
    """How a run starts and how a key press ends it."""

    def test_no_arguments_does_nothing(self):
        sb = self.sandbox()
        before = sorted(os.listdir(sb.root))
        with self.subTest("pipes"):
            r = sb.run([], stdin="devnull", timeout=10)
            self.assertExit(r, 0)
            self.assertEqual(r.stdout, b"")
            self.assertEqual(r.stderr, b"")
            self.assertNothingPlayed(r)
        with self.subTest("terminal"):
            # Not even a window title on a terminal; its settings untouched.
            r = sb.run([], stdin="pty", stdout="pty", timeout=10)
            self.assertExit(r, 0)
            self.assertEqual(r.stdout, b"")
            self.assertEqual(r.stderr, b"")
            self.assertEqual(r.termios_after, r.termios_before)
        # No log beside the executable, no default.log in the working
        # folder, no other file anywhere.
        self.assertEqual(sorted(os.listdir(sb.root)), before)
        self.assertEqual(os.listdir(sb.cwd), [])
        self.assertEqual(os.listdir(sb.capture_dir), [])

    def test_key_pending_before_first_cycle_speaks_nothing(self):
        sb = self.sandbox()
        r = sb.run(["5551234"], stdin=b"k", timeout=10)
        self.assertExit(r, 0)
        self.assertEqual(r.stdout, BANNER)     # no caller line, no title
        self.assertEqual(r.stderr, b"")
        self.assertNothingPlayed(r)

    def test_key_on_terminal_ends_after_the_cycle(self):
        sb = self.sandbox()
        r = run_cycles(sb, ["5551234"], cycles=1)
        self.assertExit(r, 0)
        self.assertCycles(r, "5551234", 1)
        self.assertEqual(
            r.stdout, title_sequence(b"5551234 - Ann Lee") + BANNER
            + caller_line("5551234", "Ann Lee") + TITLE_RESTORE)
        self.assertEqual(r.termios_after, r.termios_before,
                         "terminal settings not restored")

    def test_key_in_second_cycle_gives_two_cycles(self):
        sb = self.sandbox()
        r = run_cycles(sb, ["5"], cycles=2)
        self.assertExit(r, 0)
        self.assertCycles(r, "5", 2)
        line = caller_line("5")
        self.assertEqual(r.stdout, title_sequence(b"5 - ") + BANNER
                         + line + line + TITLE_RESTORE)

    def test_key_through_pipe_during_cycle(self):
        # Into a pipe: the exact bytes of banner and caller line, no title.
        sb = self.sandbox()
        r = run_cycles(sb, ["5551234"], cycles=1, stdin="pipe",
                       stdout="pipe")
        self.assertExit(r, 0)
        self.assertCycles(r, "5551234", 1)
        self.assertEqual(r.stdout, BANNER + caller_line("5551234", "Ann Lee"))

    def test_nul_byte_on_terminal_is_no_key(self):
        sb = self.sandbox()
        launch = sb.launch(["5"], stdin="pty", stdout="pty")
        line = caller_line("5")
        launch.wait_stdout_count(line, 1)
        launch.press_key(b"\x00")
        launch.wait_stdout_count(line, 2)
        launch.press_key(b"q")
        r = launch.wait()
        self.assertExit(r, 0)
        self.assertCycles(r, "5", 2)

    def test_end_of_input_is_no_key(self):
        # A launcher that gives annc no console: it announces on until it is
        # stopped, and a signal ends it as it ends any program.
        for stdin in ("devnull", "eof"):
            with self.subTest(stdin=stdin):
                sb = self.sandbox()
                launch = sb.launch(["12"], stdin=stdin)
                launch.wait_cycle_started(2)
                launch.signal(signal.SIGTERM)
                r = launch.wait(10)
                self.assertEqual(r.returncode, -signal.SIGTERM,
                                 r.describe())
                self.assertGreaterEqual(r.words.count(SEPARATOR), 2,
                                        r.describe())

    def test_terminal_restored_when_killed_by_signal(self):
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                sb = self.sandbox()
                launch = sb.launch(["5"], stdin="pty", stdout="pty")
                launch.wait_stdout_count(caller_line("5"), 1)
                during = termios.tcgetattr(launch._pty_slave)
                # While annc runs the terminal gives it single keys, unechoed.
                self.assertFalse(during[3] & termios.ICANON)
                self.assertFalse(during[3] & termios.ECHO)
                launch.signal(sig)
                r = launch.wait(10)
                self.assertEqual(r.returncode, -sig, r.describe())
                self.assertEqual(r.termios_after, r.termios_before)


class AnnouncementTest(AnncTestCase):
    """The words of a cycle: the time, the separators, the number."""

    def run_numbers(self, numbers, **sandbox_kw):
        """Runs one cycle per number, several at once; checks each."""
        def one(number):
            sb = self.sandbox(**sandbox_kw)
            return number, run_cycles(sb, [number], cycles=1)
        for number, r in run_parallel([lambda n=n: one(n) for n in numbers]):
            with self.subTest(number=number):
                self.assertExit(r, 0)
                self.assertCycles(r, number, 1)

    def test_seven_digit_number(self):
        sb = self.sandbox()
        launch = sb.launch(["5551234"], stdin="pty", stdout="pty")
        launch.wait_stdout_count(caller_line("5551234", "Ann Lee"))
        seen = time.monotonic()
        launch.press_key()
        r = launch.wait()
        elapsed = time.monotonic() - seen
        self.assertExit(r, 0)
        # hour, minute, separator, 555, 12, 34, separator
        self.assertCycles(r, "5551234", 1)
        self.assertEqual(r.words[-8:], [SEPARATOR, "500", "50", "5", "12",
                                        "30", "4", SEPARATOR])
        # The cycle holds 250 ms after the opening separator and after each
        # of the three groups, and 450 ms at its end, before the key counts.
        self.assertGreaterEqual(elapsed,
                                cycle_pause_ms("5551234") / 1000 - 0.1)

    def test_clock_in_local_time_zone(self):
        # Half-hour offsets make a clock read in the wrong zone show.
        def one(offset):
            sb = self.sandbox()
            return offset, run_cycles(sb, ["12"], tz_offset=offset)
        for offset, r in run_parallel([lambda o=o: one(o)
                                       for o in (330, -210)]):
            with self.subTest(offset=offset):
                self.assertExit(r, 0)
                self.assertCycles(r, "12", 1)

    def test_groups_by_length(self):
        # Odd lengths start with a group of three, then pairs; groups with
        # leading zeros are their integer values.
        self.run_numbers(["5", "12", "123", "1234", "12345", "123456",
                          "1234567", "12345678", "0500700", "00"])

    def test_spoken_values(self):
        # One group each: zero, the teens, tens, hundreds and what follows
        # them, the exact hundreds.
        self.run_numbers(["0", "10", "15", "20", "21", "99", "100", "105",
                          "110", "115", "120", "123", "200", "999"])

    def test_unknown_number_markers(self):
        # "Unknown" exactly (after trimming), a capital X or a "?" anywhere.
        self.run_numbers(["Unknown", " Unknown ", "12X45", "12?45", "?",
                          "unknown", "UNKNOWN"])
        sb = self.sandbox()
        r = run_cycles(sb, ["Unknown"])
        self.assertEqual(r.words[-3:], [SEPARATOR, NOPHONE, SEPARATOR])

    def test_groups_that_are_not_plain_numbers(self):
        # 12x45: "12x" is not an integer (zero), x45 is hexadecimal 69,
        # blanks around the number are trimmed, signs and $ prefixes read.
        self.run_numbers(["12x45", "x45", " 123 ", "1 2", "+5", "$1F",
                          "0x1"])
        sb = self.sandbox()
        r = run_cycles(sb, ["12x45"])
        self.assertEqual(r.words[-6:], [SEPARATOR, "0", "0", "40", "5",
                                        SEPARATOR])

    def test_empty_number_speaks_time_and_separators(self):
        sb = self.sandbox()
        r = run_cycles(sb, [":"])
        self.assertExit(r, 0)
        self.assertCycles(r, "", 1)
        self.assertEqual(r.words[-2:], [SEPARATOR, SEPARATOR])
        self.assertEqual(r.stdout, title_sequence(b" - ") + BANNER
                         + caller_line("") + TITLE_RESTORE)

    def test_number_cut_at_colon(self):
        sb = self.sandbox()
        r = run_cycles(sb, ["5551234:2"])
        self.assertExit(r, 0)
        self.assertCycles(r, "5551234", 1)

    def test_negative_group(self):
        # 12-5: the groups 12 and -5; -5 is spoken 0 and then -5.wav, which
        # a normal sound folder lacks: one beep.
        sb = self.sandbox()
        r = run_cycles(sb, ["12-5"])
        self.assertExit(r, 0)
        self.assertCycles(r, "12-5", 1)
        self.assertEqual(r.words[-4:], [SEPARATOR, "12", "0", SEPARATOR])
        self.assertEqual(r.beeps, 1, r.describe())

    def test_negative_values_use_files_with_minus_sign(self):
        # Given recordings named -5.wav and -10.wav, they are played.
        def one(number):
            sb = self.sandbox(extra=("-5", "-10"))
            return number, run_cycles(sb, [number])
        results = run_parallel([lambda n=n: one(n) for n in ("12-5", "-15")])
        for number, r in results:
            with self.subTest(number=number):
                self.assertExit(r, 0)
                self.assertCycles(r, number, 1)
                self.assertEqual(r.beeps, 0, r.describe())
        self.assertEqual(results[0][1].words[-5:],
                         [SEPARATOR, "12", "0", "-5", SEPARATOR])
        self.assertEqual(results[1][1].words[-4:],
                         [SEPARATOR, "-10", "-5", SEPARATOR])

    def test_recordings_in_other_pcm_formats(self):
        # 4050607: 405, 06, 07 -> 400 5, 0 6, 0 7; four of these words are
        # 32-bit, 8-bit, stereo and 16 kHz recordings.
        sb = self.sandbox(formats={"400": "pcm32", "5": "pcm8",
                                   "6": "stereo", "7": "rate16k"})
        r = run_cycles(sb, ["4050607"])
        self.assertExit(r, 0)
        self.assertCycles(r, "4050607", 1)
        self.assertEqual(r.words[-8:], [SEPARATOR, "400", "5", "0", "6",
                                        "0", "7", SEPARATOR])


class BeepTest(AnncTestCase):
    """Words that cannot be played become a BEL on standard error."""

    def test_unplayable_recording_beeps_only_that_word(self):
        # 1777: the groups 17 and 77 (seventy, seven); whatever 7.wav is
        # wrong with, each 7 beeps and the words around it still play.
        def missing(sb):
            sb.remove_recording("7")

        def folder(sb):
            sb.remove_recording("7")
            os.mkdir(os.path.join(sb.sound_dir, "7.wav"))

        def garbage(sb):
            sb.remove_recording("7")
            with open(os.path.join(sb.sound_dir, "7.wav"), "wb") as f:
                f.write(b"this is not a wave file\n" * 20)

        def one(name, spoil):
            sb = self.sandbox()
            spoil(sb)
            return name, run_cycles(sb, ["1777"])
        jobs = [lambda n=n, s=s: one(n, s) for n, s in
                (("missing", missing), ("folder", folder),
                 ("not a wave file", garbage))]
        for name, r in run_parallel(jobs):
            with self.subTest(seven=name):
                self.assertExit(r, 0)
                self.assertNotIn("7", r.words)
                self.assertGreaterEqual(r.beeps, 1)
                self.assertCycles(r, "1777", 1)
                # The beeps go to standard error only.
                self.assertEqual(r.stdout, title_sequence(b"1777 - ")
                                 + BANNER + caller_line("1777")
                                 + TITLE_RESTORE)

    def test_no_sound_device_beeps_every_word(self):
        sb = self.sandbox(device="none")
        r = run_cycles(sb, ["1234"])
        self.assertExit(r, 0)
        # Every word of the cycle, separators included, is one BEL.
        self.assertCycles(r, "1234", 1, device_ok=False)
        self.assertEqual(r.stdout, title_sequence(b"1234 - ") + BANNER
                         + caller_line("1234") + TITLE_RESTORE)


class ConsoleOutputTest(AnncTestCase):
    """Standard output: the title, the caller line and broken outputs."""

    NUMBER = b"1\x1b[2J2"                 # an escape sequence in the number
    NAME = b"N\x01ame\tX\x7f"             # control bytes and a TAB

    def control_sandbox(self):
        return self.sandbox(phone_book=self.NUMBER + b"=" + self.NAME
                            + b"\r\n")

    def test_control_bytes_shown_in_caret_notation_on_terminal(self):
        sb = self.control_sandbox()
        r = run_cycles(sb, [self.NUMBER])
        self.assertExit(r, 0)
        text = self.NUMBER + b" - " + self.NAME
        # The title drops every control byte (TAB too); the caller line
        # shows them as ^X, except the TAB.
        self.assertEqual(r.stdout, TITLE_SAVE + b"\x1b]0;1[2J2 - NameX\x07"
                         + BANNER + b"1^[[2J2 - N^Aame\tX^?\r\n"
                         + TITLE_RESTORE)
        self.assertCycles(r, self.NUMBER, 1)

    def test_control_bytes_exact_into_pipe(self):
        sb = self.control_sandbox()
        r = run_cycles(sb, [self.NUMBER], stdin="pipe", stdout="pipe")
        self.assertExit(r, 0)
        self.assertEqual(r.stdout, BANNER + self.NUMBER + b" - " + self.NAME
                         + b"\r\n")

    def test_closed_standard_output(self):
        sb = self.sandbox()
        r = sb.run(["5551234"], stdin=b"k", stdout="closed", timeout=15)
        self.assertExit(r, 1)
        self.assertNothingPlayed(r)
        # The banner went nowhere, least of all into a file annc opened.
        log = sb.log_bytes()
        self.assertIsNotNone(log)
        self.assertNotIn(b"Press ANY KEY", log)
        self.assertEqual(log.count(b"\r\n"), 1, log)

    def test_standard_output_reader_gone(self):
        with self.subTest("key pending"):
            sb = self.sandbox()
            r = sb.run(["5551234"], stdin=b"k", stdout="broken", timeout=15)
            self.assertExit(r, 1)
        with self.subTest("key during the first cycle"):
            sb = self.sandbox()
            launch = sb.launch(["5551234"], stdin="pipe", stdout="broken")
            launch.wait_until(lambda: not launch.running()
                              or sb.captured(), 15, "a word or the end")
            if launch.running():
                launch.press_key()
            r = launch.wait(15)
            self.assertExit(r, 1)


if __name__ == "__main__":
    unittest.main()
