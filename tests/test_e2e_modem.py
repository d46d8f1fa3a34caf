"""End-to-end tests of the serial line: taking over an inherited modem line
and ending the announcement on a modem result code.

The test plays the launcher: it opens a pseudo-terminal pair, sets the
slave up as a launcher sets up a modem port (raw), starts annc with the
slave's descriptor inherited and "/H:" followed by its number, and talks as
the modem on the master side.
"""

import errno
import os
import time
import unittest

from harness import (
    BANNER, SEPARATOR, SERIAL_CONFIRMATIONS, TITLE_RESTORE, AnncTestCase,
    caller_line, candidate_cycles, log_lines, run_parallel)

KEY = b"k"
MODEM_EXIT = 99
SETUP_FAILED = 254


class ModemTestCase(AnncTestCase):

    def log_lines(self, sb, path=None):
        return log_lines(sb.log_bytes(path))

    def assertErrorLogged(self, sb, operation, error_text, path=None):
        """Exactly one line in the log: the "?" line of the operation."""
        lines = self.log_lines(sb, path)
        self.assertEqual(len(lines), 1, sb.log_bytes(path))
        self.assertIsNotNone(lines[0], sb.log_bytes(path))
        self.assertEqual(lines[0]["prefix"], b"?")
        self.assertEqual(lines[0]["message"],
                         b" " + operation + b" " + error_text.encode())

    def assertSpokePrefixOfCycle(self, result, number):
        """What was played before the end is the start of a cycle."""
        options = candidate_cycles(number, result.t_start, result.t_end)
        self.assertTrue(
            any(cycle[:len(result.words)] == result.words
                for cycle in options), result.describe())


class SerialSetUpTest(ModemTestCase):
    """Taking the line over, or failing to."""

    def assertSetUpFailed(self, sb, r, error_text, log_path=None):
        self.assertExit(r, SETUP_FAILED)
        self.assertEqual(r.stdout, b"")        # no banner, no title
        self.assertNothingPlayed(r)
        self.assertErrorLogged(sb, b"GetCommTimeouts", error_text, log_path)

    def test_handle_that_is_not_a_number(self):
        for value in ("abc", "", "7 ", "-"):
            with self.subTest(value=value):
                sb = self.sandbox()
                r = sb.run(["5551234", "/H:" + value], stdin=KEY, timeout=15)
                self.assertSetUpFailed(sb, r, os.strerror(errno.EBADF))

    def test_descriptor_of_a_regular_file(self):
        sb = self.sandbox()
        fd = os.open(os.path.join(sb.root, "not-a-port"),
                     os.O_RDWR | os.O_CREAT)
        self.addCleanup(os.close, fd)
        r = sb.run(["5551234", "/H:%d" % fd], stdin=KEY, pass_fds=(fd,),
                   timeout=15)
        self.assertSetUpFailed(sb, r, os.strerror(errno.ENOTTY))

    def test_failure_goes_to_log_named_by_switch(self):
        # "L:" is taken before "H:", wherever the switches stand.
        sb = self.sandbox()
        r = sb.run(["5551234", "/H:abc", "/L:calls.log"], stdin=KEY,
                   timeout=15)
        path = os.path.join(sb.cwd, "calls.log")
        self.assertSetUpFailed(sb, r, os.strerror(errno.EBADF), path)
        self.assertIsNone(sb.log_bytes())

    def test_good_line(self):
        sb = self.sandbox()
        line = self.serial()
        r = sb.run(["5551234", "/H:%d" % line.fd], stdin=KEY, serial=line,
                   timeout=15)
        self.assertExit(r, 0)
        self.assertEqual(r.stdout, SERIAL_CONFIRMATIONS + BANNER)
        lines = self.log_lines(sb)
        self.assertEqual([(l["prefix"], l["message"]) for l in lines],
                         [(b" ", b"5551234 - Ann Lee")])
        # annc only listens: nothing is ever sent to the modem.
        self.assertEqual(line.received(), b"")

    def test_switch_spellings(self):
        # The value is read as an integer: blanks before it, a sign,
        # hexadecimal prefixes; the switch letter in either case, after
        # '-' or '/'.
        line = self.serial()
        fd = line.fd
        spellings = ["/H:%d" % fd, "-h:%d" % fd, "/h:%d" % fd,
                     "-H:%d" % fd, "/H:+%d" % fd, "/H:  %d" % fd,
                     "/H:$%X" % fd, "/H:0x%x" % fd, "/H:x%X" % fd]

        def one(switch):
            sb = self.sandbox()
            return switch, sb.run(["5551234", switch], stdin=KEY,
                                  serial=line, timeout=15)
        for switch, r in run_parallel([lambda s=s: one(s)
                                       for s in spellings]):
            with self.subTest(switch=switch):
                self.assertExit(r, 0)
                self.assertEqual(r.stdout, SERIAL_CONFIRMATIONS + BANNER)

    def test_switch_without_switch_character(self):
        # H:N is an ordinary argument: no serial line, so the modem is
        # never read and a RING on the line ends nothing.
        sb = self.sandbox()
        line = self.serial()
        launch = sb.launch(["12", "H:%d" % line.fd], stdin="pipe",
                           serial=line)
        launch.wait_cycle_started(1)
        line.send(b"RING\r")
        launch.press_key()
        r = launch.wait()
        self.assertExit(r, 0)
        self.assertEqual(r.stdout, BANNER + caller_line("12"))
        self.assertCycles(r, "12", 1)

    def test_switch_given_twice(self):
        line = self.serial()
        with self.subTest("good one first"):
            sb = self.sandbox()
            r = sb.run(["5551234", "/H:%d" % line.fd, "/H:abc"], stdin=KEY,
                       serial=line, timeout=15)
            self.assertExit(r, 0)
            self.assertEqual(r.stdout, SERIAL_CONFIRMATIONS + BANNER)
        with self.subTest("bad one first"):
            sb = self.sandbox()
            r = sb.run(["5551234", "/H:abc", "-h:%d" % line.fd], stdin=KEY,
                       serial=line, timeout=15)
            self.assertSetUpFailed(sb, r, os.strerror(errno.EBADF))

    def test_switch_as_only_argument(self):
        # Argument 1 is both the number (cut at the colon: "/H") and the
        # switch.
        sb = self.sandbox()
        line = self.serial()
        r = sb.run(["/H:%d" % line.fd], stdin=KEY, serial=line, timeout=15)
        self.assertExit(r, 0)
        self.assertEqual(r.stdout, SERIAL_CONFIRMATIONS + BANNER)
        lines = self.log_lines(sb)
        self.assertEqual([l["message"] for l in lines], [b"/H"])

    def test_bytes_sent_before_start_are_discarded(self):
        sb = self.sandbox()
        line = self.serial()
        line.send(b"RING\r")
        time.sleep(0.1)
        launch = sb.launch(["12", "/H:%d" % line.fd], stdin="pipe",
                           serial=line)
        launch.wait_cycle_started(1)
        launch.press_key()
        r = launch.wait()
        self.assertExit(r, 0)
        self.assertEqual(r.stdout, SERIAL_CONFIRMATIONS + BANNER
                         + caller_line("12"))
        self.assertCycles(r, "12", 1)


