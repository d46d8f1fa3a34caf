"""Runs the real annc-line with the real annc on an emulated modem, with a
fake NCID server or with a fake FRITZ!Box call monitor.

annc-line is started in a Sandbox (see the harness package): it runs the sandbox's
copy of annc (--annc), so annc finds the synthetic recordings and plays them
into the capture file.  Its lock file goes to a folder of the sandbox
(--lock-dir); its standard error and output go to files there.  annc-line and
every annc it starts run in a process group of their own, which is killed at
the end whatever happened, and the emulated modem is closed.
"""

import fcntl
import os
import struct
import subprocess
import termios
import time

from harness import (
    MARKER, REPO_ROOT, SEPARATOR, WORD_CODE, AnncTestCase, CapturedSound,
    candidate_cycles, children_of, decode_samples, decode_words_and_sound,
    kill_group, parse_log_line, read_capture_chunks, wait_until)
from fritz_box import FritzBox
from modem_emulator import ModemEmulator
from ncid_server import NcidServer

RING_TIMEOUT = 1.0


def annc_line_binary():
    """Absolute path of the launcher under test: $ANNC_LINE_BINARY or
    build/annc-line (it is run from folders of the tests' own)."""
    return os.path.abspath(os.environ.get("ANNC_LINE_BINARY") or os.path.join(
        REPO_ROOT, "build", "annc-line"))


def _take_terminal():
    """In the child, in a session of its own: standard input, a terminal,
    becomes the controlling terminal, and the session's group (the
    child's) its foreground group."""
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


class LineRun:
    """A running annc-line."""

    def __init__(self, sandbox, device, args=(), lock_dir=None,
                 ring_timeout=RING_TIMEOUT, annc=None, stderr=None,
                 console=None, env=None):
        """stderr: a descriptor for annc-line's standard error instead of
        the file err_path.  console: the slave of a pseudo-terminal that
        becomes annc-line's controlling terminal, with annc-line's group
        in its foreground, and its standard input and output (as on a
        virtual console); without it, standard input is a pipe the test
        writes keys into (press_key)."""
        self.sandbox = sandbox
        self.lock_dir = lock_dir or os.path.join(sandbox.root, "lock")
        os.makedirs(self.lock_dir, exist_ok=True)
        self.err_path = os.path.join(sandbox.root, "line-%d.err" % id(self))
        self.out_path = os.path.join(sandbox.root, "line-%d.out" % id(self))
        # A lock folder is a modem's: with a server, a box or a broker it is an error.
        where = [] if device.startswith(("ncid:", "fritz:", "mqtt:", "mqtts:")) else [
            "--lock-dir", self.lock_dir]
        # ring_timeout None: annc-line's own default for the source.
        timeout = [] if ring_timeout is None else ["--ring-timeout",
                                                   str(ring_timeout)]
        cmd = [annc_line_binary(), "--annc", annc or sandbox.exe] + where + \
            timeout + list(args) + [device]
        if console is None:
            self._keys_r, self._keys_w = os.pipe()
        else:
            self._keys_r, self._keys_w = console, None
        with open(self.err_path, "wb") as err, open(self.out_path, "wb") as out:
            self.proc = subprocess.Popen(
                cmd, stdin=self._keys_r,
                stdout=out if console is None else console,
                stderr=err if stderr is None else stderr,
                cwd=sandbox.cwd, env=sandbox.env() if env is None else env,
                start_new_session=True,
                preexec_fn=None if console is None else _take_terminal)
        if console is None:
            os.close(self._keys_r)
        self.t_start = time.time()
        self.returncode = None

    @property
    def pid(self):
        return self.proc.pid

    def stderr(self):
        with open(self.err_path, "rb") as f:
            return f.read().decode("latin-1")

    def stdout(self):
        with open(self.out_path, "rb") as f:
            return f.read().decode("latin-1")

    def status_lines(self):
        return [l for l in self.stderr().splitlines()]

    def wait_for(self, condition, what, timeout=15.0):
        def ended():
            code = self.proc.poll()
            return None if code is None else "annc-line ended (%r)" % code
        wait_until(condition, timeout, what, gone=ended,
                   describe=lambda: "stderr=%r" % self.stderr())

    def wait_status(self, text, count=1, timeout=15.0):
        self.wait_for(lambda: self.stderr().count(text) >= count,
                      "%d x %r on stderr" % (count, text), timeout)

    def press_key(self, key=b"k"):
        """A key on standard input, which the running annc reads."""
        os.write(self._keys_w, key)

    def announcers(self):
        return children_of(self.proc.pid)

    def signal(self, sig):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)

    def wait(self, timeout=20.0):
        """The exit code; None (and annc-line killed) when it did not end."""
        try:
            self.returncode = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.returncode = None
        self.t_end = time.time()
        return self.returncode

    def close(self):
        kill_group(self.proc)
        if self._keys_w is not None:
            os.close(self._keys_w)
            self._keys_w = None


