"""annc-line --console: the terminal it opens itself for its announcers.

As a service runs it: standard input /dev/null, standard output and error
files (the journal), and the console a terminal annc-line opens without
taking it over. The caller is shown there, a key typed there stops the
announcement, annc-line's own status lines stay on its standard error, and
two annc-lines share one console without hanging each other up.
"""

import os
import signal
import time
import unittest

from harness import FdReader, open_pty, wait_until
from line_harness import LineTestCase
from modem_emulator import north_american_block
from ncid_server import cid_line

RING_GAP = 0.4


class ConsoleTest(LineTestCase):
    def console(self):
        master, slave = open_pty()
        self.addCleanup(os.close, master)
        screen = FdReader(master)
        self.addCleanup(screen.stop)
        # Held open as a virtual console always is: a pseudo-terminal whose
        # last slave closes hangs up its master.
        self.addCleanup(os.close, slave)
        return master, os.ttyname(slave), screen

    def test_the_console_shows_the_call_takes_its_key_and_keeps_status_lines_apart(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        master, path, screen = self.console()
        run = self.start(sb, emu, args=["--console", path])
        emu.play(north_american_block("5551234", "ANN LEE"))
        wait_until(lambda: b"5551234 - Ann Lee" in screen.snapshot(), 10,
                   "the caller on the console")
        os.write(master, b"k")                   # a key on the console
        emu.ring_until(lambda: "stopped by a key" in run.stderr(), gap=RING_GAP)
        self.assertIn("stopped by a key", run.stderr())
        # annc-line's own lines are on its standard error, not the console;
        # its standard output is left alone.
        self.assertIn("modem ready on", run.stderr())
        self.assertNotIn(b"modem ready on", screen.snapshot())
        self.assertEqual(run.stdout(), "")
        self.assertEqual(self.calls_logged(sb), [b"5551234 - Ann Lee"])
        run.signal(signal.SIGTERM)
        self.assertExitCode(run, 0)

    def test_two_annc_lines_share_a_console_without_hanging_each_other_up(self):
        sb = self.sandbox()
        master, path, screen = self.console()
        server = self.ncid_server()
        box = self.fritz_box()
        first = self.start(sb, server, args=["--console", path])
        second = self.start(sb, box, args=["--console", path])
        time.sleep(1.0)
        self.assertIsNone(first.proc.poll(), first.stderr())
        self.assertIsNone(second.proc.poll(), second.stderr())
        server.send_line(cid_line("5552345", "BEA BAY"))
        wait_until(lambda: b"5552345" in screen.snapshot(), 10,
                   "the NCID call on the shared console")
        self.assertIsNone(second.proc.poll(), second.stderr())

    def test_a_console_that_is_not_there_ends_it_with_exit_code_3(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        for console, cause in (("/nonexistent/tty9", "No such file or directory"),
                               ("/dev/null", "Inappropriate ioctl for device")):
            run = self.start(sb, emu, args=["--console", console], wait_ready=False)
            self.assertExitCode(run, 3)
            self.assertEqual(run.stderr(),
                             "annc-line: cannot open the console %s: %s\n" % (console, cause))
            # Nothing else was begun: the modem was never opened.
            self.assertEqual(emu.commands_seen(), [])


if __name__ == "__main__":
    unittest.main()