class ResultCodeTest(ModemTestCase):
    """What the modem says during the announcement."""

    def start(self, number="5551234", stdout="pipe", stdin="pipe"):
        sb = self.sandbox()
        line = self.serial()
        launch = sb.launch([number, "/H:%d" % line.fd], stdin=stdin,
                           stdout=stdout, serial=line)
        return sb, line, launch

    def test_result_codes_end_the_call(self):
        codes = [b"RING\r", b"RING\n", b"OK\r", b"NO CARRIER\r", b"BUSY\r",
                 b"NO DIAL TONE\r", b"NO DIALTONE\n", b"RINGING\r",
                 b"\r\nRING\r\n"]

        def one(code):
            sb, line, launch = self.start()
            launch.wait_words(1)
            line.send(code)
            return code, launch.wait(20)
        for code, r in run_parallel([lambda c=c: one(c) for c in codes]):
            with self.subTest(code=code):
                self.assertExit(r, MODEM_EXIT)
                # Echoed up to the line end that completed the code, then
                # nothing more: the caller line of the first cycle before.
                echoed = code[:code.index(code.strip()) + len(code.strip())
                              + 1]
                self.assertEqual(r.stdout, SERIAL_CONFIRMATIONS + BANNER
                                 + caller_line("5551234", "Ann Lee")
                                 + echoed)
                self.assertSpokePrefixOfCycle(r, "5551234")
                self.assertNotEqual(r.words.count(SEPARATOR), 2,
                                    "the cycle went on to its end")

    def test_other_lines_are_echoed_only(self):
        texts = [b"ring\r", b"CONNECT\r", b"RING \r", b" RING\r", b"OK \n",
                 b"RINGRING\r", b"NO  CARRIER\r", b"\r\n\r\n"]

        def one(text):
            sb, line, launch = self.start("12")
            launch.wait_words(1)
            line.send(text)
            launch.wait_word(SEPARATOR, 1)   # the time's drains are done
            launch.press_key()
            return text, launch.wait(20)
        for text, r in run_parallel([lambda t=t: one(t) for t in texts]):
            with self.subTest(text=text):
                self.assertExit(r, 0)
                self.assertEqual(r.stdout, SERIAL_CONFIRMATIONS + BANNER
                                 + caller_line("12") + text)
                self.assertCycles(r, "12", 1)

    def test_code_split_across_drains(self):
        # RIN arrives in one drain, G and CR in a later one: still RING.
        sb, line, launch = self.start(stdout="pty")
        launch.wait_words(1)
        line.send(b"RIN")
        launch.wait_until(lambda: launch.stdout_bytes().endswith(b"RIN"),
                          10, "RIN echoed")
        # A word played after the echo: that drain has ended.
        after = len(sb.captured())
        launch.wait_words(after + 1)
        self.assertTrue(launch.running())
        line.send(b"G\r")
        r = launch.wait(20)
        self.assertExit(r, MODEM_EXIT)
        self.assertTrue(r.stdout.endswith(caller_line("5551234", "Ann Lee")
                                          + b"RING\r" + TITLE_RESTORE),
                        r.describe())

    def test_text_pending_at_key_press(self):
        # 500 is an exact hundred: no drain after it, so a RING sent after
        # the opening separator is read by the last drain, after the key.
        sb, line, launch = self.start("500")
        launch.wait_words(1)
        launch.press_key()
        launch.wait_word(SEPARATOR, 1)
        line.send(b"RING\r")
        r = launch.wait(20)
        self.assertExit(r, MODEM_EXIT)
        self.assertEqual(r.stdout, SERIAL_CONFIRMATIONS + BANNER
                         + caller_line("500") + b"RING\r")
        self.assertCycles(r, "500", 1)     # the whole cycle was spoken

    def test_result_code_with_terminal(self):
        # On a terminal annc's own terminal settings come back at exit 99.
        sb, line, launch = self.start("12", stdout="pty", stdin="pty")
        launch.wait_words(1)
        line.send(b"NO CARRIER\r")
        r = launch.wait(20)
        self.assertExit(r, MODEM_EXIT)
        self.assertTrue(r.stdout.endswith(b"NO CARRIER\r" + TITLE_RESTORE),
                        r.describe())
        self.assertEqual(r.termios_after, r.termios_before)

    def test_echo_of_control_bytes(self):
        # Into a pipe the modem's bytes are echoed exactly; on a terminal
        # control bytes other than CR, LF, TAB and BS in caret notation.
        text = b"A\x1b[2JB\x07\tC\x08D\x7f\r"
        for stdout, shown in (("pipe", text),
                              ("pty", b"A^[[2JB^G\tC\x08D^?\r"
                               + TITLE_RESTORE)):
            with self.subTest(stdout=stdout):
                sb, line, launch = self.start("12", stdout=stdout)
                launch.wait_words(1)
                line.send(text)
                launch.wait_word(SEPARATOR, 1)
                launch.press_key()
                r = launch.wait(20)
                self.assertExit(r, 0)
                self.assertTrue(r.stdout.endswith(caller_line("12") + shown),
                                r.describe())

    def test_master_closed_during_call(self):
        # The modem side hangs up: reads fail, each failure is logged, the
        # announcement goes on and a key still ends it normally.
        sb, line, launch = self.start("1234")
        launch.wait_words(1)
        line.close_master()
        launch.press_key()
        # While the rest of the cycle is spoken annc must not spin on the
        # dead line: it sleeps in its pauses and between reads.
        ticks = launch.cpu_ticks()
        started = time.monotonic()
        launch.wait_word(SEPARATOR, 1)
        time.sleep(0.5)
        if launch.running():
            used = launch.cpu_ticks() - ticks
            wall = time.monotonic() - started
            ticks_per_second = os.sysconf("SC_CLK_TCK")
            self.assertLess(used / ticks_per_second, 0.5 * wall,
                            "busy on a hung-up line")
        r = launch.wait(20)
        self.assertExit(r, 0)
        self.assertCycles(r, "1234", 1)
        self.assertEqual(r.stdout, SERIAL_CONFIRMATIONS + BANNER
                         + caller_line("1234"))
        lines = self.log_lines(sb)
        self.assertEqual(lines[0]["message"], b"1234")
        self.assertGreaterEqual(len(lines), 2, sb.log_bytes())
        for l in lines[1:]:
            self.assertIsNotNone(l, sb.log_bytes())
            self.assertEqual(l["prefix"], b"?")
            self.assertRegex(l["message"], rb"\A GetOverlappedResult \S")


if __name__ == "__main__":
    unittest.main()
