"""End-to-end tests of the tools a user tries annc with: tools/modem_sim.py
(annc on a pseudo-terminal, the user typing the modem's lines) and
tools/play_call.py (annc-line on the emulated modem, one call played)."""

import os
import signal
import subprocess
import sys
import time
import unittest

from harness import (REPO_ROOT, AnncTestCase, children_of, kill_group,
                     wait_until)
from line_harness import annc_line_binary

TOOLS = os.path.join(REPO_ROOT, "tools")


class Tool:
    """A tool run with its standard input a pipe the test types into; its
    standard error collected in a file."""

    def __init__(self, test, sandbox, args):
        self.err_path = os.path.join(sandbox.root, "tool-%d.err" % id(self))
        with open(self.err_path, "wb") as err:
            self.proc = subprocess.Popen(
                [sys.executable] + args, stdin=subprocess.PIPE,
                stdout=subprocess.DEVNULL, stderr=err, cwd=sandbox.cwd,
                env=sandbox.env(), start_new_session=True)
        test.addCleanup(self.close)

    def stderr(self):
        with open(self.err_path, "rb") as f:
            return f.read().decode("latin-1")

    def type(self, text):
        self.proc.stdin.write(text.encode())
        self.proc.stdin.flush()

    def wait_stderr(self, text, timeout=15):
        wait_until(lambda: text in self.stderr(), timeout, repr(text),
                   gone=lambda: self.proc.poll() is not None,
                   describe=lambda: "stderr=%r" % self.stderr()[-600:])

    def close(self):
        kill_group(self.proc)
        self.proc.stdin.close()


class ModemSimTest(AnncTestCase):

    def test_end_of_annc_reported_without_another_line(self):
        # RING typed, and then nothing: the end is said while the input
        # stays open, with annc's exit code.
        sb = self.sandbox()
        tool = Tool(self, sb, [os.path.join(TOOLS, "modem_sim.py"), sb.exe,
                               "5551234"])
        tool.wait_stderr("type a result code")
        wait_until(sb.captured, 15, "annc's first word")
        tool.type("RING\n")
        tool.wait_stderr("annc ended with exit code 99")
        self.assertEqual(tool.proc.wait(10), 99)
        self.assertTrue(sb.captured())

    def test_key_typed_ends_annc_with_0(self):
        sb = self.sandbox()
        tool = Tool(self, sb, [os.path.join(TOOLS, "modem_sim.py"), sb.exe,
                               "5551234"])
        wait_until(sb.captured, 15, "annc's first word",
                   gone=lambda: tool.proc.poll() is not None)
        tool.type(":key\n")
        tool.wait_stderr("annc ended with exit code 0")
        self.assertEqual(tool.proc.wait(10), 0)


@unittest.skipUnless(os.access(annc_line_binary(), os.X_OK),
                     "annc-line is not built")
class PlayCallTest(AnncTestCase):

    def test_interrupted_play_exits_non_zero_and_leaves_nothing(self):
        for sig in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=sig.name):
                sb = self.sandbox()
                tool = Tool(self, sb, [
                    os.path.join(TOOLS, "play_call.py"), "--line",
                    annc_line_binary(), "--annc", sb.exe, "--gap", "0.5",
                    "--rings", "40"])
                tool.wait_stderr("AT commands received")
                wait_until(lambda: children_of(tool.proc.pid), 10,
                           "annc-line running")
                line = children_of(tool.proc.pid)[0]
                started = time.monotonic()
                tool.proc.send_signal(sig)
                self.assertEqual(tool.proc.wait(20), 128 + sig)
                self.assertLess(time.monotonic() - started, 15)
                self.assertIn("interrupted by %s" % sig.name, tool.stderr())
                with self.assertRaises(ProcessLookupError):
                    os.kill(line, 0)


if __name__ == "__main__":
    unittest.main()
