"""Running annc: a Launch is one running annc that a test drives and
watches; its Result is what was observed once it ended."""

import os
import signal
import subprocess
import termios
import time

from . import procfs
from .console import BANNER, BEL
from .ptys import FdReader, open_pty
from .rules import SEPARATOR, to_bytes
from .waiting import wait_until

DEFAULT_TIMEOUT = 30.0


class Result:
    def __init__(self, launch, returncode, timed_out):
        self.returncode = returncode
        self.timed_out = timed_out
        self.stdout = launch.stdout_bytes()
        self.stderr = launch.stderr_bytes()
        self.t_start = launch.t_start
        self.t_end = launch.t_end
        self.tz_offset = launch.tz_offset
        self.args = launch.args
        self.sandbox = launch.sandbox
        self.termios_before = launch.termios_before
        self.termios_after = launch.termios_after
        self.words = launch.sandbox.captured_words()

    @property
    def beeps(self):
        return self.stderr.count(BEL)

    def describe(self):
        return ("annc %r: exit %r%s\n  stdout=%r\n  stderr=%r\n  words=%r"
                % (self.args, self.returncode,
                   " (timed out, killed)" if self.timed_out else "",
                   self.stdout[:600], self.stderr[:300], self.words[:60]))


class Launch:
    """A running annc.

    stdin:  "pipe" (the test writes keys into it), "pty", "devnull",
            "eof" (a pipe already closed by its writer), or bytes written
            into a pipe at once (the pipe stays open).
    stdout: "pipe", "pty" (the same pseudo-terminal as stdin when stdin is
            "pty"), "closed" (file descriptor 1 not open at all), or
            "broken" (a pipe whose reading end is already closed).
    serial: a SerialLine whose slave annc inherits (pass its fd in args).

    Used in a with statement, annc is killed when the block fails, so that
    a failed wait leaves no annc behind; the test waits for the end after
    the block.
    """

    def __init__(self, sandbox, args, stdin="pipe", stdout="pipe",
                 serial=None, cwd=None, tz_offset=0, env=None,
                 pass_fds=()):
        self.sandbox = sandbox
        self.args = [to_bytes(a) for a in args]
        self.tz_offset = tz_offset
        self.termios_before = self.termios_after = None
        self._pty_master = self._pty_slave = None
        self._stdin_w = None
        self._stdout_reader = None
        self.proc = None

        fds = list(pass_fds)
        if serial is not None:
            fds.append(serial.fd)
        if stdin == "pty" or stdout == "pty":
            self._pty_master, self._pty_slave = open_pty()
            self.termios_before = termios.tcgetattr(self._pty_slave)

        close_after = []
        if stdin == "pty":
            child_stdin = self._pty_slave
        elif stdin == "devnull":
            child_stdin = subprocess.DEVNULL
        else:
            r, w = os.pipe()
            child_stdin = r
            close_after.append(r)
            self._stdin_w = w
            if isinstance(stdin, (bytes, bytearray)):
                os.write(w, stdin)
            elif stdin == "eof":
                self.close_stdin()
            elif stdin != "pipe":
                raise ValueError("unknown stdin %r" % stdin)

        cmd = [sandbox.exe] + self.args
        if stdout == "pty":
            child_stdout = self._pty_slave
        elif stdout == "pipe":
            child_stdout = subprocess.PIPE
        elif stdout == "closed":
            child_stdout = None
            # Close descriptor 1 in the child right before annc starts.
            cmd = ["/bin/sh", "-c", 'exec "$0" "$@" >&-'] + cmd
        elif stdout == "broken":
            r, w = os.pipe()
            os.close(r)
            child_stdout = w
            close_after.append(w)
        else:
            raise ValueError("unknown stdout %r" % stdout)

        self.t_start = time.time()
        self.t_end = None
        self.proc = subprocess.Popen(
            cmd, stdin=child_stdin, stdout=child_stdout,
            stderr=subprocess.PIPE, cwd=cwd or sandbox.cwd,
            env=env or sandbox.env(tz_offset), pass_fds=fds,
            start_new_session=True)
        for fd in close_after:
            os.close(fd)
        if stdout == "pty":
            self._stdout_reader = FdReader(self._pty_master)
        elif stdout == "pipe":
            self._stdout_reader = FdReader(self.proc.stdout.fileno())
        self._stderr_reader = FdReader(self.proc.stderr.fileno())

    @property
    def pid(self):
        return self.proc.pid

    # Input.

    def press_key(self, key=b"k"):
        """Writes one key into standard input (pipe or terminal)."""
        if self._stdin_w is not None:
            os.write(self._stdin_w, key)
        elif self._pty_master is not None:
            os.write(self._pty_master, key)
        else:
            raise RuntimeError("standard input takes no keys in this run")

    def close_stdin(self):
        if self._stdin_w is not None:
            os.close(self._stdin_w)
            self._stdin_w = None

    # Observation while running.

    def stdout_bytes(self):
        return self._stdout_reader.snapshot() if self._stdout_reader else b""

    def stderr_bytes(self):
        return self._stderr_reader.snapshot()

    def running(self):
        return self.proc.poll() is None

    def wait_until(self, condition, timeout=15.0, what="condition"):
        """Polls condition() until it holds; fails when annc ends first or
        the time runs out."""
        def ended():
            code = self.proc.poll()
            return None if code is None else "annc ended (exit %r)" % code

        def seen():
            return "stdout=%r stderr=%r words=%r" % (
                self.stdout_bytes()[:400], self.stderr_bytes()[:200],
                self.sandbox.captured_words()[:40])
        wait_until(condition, timeout, what, gone=ended, describe=seen)

    def wait_stdout_count(self, needle, count=1, timeout=15.0):
        needle = to_bytes(needle)
        self.wait_until(lambda: self.stdout_bytes().count(needle) >= count,
                        timeout, "%d x %r on stdout" % (count, needle))

    def wait_words(self, count=1, timeout=15.0):
        """Until at least count words have been captured."""
        self.wait_until(lambda: len(self.sandbox.captured()) >= count,
                        timeout, "%d captured words" % count)

    def wait_word(self, word, count=1, timeout=15.0):
        """Until the count-th playing of word has been captured."""
        self.wait_until(
            lambda: [w.name for w in self.sandbox.captured()].count(word)
            >= count, timeout, "%d x word %r captured" % (count, word))

    def wait_cycle_started(self, n=1, timeout=15.0):
        """Until a word of cycle n has been captured (cycle n has begun)."""
        def started():
            seps = 0
            for word in self.sandbox.captured():
                if seps == 2 * (n - 1):
                    return True     # a word after the last cycle's end
                if word.name == SEPARATOR:
                    seps += 1
            return False
        self.wait_until(started, timeout, "start of cycle %d" % n)

    def cpu_ticks(self):
        """User plus system CPU time of annc so far, in clock ticks."""
        return procfs.cpu_ticks(self.proc.pid)

    # The end.

    def signal(self, sig):
        if self.running():
            self.proc.send_signal(sig)

    def wait(self, timeout=DEFAULT_TIMEOUT):
        timed_out = False
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            timed_out = True
            self.proc.kill()
            self.proc.wait()
        self.t_end = time.time()
        if self._stdout_reader is not None:
            if self._pty_master is not None and \
                    self._stdout_reader.fd == self._pty_master:
                self._stdout_reader.stop()
            else:
                self._stdout_reader.wait_eof(5.0)
        self._stderr_reader.wait_eof(5.0)
        if self._pty_slave is not None:
            self.termios_after = termios.tcgetattr(self._pty_slave)
        result = Result(self, self.proc.returncode, timed_out)
        self._close()
        return result

    def _close(self):
        self.close_stdin()
        for fd in (self._pty_master, self._pty_slave):
            if fd is not None:
                try:
                    os.close(fd)
                except OSError:
                    pass
        self._pty_master = self._pty_slave = None
        for stream in (self.proc.stdout, self.proc.stderr):
            if stream is not None:
                stream.close()

    def kill(self):
        if self.running():
            self.proc.kill()
        return self.wait(5.0)

    def __enter__(self):
        return self

    def __exit__(self, kind, value, traceback):
        if kind is not None:
            self.kill()
        return False


