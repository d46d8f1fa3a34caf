"""End-to-end: the --on-call program beside the real annc, started by the
real annc-line for calls from the emulated caller-ID modem.

The program is a shell script in the sandbox that writes its ANNC_
variables to a file per run; the tests read what each run was given, what
it said, and that a run past its time is ended with everything it started.
"""

import os
import signal
import stat
import time
import unittest

from harness import wait_until
from line_harness import LineTestCase
from modem_emulator import north_american_block

# The time limit of a run, and the wait for SIGKILL after SIGTERM.
TIME_LIMIT = 30.0


def write_script(path, text):
    with open(path, "w") as f:
        f.write("#!/bin/sh\n" + text)
    os.chmod(path, stat.S_IRWXU)
    return path


def runs_in(folder):
    """{event: {NAME: value}} of the runs recorded in `folder`, in the order
    they wrote their files (one file per run, named EVENT.PID)."""
    runs = []
    for name in sorted(os.listdir(folder),
                       key=lambda n: os.stat(os.path.join(folder, n)).st_mtime_ns):
        if "." not in name:
            continue
        with open(os.path.join(folder, name), "rb") as f:
            fields = {}
            for line in f.read().decode("latin-1").splitlines():
                key, _, value = line.partition("=")
                fields[key] = value
        runs.append(fields)
    return runs


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    # A zombie is gone for this purpose: it runs nothing.
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split(") ")[-1][0] != "Z"
    except FileNotFoundError:
        return False


class OnCallTest(LineTestCase):

    def recorder(self, sb):
        """A program that writes its ANNC_ variables into runs/EVENT.PID and
        says one line."""
        folder = os.path.join(sb.root, "runs")
        os.makedirs(folder, exist_ok=True)
        path = write_script(
            os.path.join(sb.root, "my hook"),
            'env | grep "^ANNC_" | sort >"%s/$ANNC_EVENT.$$.tmp"\n'
            'mv "%s/$ANNC_EVENT.$$.tmp" "%s/$ANNC_EVENT.$$"\n'
            'echo "told $ANNC_EVENT"\n' % ((folder,) * 3))
        return path, folder

    def test_a_call_runs_the_program_when_decided_and_when_ended(self):
        sb = self.sandbox()
        hook, folder = self.recorder(sb)
        emu = self.modem(sb)
        history = os.path.join(sb.root, "calls.db")
        run = self.start(sb, emu, ["--once", "--history", history,
                                   "--on-call", hook])
        # Escape sequences and quotes in the name: the program gets them
        # in caret notation, its quotes as they came.
        name = "ANN \x1b[2J\"LEE\" 'X' $(id)"
        emu.play(north_american_block("5551234", name))
        spoken = lambda: sum(len(w) for w in self.calls_played(sb)) >= 6
        emu.ring_until(spoken, gap=0.4, limit=30)
        self.assertExitCode(run, 0)
        wait_until(lambda: len(runs_in(folder)) >= 2, 5, "two runs")
        call, end = runs_in(folder)
        self.assertEqual(call["ANNC_EVENT"], "call")
        self.assertEqual(end["ANNC_EVENT"], "end")
        for fields in (call, end):
            self.assertEqual(fields["ANNC_NUMBER"], "5551234")
            self.assertEqual(fields["ANNC_NETWORK_NAME"],
                             "ANN ^[[2J\"LEE\" 'X' $(id)")
            self.assertEqual(fields["ANNC_DECISION"], "announce")
            self.assertEqual(fields["ANNC_ANNOUNCED"], "yes")
            self.assertEqual(fields["ANNC_WITHHELD"], "no")
            self.assertTrue(fields["ANNC_SOURCE"].startswith("modem:"))
        self.assertEqual(call["ANNC_ID"], end["ANNC_ID"])
        for field in ("ANNC_ENDED", "ANNC_ANSWERED", "ANNC_DURATION"):
            self.assertNotIn(field, call)
        self.assertEqual(end["ANNC_ANSWERED"], "unknown")
        self.assertGreaterEqual(int(end["ANNC_DURATION"]), 1)
        self.assertRegex(end["ANNC_ENDED"],
                         r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$")
        status = run.stderr()
        self.assertIn("annc-line: my hook: told call\n", status)
        # The first sound came before the program's run could hold it up:
        # the announcement is in the history as announced.
        import sqlite3
        db = sqlite3.connect(history)
        try:
            rows = db.execute("SELECT id, number, announced FROM calls").fetchall()
        finally:
            db.close()
        self.assertEqual(rows, [(int(call["ANNC_ID"]), "5551234", 1)])

    def test_a_program_that_runs_on_is_ended_with_what_it_started(self):
        sb = self.sandbox()
        pids = os.path.join(sb.root, "pids")
        hook = write_script(
            os.path.join(sb.root, "sleeper"),
            '[ "$ANNC_EVENT" = call ] || exit 0\n'
            'sleep 1000 &\n'
            'echo "$$ $!" >"%s.tmp"; mv "%s.tmp" "%s"\n'
            'wait\n' % (pids, pids, pids))
        emu = self.modem(sb)
        run = self.start(sb, emu, ["--history", "none", "--on-call", hook])
        started = time.monotonic()
        emu.play(north_american_block("5551234", "ANN LEE"))
        wait_until(lambda: os.path.exists(pids), 10, "the program's start")
        with open(pids) as f:
            shell, sleeper = (int(p) for p in f.read().split())
        self.assertTrue(alive(sleeper))
        run.wait_status("sleeper still runs after 30 s: stopping it",
                        timeout=TIME_LIMIT + 10)
        self.assertGreaterEqual(time.monotonic() - started, TIME_LIMIT - 1)
        wait_until(lambda: not alive(shell) and not alive(sleeper), 5,
                   "the program and its sleep ended")
        self.assertIn("annc-line: sleeper was ended by signal 15", run.stderr())
        run.signal(signal.SIGTERM)
        self.assertExitCode(run, 0)

    def test_a_program_that_cannot_be_run_is_an_error_at_start(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        plain = os.path.join(sb.root, "not a program")
        with open(plain, "w") as f:
            f.write("echo hi\n")
        os.chmod(plain, 0o644)
        for program in (plain, os.path.join(sb.root, "missing"), sb.root):
            with self.subTest(program=program):
                run = self.start(sb, emu, ["--on-call", program],
                                 wait_ready=False)
                self.assertExitCode(run, 1, timeout=10)
                lines = run.status_lines()
                self.assertEqual(len(lines), 1, lines)
                self.assertTrue(lines[0].startswith(
                    "annc-line: cannot run the --on-call program " + program),
                    lines)


if __name__ == "__main__":
    unittest.main()