class LineTestCase(AnncTestCase):
    """Sandboxes, modems and runs that are cleaned up after each test."""

    def modem(self, sandbox, profile="vcid"):
        emu = ModemEmulator(sandbox.root, profile).start()
        self.addCleanup(emu.close)
        return emu

    def ncid_server(self, **kw):
        server = NcidServer(**kw).start()
        self.addCleanup(server.close)
        return server

    def fritz_box(self, **kw):
        box = FritzBox(**kw).start()
        self.addCleanup(box.close)
        return box

    def start(self, sandbox, modem, args=(), wait_ready=True, **kw):
        """annc-line on an emulated modem, a fake NCID server, a fake
        FRITZ!Box, or on a device path."""
        if isinstance(modem, str):
            device = modem
        elif isinstance(modem, (NcidServer, FritzBox)):
            device = modem.address
        else:
            device = modem.link
        run = LineRun(sandbox, device, args, **kw)
        self.addCleanup(run.close)
        if wait_ready:
            run.wait_status("connected to NCID server"
                            if isinstance(modem, NcidServer)
                            else "connected to FRITZ!Box"
                            if isinstance(modem, FritzBox)
                            else "modem ready on")
        return run

    def assertExitCode(self, run, code, timeout=20.0):
        got = run.wait(timeout)
        self.assertEqual(got, code, "annc-line exit %r; stderr=%r"
                         % (got, run.stderr()))

    def calls_logged(self, sandbox, path=None):
        """(message) of each call line in annc's log."""
        log = sandbox.log_bytes(path) or b""
        lines = [parse_log_line(l) for l in log.split(b"\r\n")[:-1]]
        return [l["message"] for l in lines if l and l["prefix"] == b" "]

    def ring_until_spoken(self, emu, sandbox, call, words=12):
        """Rings every 0.4 s until announcement number `call` (0: the
        first) has spoken `words` words: a whole cycle of a short
        number."""
        def spoken():
            played = self.calls_played(sandbox)
            return len(played) == call + 1 and len(played[call]) >= words
        return emu.ring_until(spoken, gap=0.4)

    def calls_played(self, sandbox):
        """The words of each annc run, one list per capture file (each
        announcer opens the sound device once)."""
        return [[w.label() for w in decode_samples(raw, sandbox.word_samples)]
                for raw in read_capture_chunks(sandbox.capture_path)]

    def calls_heard(self, sandbox):
        """Each annc run's sound, one list per capture file: CapturedWords
        for the synthetic words, CapturedSounds for real recordings (a
        synthesized name) between them."""
        return [decode_words_and_sound(raw, sandbox.word_samples)
                for raw in read_capture_chunks(sandbox.capture_path)]

    def separators_heard(self, sandbox, call=0):
        """How many separators announcement number `call` has played so
        far: a cheap look at the raw capture, while sound still comes."""
        chunks = read_capture_chunks(sandbox.capture_path)
        if len(chunks) <= call:
            return 0
        start = struct.pack("<hh", MARKER, WORD_CODE[SEPARATOR])
        return chunks[call].count(start)

    def name_stretches(self, heard):
        """For each cycle begun in one run's sound (calls_heard), what came
        between its opening separator and the next word: a CapturedSound,
        or None when a word came at once."""
        found, separators = [], 0
        for i, item in enumerate(heard):
            if isinstance(item, CapturedSound) or item.name != SEPARATOR:
                continue
            separators += 1
            if separators % 2 == 1 and i + 1 < len(heard):
                following = heard[i + 1]
                found.append(following if isinstance(following, CapturedSound)
                             else None)
        return found

    def full_cycles(self, number, words, t_start, t_end, name=()):
        """How many whole cycles for number `words` starts with, each with
        the words `name` after its opening separator; what follows them
        must be the start of one more cycle."""
        options = candidate_cycles(number, t_start, t_end, name=name)
        rest, count = list(words), 0
        while True:
            whole = [c for c in options if rest[:len(c)] == c]
            if not whole:
                break
            rest = rest[len(whole[0]):]
            count += 1
        self.assertTrue(any(c[:len(rest)] == rest for c in options),
                        "after %d cycles of %r: %r" % (count, number, rest))
        return count
