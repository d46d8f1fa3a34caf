"""End-to-end tests of annc under job control: started in the background
(`annc 5551234 &`), stopped with Ctrl-Z and continued, moved between the
background and the foreground.

A stand-in for an interactive shell does what a shell does: it starts a
session of its own whose controlling terminal is a pseudo-terminal, runs
annc in a process group of its own and hands the terminal's foreground to
annc or keeps it. It reports each change of annc's state (stopped,
continued, ended) as a line, and takes "fg", "bg" and "kill" as commands.

The child puts itself into its own process group, and takes the terminal's
foreground when it is to run there, before it runs annc; the stand-in
reports annc's pid only once the exec has happened (the close-on-exec pipe
has reached its end). A parent's setpgid on a child that has already
run exec fails (EACCES), and annc could otherwise start before it has its
group or the foreground: neither depends on which process runs first.
"""

import os
import signal
import subprocess
import sys
import tempfile
import termios
import unittest

from harness import (
    BANNER, SEPARATOR, TITLE_RESTORE, AnncTestCase, FdReader, caller_line,
    open_pty, title_sequence, wait_until)

SHELL = r'''
import os, select, signal, sys, time
tty, where, argv = sys.argv[1], sys.argv[2], sys.argv[3:]
os.setsid()
fd = os.open(tty, os.O_RDWR)            # becomes the controlling terminal
signal.signal(signal.SIGTTOU, signal.SIG_IGN)
execed_r, execed_w = os.pipe()          # both close on exec
pid = os.fork()
if pid == 0:
    try:
        os.close(execed_r)
        os.setpgid(0, 0)
        if where == "fg":
            os.tcsetpgrp(fd, os.getpid())   # SIGTTOU still ignored here
        os.dup2(fd, 0)
        os.dup2(fd, 1)
        signal.signal(signal.SIGTTOU, signal.SIG_DFL)
        os.execv(argv[0], argv)
    except BaseException as e:
        os.write(execed_w, repr(e).encode())
    os._exit(127)
os.close(execed_w)
failure = b""
while True:                             # the end comes with the exec
    chunk = os.read(execed_r, 1024)
    if not chunk:
        break
    failure += chunk
if failure:
    print("failed", failure.decode(), flush=True)
    sys.exit(1)
print("pid", pid, flush=True)
deadline = time.monotonic() + 60
while time.monotonic() < deadline:
    if select.select([0], [], [], 0.02)[0]:
        command = sys.stdin.readline().strip()
        if command == "kill":
            break
        os.tcsetpgrp(fd, pid if command == "fg" else os.getpgrp())
        print(command, "done", flush=True)
    got, status = os.waitpid(pid, os.WNOHANG | os.WUNTRACED | os.WCONTINUED)
    if got and os.WIFSTOPPED(status):
        print("stopped", os.WSTOPSIG(status), flush=True)
    elif got and os.WIFCONTINUED(status):
        print("continued", flush=True)
    elif got:
        print("exit", os.waitstatus_to_exitcode(status), flush=True)
        sys.exit(0)
os.kill(pid, signal.SIGKILL)
os.waitpid(pid, 0)
print("killed", flush=True)
'''


class Job:
    """annc run by the shell stand-in on a pseudo-terminal of its own."""

    def __init__(self, sandbox, args, where):
        self.sandbox = sandbox
        self.master, self.slave = open_pty()
        self.before = termios.tcgetattr(self.slave)
        self.errors = tempfile.TemporaryFile()     # the stand-in's own
        self.shell = subprocess.Popen(
            [sys.executable, "-c", SHELL, os.ttyname(self.slave), where,
             sandbox.exe] + list(args),
            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=self.errors, cwd=sandbox.cwd, env=sandbox.env())
        self.console = FdReader(self.master)       # what annc shows
        self.reports = FdReader(self.shell.stdout.fileno())
        first = self.reports.wait_lines(lambda l: l.startswith(b"pid "), 1,
                                        30)
        if not first:
            reports = self.report_lines(0)
            self.close()
            raise AssertionError("the shell stand-in did not start annc; "
                                 "reports %r, errors %r"
                                 % (reports, self.stand_in_errors()))
        self.pid = int(first[0][2].split()[1])

    def stand_in_errors(self):
        self.errors.seek(0)
        return self.errors.read()[-600:]

    def report_lines(self, first=1):
        """The stand-in's reports after its "pid" line."""
        return [line for _, _, line in self.reports.lines()][first:]

    def wait_report(self, report, timeout=15):
        """Waits for a report line; fails with all reports otherwise."""
        self.reports.wait_lines(lambda l: l == report, 1, timeout)
        if report not in self.report_lines():
            raise AssertionError("no report %r; reports %r; console %r"
                                 % (report, self.report_lines(),
                                    self.console.snapshot()[-300:]))

    def command(self, text):
        """Sends a command; "fg" and "bg" return once the stand-in has
        handed the terminal over."""
        done = text.encode() + b" done"
        before = self.report_lines().count(done)
        self.shell.stdin.write(text.encode() + b"\n")
        self.shell.stdin.flush()
        if text in ("fg", "bg"):
            self.wait(lambda: self.report_lines().count(done) > before,
                      "the stand-in's %r" % text)

    def settings(self):
        return termios.tcgetattr(self.slave)

    def separators(self):
        return [w.name for w in self.sandbox.captured()].count(SEPARATOR)

    def wait(self, condition, what, timeout=15):
        wait_until(condition, timeout, what, describe=lambda: (
            "reports %r; console %r" % (self.report_lines(),
                                        self.console.snapshot()[-300:])))

    def close(self):
        if self.shell.poll() is None:
            try:
                self.command("kill")    # the stand-in kills annc, then ends
                self.shell.wait(10)
            except (OSError, subprocess.TimeoutExpired):
                self.shell.kill()
                self.shell.wait()
        self.shell.stdin.close()
        self.reports.stop()
        self.console.stop()
        self.shell.stdout.close()
        self.errors.close()
        os.close(self.master)
        os.close(self.slave)


