"""End-to-end tests of the terminals annc uses and gives back: the serial
line as the launcher set it, the user's console and its title, whole keys
read from the keyboard, and standard descriptors that were closed at start.

Only real pseudo-terminals show these: what the line discipline holds and
how it is set after annc has gone.
"""

import array
import errno
import fcntl
import os
import select
import signal
import subprocess
import termios
import unittest

from harness import (
    BANNER, TITLE_RESTORE, TITLE_SAVE, AnncTestCase, caller_line, log_lines,
    open_files, run_parallel, title_sequence, wait_until)

MODEM_EXIT = 99
SETUP_FAILED = 254


def queued(fd):
    """Bytes waiting to be read on a terminal."""
    count = array.array("i", [0])
    fcntl.ioctl(fd, termios.FIONREAD, count)
    return count[0]


def readable(fd, timeout):
    return bool(select.select([fd], [], [], timeout)[0])


class TerminalTestCase(AnncTestCase):

    def launcher_line(self):
        """A serial line as a shell launcher leaves it for its own
        `while read -r line <&5` loop: a terminal's usual settings,
        canonical with echo, reads that wait for a whole line."""
        line = self.serial()
        master, slave = os.openpty()
        usual = termios.tcgetattr(slave)
        os.close(master)
        os.close(slave)
        termios.tcsetattr(line.fd, termios.TCSANOW, usual)
        return line


class WaysOutTest(TerminalTestCase):
    """Whatever ends the call, the launcher gets its line back as it set
    it, with what the modem sent after the result code still there, and
    the user gets the console back: its settings and its title."""

    def one_way(self, way):
        sb = self.sandbox(phone_book=None if way == "no phone book"
                          else b"5551234=Ann Lee\r\n")
        line = self.launcher_line()
        line_before = termios.tcgetattr(line.fd)
        launch = sb.launch(["5551234", "/H:%d" % line.fd], stdin="pty",
                           stdout="pty", serial=line)
        with launch:
            if way != "no phone book":
                launch.wait_stdout_count(caller_line("5551234", "Ann Lee"))
            if way == "key":
                launch.press_key()
            elif way == "result code":
                line.send(b"RING\rNEXT CALL\n")
            elif way != "no phone book":
                launch.signal(way)
        r = launch.wait(20)
        line_after = termios.tcgetattr(line.fd)
        left = os.read(line.fd, 100) if readable(line.fd, 2) else b""
        return way, r, line_before, line_after, left

    def test_line_and_console_back_on_every_way_out(self):
        ways = ["key", "result code", "no phone book", signal.SIGINT,
                signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT]
        codes = {"key": 0, "result code": MODEM_EXIT, "no phone book": 1}
        results = run_parallel([lambda w=w: self.one_way(w) for w in ways],
                               workers=4)
        for way, r, line_before, line_after, left in results:
            with self.subTest(way=str(way)):
                if way in codes:
                    self.assertExit(r, codes[way])
                else:
                    self.assertEqual(r.returncode, -way, r.describe())
                self.assertEqual(line_after, line_before)
                self.assertEqual(r.termios_after, r.termios_before)
                if way == "no phone book":
                    # The title was never set: nothing to give back.
                    self.assertNotIn(TITLE_SAVE, r.stdout)
                    self.assertNotIn(TITLE_RESTORE, r.stdout)
                else:
                    self.assertTrue(r.stdout.startswith(
                        b" GetCommTimeouts "), r.describe())
                    self.assertEqual(r.stdout.count(TITLE_SAVE), 1)
                    self.assertTrue(r.stdout.endswith(TITLE_RESTORE),
                                    r.describe())
                if way == "result code":
                    # Nothing was flushed: the launcher reads on where
                    # annc stopped, a whole line at a time.
                    self.assertEqual(left, b"NEXT CALL\n")
                    self.assertTrue(r.stdout.endswith(
                        b"RING\r" + TITLE_RESTORE), r.describe())

    def test_title_given_back_without_a_serial_line(self):
        def one(sig):
            sb = self.sandbox()
            launch = sb.launch(["5551234"], stdin="pty", stdout="pty")
            with launch:
                launch.wait_stdout_count(caller_line("5551234", "Ann Lee"))
                launch.signal(sig)
            return sig, launch.wait(20)
        for sig, r in run_parallel([lambda s=s: one(s) for s in (
                signal.SIGINT, signal.SIGTERM, signal.SIGQUIT)], workers=3):
            with self.subTest(signal=sig.name):
                self.assertEqual(r.returncode, -sig, r.describe())
                self.assertEqual(
                    r.stdout, title_sequence(b"5551234 - Ann Lee") + BANNER
                    + caller_line("5551234", "Ann Lee") + TITLE_RESTORE)
                self.assertEqual(r.termios_after, r.termios_before)


