"""End-to-end: how annc-line holds the modem's port, runs its command line,
and leaves nothing behind: lock files, modem answers, a second instance, an
unplugged modem, signals, --check, usage errors.
"""

import os
import signal
import subprocess
import time
import unittest

from harness import alive, command_line, open_files
from line_harness import LineTestCase, annc_line_binary
from modem_emulator import COUNTRY, IDENTITY, north_american_block


def lock_content(pid):
    return b"%10d\n" % pid


class PortTest(LineTestCase):

    def lock_path(self, run, emu):
        return os.path.join(run.lock_dir,
                            "LCK.." + os.path.basename(emu.slave_path))

    def test_lock_file_init_sequence_and_end_by_signal(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        run = self.start(sb, emu, ["--init", "AT+GCI=B5", "--init", "ATBAD"])
        # The lock is named after the resolved device, not the link.
        with open(self.lock_path(run, emu), "rb") as f:
            self.assertEqual(f.read(), lock_content(run.pid))
        self.assertEqual(os.listdir(run.lock_dir),
                         [os.path.basename(self.lock_path(run, emu))])
        self.assertEqual(emu.commands_seen(),
                         ["ATZ", "ATE0V1Q0", "AT+GCI=B5", "ATBAD",
                          "AT+VCID=1"])
        self.assertIn("the modem refused ATBAD", run.stderr())
        for sig in (signal.SIGHUP,):
            run.signal(sig)
        self.assertExitCode(run, 0, timeout=5)
        self.assertEqual(os.listdir(run.lock_dir), [])

    def test_modem_that_answers_nothing(self):
        sb = self.sandbox()
        emu = self.modem(sb, "silent")
        run = self.start(sb, emu, wait_ready=False)
        self.assertExitCode(run, 1, timeout=12)
        self.assertEqual(emu.commands_seen(), ["ATZ", "ATZ"])
        self.assertEqual(run.stderr(), "annc-line: %s: the modem answers "
                         "nothing to ATZ; check the speed (--speed), the "
                         "cable, and that this device is the modem\n"
                         % emu.link)
        self.assertEqual(os.listdir(run.lock_dir), [])

    def test_device_that_cannot_be_opened(self):
        sb = self.sandbox()
        missing = os.path.join(sb.root, "no-such-modem")
        run = self.start(sb, missing, wait_ready=False)
        self.assertExitCode(run, 1, timeout=5)
        self.assertEqual(run.stderr(), "annc-line: %s: cannot open: No such "
                         "file or directory\n" % missing)

    def test_second_instance_on_the_same_device(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        first = self.start(sb, emu)
        second = self.start(sb, emu, wait_ready=False)
        self.assertExitCode(second, 1, timeout=5)
        self.assertEqual(second.stderr(), "annc-line: %s: in use by process "
                         "%d\n" % (emu.link, first.pid))
        # The first one still holds its lock and its modem.
        with open(self.lock_path(first, emu), "rb") as f:
            self.assertEqual(f.read(), lock_content(first.pid))
        self.assertIsNone(first.proc.poll())

    def test_stale_lock_is_replaced(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        dead = subprocess.Popen(["true"])
        dead.wait()
        lock_dir = os.path.join(sb.root, "lock")
        os.makedirs(lock_dir)
        path = os.path.join(lock_dir,
                            "LCK.." + os.path.basename(emu.slave_path))
        with open(path, "wb") as f:
            f.write(lock_content(dead.pid))
        run = self.start(sb, emu, lock_dir=lock_dir)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), lock_content(run.pid))
        run.signal(signal.SIGINT)
        self.assertExitCode(run, 0, timeout=5)
        self.assertFalse(os.path.exists(path))

    def test_unplugged_and_back_behind_the_same_link(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        run = self.start(sb, emu, ["--init", "AT+GCI=B5"])
        old_lock = self.lock_path(run, emu)
        # Unplugged in the middle of a call: the call ends with it.
        emu.play(north_american_block("5551234", "ANN LEE"))
        emu.ring_until(lambda: self.calls_played(sb) != [], gap=0.4)
        emu.unplug()
        run.wait_status("modem unplugged, waiting for it")
        run.wait_status("call ended")
        run.wait_for(lambda: not os.path.exists(old_lock), "lock released")
        run.wait_for(lambda: run.announcers() == [], "announcer gone", 5)
        time.sleep(2.5)                      # a few attempts meanwhile
        self.assertEqual(run.stderr().count("unplugged"), 1)
        emu.clear_commands()
        emu.plug()
        run.wait_status("modem ready on", 2, timeout=10)
        # Initialised again, and locked under the new device's name.
        self.assertEqual(emu.commands_seen(),
                         ["ATZ", "ATE0V1Q0", "AT+GCI=B5", "AT+VCID=1"])
        with open(self.lock_path(run, emu), "rb") as f:
            self.assertEqual(f.read(), lock_content(run.pid))
        emu.play(north_american_block("5559876"))
        self.ring_until_spoken(emu, sb, 1)
        run.wait_status("call ended", 2)
        self.assertEqual(self.calls_logged(sb),
                         [b"5551234 - Ann Lee", b"5559876 - Bob"])
        self.assertGreaterEqual(self.full_cycles(
            "5559876", self.calls_played(sb)[1], run.t_start, time.time()), 1)

    def assertAnnouncerHoldsItsOwnLineOnly(self, pid, run, emu):
        """annc runs as `annc NUMBER /H:N` with N the slave of a terminal
        of its own; no descriptor of annc-line's beyond the standard three
        (the modem's, the terminal's master, the signal pipe) reaches it."""
        args = command_line(pid)
        self.assertEqual(len(args), 3, args)
        self.assertEqual(args[1], b"5551234")
        self.assertTrue(args[2].startswith(b"/H:"), args)
        line = open_files(pid)[int(args[2][3:])]
        self.assertTrue(line.startswith("/dev/pts/"), line)
        self.assertNotEqual(line, emu.slave_path)
        own = set(open_files(run.pid, 3).values())
        self.assertIn(emu.slave_path, own)
        self.assertEqual(own & set(open_files(pid).values()), set())

    def test_sigterm_in_the_middle_of_a_call(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        run = self.start(sb, emu)
        emu.play(north_american_block("5551234"))
        emu.ring_until(lambda: self.calls_played(sb) != [], gap=0.4)
        announcers = run.announcers()
        self.assertEqual(len(announcers), 1)
        self.assertAnnouncerHoldsItsOwnLineOnly(announcers[0], run, emu)
        lock = self.lock_path(run, emu)
        self.assertTrue(os.path.exists(lock))
        run.signal(signal.SIGTERM)
        self.assertExitCode(run, 0, timeout=8)
        self.assertFalse(alive(announcers[0]))
        self.assertFalse(os.path.exists(lock))
        self.assertEqual(os.listdir(run.lock_dir), [])

    def test_check_mode(self):
        sb = self.sandbox()
        emu = self.modem(sb, "cid")
        run = self.start(sb, emu, ["--check"], wait_ready=False)
        run.wait_for(lambda: "Ctrl-C" in run.stdout(), "the check's report")
        emu.send_line(b"NAME = EVIL\x1b]0;title\x07")
        emu.play(north_american_block("5551234", "ANN LEE"))
        run.wait_for(lambda: "decision: " in run.stdout(), "the block shown")
        run.signal(signal.SIGINT)
        self.assertExitCode(run, 0, timeout=5)
        self.assertEqual(run.stdout().splitlines(), [
            "modem: " + IDENTITY, "country: " + COUNTRY,
            "caller ID: AT#CID=1 accepted",
            "every line the modem sends follows; Ctrl-C ends",
            "NAME = EVIL^[]0;title^G", "RING", "DATE = 1124", "TIME = 1806",
            "NAME = ANN LEE", "DDN_NMBR= 5551234",
            # The first name wins; how the call would be screened.
            "decision: call from 5551234 (EVIL^[]0;title): announce"])
        self.assertEqual(emu.commands_seen()[-2:], ["ATI", "AT+GCI?"])
        self.assertEqual(self.calls_played(sb), [])   # no announcer
        self.assertEqual(os.listdir(run.lock_dir), [])


class CommandLineTest(LineTestCase):

    def line(self, *args):
        return subprocess.run([annc_line_binary()] + list(args),
                              capture_output=True, timeout=10)

    def test_help_and_version(self):
        r = self.line("--help")
        self.assertEqual(r.returncode, 0)
        for option in ("--annc", "--log", "--ring-timeout", "--speed",
                       "--init", "--lock-dir", "--once", "--check",
                       "--only-to", "--only-line", "ncid:HOST[:PORT]",
                       "fritz:HOST[:PORT]", "#96*5*"):
            self.assertIn(option.encode(), r.stdout)
        self.assertEqual(r.stderr, b"")
        r = self.line("--version")
        self.assertEqual(r.returncode, 0)
        self.assertRegex(r.stdout, rb"^annc-line \d+\.\d+\.\d+\n$")

    def test_usage_errors(self):
        cases = [((), "no DEVICE, ncid:HOST or fritz:HOST given"),
                 (("--ring-timeout", "abc", "/dev/null"), "--ring-timeout"),
                 (("--speed", "7", "/dev/null"), "--speed"),
                 (("--bogus", "/dev/null"), "unknown option --bogus"),
                 (("/dev/a", "/dev/b"), "one DEVICE only"),
                 (("/dev/a", "--init"), "--init needs a value"),
                 (("--lock-dir", "/tmp", "ncid:localhost"),
                  "--lock-dir is for a modem, not for an NCID server"),
                 (("ncid:[::1",), "no ']' after the IPv6 address"),
                 (("--speed", "9600", "fritz:fritz.box"),
                  "--speed is for a modem, not for a FRITZ!Box"),
                 (("--only-to", "5559876", "/dev/null"),
                  "--only-to is for a FRITZ!Box, not for a modem"),
                 (("--only-to", "5559876", "ncid:localhost"),
                  "--only-to is for a FRITZ!Box: an NCID server does not say")]
        for args, says in cases:
            with self.subTest(args=args):
                r = self.line(*args)
                self.assertEqual(r.returncode, 2)
                self.assertEqual(r.stdout, b"")
                lines = r.stderr.decode().splitlines()
                self.assertEqual(len(lines), 3, lines)
                self.assertTrue(lines[0].startswith("annc-line: "))
                self.assertIn(says, lines[0])
                self.assertEqual(lines[1], "usage: annc-line [options] "
                                 "DEVICE|ncid:HOST[:PORT]|fritz:HOST[:PORT] ...")
                self.assertEqual(lines[2], "see annc-line --help")

    def test_missing_announcer(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        run = self.start(sb, emu, annc=os.path.join(sb.root, "nothing"),
                         wait_ready=False)
        self.assertExitCode(run, 1, timeout=5)
        self.assertIn("cannot run the announcer", run.stderr())
        self.assertEqual(emu.commands_seen(), [])
        self.assertEqual(os.listdir(run.lock_dir), [])


if __name__ == "__main__":
    unittest.main()