def kill_group(proc):
    """Kills a process started in a session of its own (start_new_session)
    with everything in its group, and reaps it."""
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except OSError:
        pass                    # ended, and its group with it
    proc.wait()


def run_cycles(sandbox, args, cycles=1, stdin="pty", stdout="pty",
               timeout=DEFAULT_TIMEOUT, **kw):
    """Runs annc for exactly `cycles` announcement cycles: the key is pressed
    while the last wanted cycle is being spoken, so annc ends after it.

    With stdout on a terminal the caller lines show each cycle's start;
    otherwise the captured sound does (needs the capture device)."""
    with sandbox.launch(args, stdin=stdin, stdout=stdout, **kw) as launch:
        if stdout == "pty":
            # The caller line ends with CR LF; the banner's two lines and
            # the serial confirmations come first.
            def lines_after_banner():
                out = launch.stdout_bytes()
                at = out.find(BANNER)
                return -1 if at < 0 else out[at + len(BANNER):].count(b"\r\n")
            launch.wait_until(lambda: lines_after_banner() >= cycles,
                              timeout / 2, "caller line %d" % cycles)
        else:
            launch.wait_cycle_started(cycles, timeout / 2)
        launch.press_key()
    return launch.wait(timeout)


def run_parallel(jobs, workers=6):
    """Runs callables on threads; returns their results in order.  An
    exception in a job is re-raised here."""
    from concurrent.futures import ThreadPoolExecutor
    with ThreadPoolExecutor(max_workers=workers) as pool:
        futures = [pool.submit(job) for job in jobs]
        return [f.result() for f in futures]