class KeyboardIsNoSerialLineTest(TerminalTestCase):
    """"/H:" naming the user's own terminal fails like any descriptor that
    is not a serial line, and leaves the terminal as it was."""

    def test_keyboard_as_serial_line(self):
        for fd, stdout in ((0, "pipe"), (1, "pty")):
            with self.subTest(handle=fd):
                sb = self.sandbox()
                launch = sb.launch(["5551234", "/H:%d" % fd], stdin="pty",
                                   stdout=stdout)
                r = launch.wait(10)
                self.assertExit(r, SETUP_FAILED)
                self.assertEqual(r.stdout, b"")
                self.assertNothingPlayed(r)
                self.assertEqual(r.termios_after, r.termios_before)
                lines = log_lines(sb.log_bytes())
                self.assertEqual(len(lines), 1, sb.log_bytes())
                self.assertEqual(lines[0]["prefix"], b"?")
                self.assertEqual(
                    lines[0]["message"], b" GetCommTimeouts "
                    + os.strerror(errno.ENOTTY).encode())


class WholeKeysTest(TerminalTestCase):
    """A key that sends several bytes is read whole: nothing of it is left
    for the shell that reads the terminal after annc."""

    def test_key_of_several_bytes_read_whole(self):
        keys = [("F5", b"\x1b[15~", "C"), ("Ctrl-Up", b"\x1b[1;5A", "C"),
                ("F1", b"\x1bOP", "C"), ("e acute", b"\xc3\xa9", "C.UTF-8")]

        def one(name, key, locale):
            sb = self.sandbox()
            launch = sb.launch(["5"], stdin="pty", stdout="pty",
                               env=sb.env(extra={"LC_ALL": locale}))
            with launch:
                launch.wait_stdout_count(caller_line("5"))
                launch.press_key(key)
                launch.wait_until(lambda: not launch.running(), 15, "the end")
                left = queued(launch._pty_slave)
            return name, launch.wait(10), left
        for name, r, left in run_parallel(
                [lambda k=k: one(*k) for k in keys], workers=4):
            with self.subTest(key=name):
                self.assertExit(r, 0)
                self.assertCycles(r, "5", 1)
                self.assertEqual(left, 0)
                self.assertEqual(r.termios_after, r.termios_before)

    def test_keys_typed_during_start_are_not_echoed(self):
        # The serial set-up pauses 250 ms after its last confirmation: a key
        # typed then is neither echoed nor lost, and ends the call at the
        # first poll, before anything is spoken (or, on a machine too busy
        # to type within the pause, after the first cycle).
        sb = self.sandbox()
        line = self.serial()
        launch = sb.launch(["5551234", "/H:%d" % line.fd], stdin="pty",
                           stdout="pty", serial=line)
        with launch:
            launch.wait_stdout_count(b" PurgeComm \r\n")
            launch.press_key(b"q")
        r = launch.wait(15)
        self.assertExit(r, 0)
        self.assertNotIn(b"q", r.stdout)
        if r.stdout.endswith(BANNER + TITLE_RESTORE):
            self.assertNothingPlayed(r)
        else:
            self.assertCycles(r, "5551234", 1)
        self.assertEqual(r.termios_after, r.termios_before)


class ClosedStandardDescriptorTest(TerminalTestCase):
    """A standard descriptor closed at start keeps its number: nothing annc
    opens later is polled as the keyboard or written to as the console."""

    def test_sound_device_takes_no_standard_number(self):
        # The sandbox's sound device is ALSA's file plugin over its null
        # plugin: it holds the capture file and /dev/null of its own. With
        # descriptors 0 and 2 closed at start, both must come above 2.
        sb = self.sandbox()
        proc = subprocess.Popen(
            ["/bin/sh", "-c", 'exec "$0" "$@" <&- 2>&-', sb.exe, "5"],
            stdout=subprocess.PIPE, cwd=sb.cwd, env=sb.env(),
            start_new_session=True)
        try:
            wait_until(sb.captured, 15, "a word played",
                       gone=lambda: proc.poll() is not None)
            held = open_files(proc.pid)
        finally:
            proc.kill()
            proc.wait()
            proc.stdout.close()
        nulls = sorted(fd for fd, target in held.items()
                       if target == "/dev/null")
        self.assertEqual(nulls[:2], [0, 2], held)
        self.assertEqual(len(nulls), 3, held)   # the device's own above 2
        capture = [fd for fd, target in held.items()
                   if target.startswith(sb.capture_path)]
        self.assertTrue(capture and min(capture) > 2, held)


if __name__ == "__main__":
    unittest.main()