class JobControlTest(AnncTestCase):

    def job(self, args, where):
        sb = self.sandbox()
        job = Job(sb, args, where)
        self.addCleanup(job.close)
        return job

    def assertNeverStopped(self, job):
        self.assertFalse([r for r in job.report_lines()
                          if r.startswith(b"stopped")], job.report_lines())

    def test_started_in_the_background(self):
        # Not stopped, announcing, the terminal's settings left alone, and
        # a key typed meanwhile is the foreground's, not annc's: until the
        # shell brings annc to the foreground, which takes the key then.
        job = self.job(["5551234"], "bg")
        job.wait(lambda: job.separators() >= 4, "two cycles")
        self.assertNeverStopped(job)
        self.assertEqual(job.settings(), job.before)
        os.write(job.master, b"k\n")
        seen = job.separators()
        job.wait(lambda: job.separators() >= seen + 2, "another cycle")
        self.assertNeverStopped(job)
        self.assertEqual(job.settings(), job.before)
        job.command("fg")
        job.wait_report(b"exit 0")
        self.assertEqual(job.settings(), job.before)
        self.assertNeverStopped(job)

    def test_background_job_ends_on_sigterm(self):
        job = self.job(["5551234"], "bg")
        job.wait(lambda: job.separators() >= 2, "a cycle")
        os.kill(job.pid, signal.SIGTERM)
        job.wait_report(b"exit -15")
        self.assertNeverStopped(job)
        self.assertEqual(job.settings(), job.before)
        # Its title was never shown: the shell in front keeps its own.
        out = job.console.snapshot()
        self.assertTrue(out.startswith(BANNER), out[:200])
        self.assertNotIn(b"\x1b", out)

    def test_stop_and_continue(self):
        # Ctrl-Z gives the terminal back before annc stops; continued in
        # the foreground annc takes it again. Continued in the background
        # it announces on without touching the terminal, and takes it when
        # it is brought to the foreground.
        title = title_sequence(b"5551234 - Ann Lee")
        job = self.job(["5551234"], "fg")
        job.wait(lambda: caller_line("5551234", "Ann Lee")
                 in job.console.snapshot(), "the first cycle")
        self.assertFalse(job.settings()[3] & termios.ICANON)
        os.kill(job.pid, signal.SIGTSTP)
        job.wait_report(b"stopped %d" % signal.SIGTSTP)
        self.assertEqual(job.settings(), job.before)
        job.wait(lambda: job.console.snapshot().endswith(TITLE_RESTORE),
                 "the title given back")

        os.kill(job.pid, signal.SIGCONT)
        job.wait_report(b"continued")
        job.wait(lambda: not job.settings()[3] & termios.ICANON,
                 "the terminal taken again")
        job.wait(lambda: job.console.snapshot().count(title) == 2,
                 "the title shown again")

        os.kill(job.pid, signal.SIGTSTP)
        job.wait(lambda: job.report_lines().count(
            b"stopped %d" % signal.SIGTSTP) == 2, "the second stop")
        job.command("bg")
        os.kill(job.pid, signal.SIGCONT)
        seen = job.separators()
        job.wait(lambda: job.separators() >= seen + 2, "a cycle behind")
        self.assertEqual([r for r in job.report_lines()
                          if r.startswith(b"stopped")],
                         [b"stopped %d" % signal.SIGTSTP] * 2)
        self.assertEqual(job.settings(), job.before)
        self.assertEqual(job.console.snapshot().count(title), 2)

        job.command("fg")
        job.wait(lambda: not job.settings()[3] & termios.ICANON,
                 "the terminal taken in front")
        job.wait(lambda: job.console.snapshot().count(title) == 3,
                 "the title shown in front")
        os.write(job.master, b"k")
        job.wait_report(b"exit 0")
        self.assertEqual(job.settings(), job.before)
        self.assertTrue(job.console.snapshot().endswith(TITLE_RESTORE))


if __name__ == "__main__":
    unittest.main()
