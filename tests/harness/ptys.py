"""Pseudo-terminals (annc's console, the modem's serial line) and the
reader that collects what a process writes to a descriptor."""

import errno
import os
import select
import termios
import threading
import time
import tty

from .rules import to_bytes


def open_pty(output_raw=True):
    """A pseudo-terminal pair (master, slave).  With output_raw the slave's
    output processing is off, so bytes written to it reach the master
    unchanged (no LF to CR LF).  Its input side keeps the usual line
    discipline, as a terminal a person uses would."""
    master, slave = os.openpty()
    if output_raw:
        attrs = termios.tcgetattr(slave)
        attrs[1] &= ~termios.OPOST
        termios.tcsetattr(slave, termios.TCSANOW, attrs)
    return master, slave


class SerialLine:
    """A pseudo-terminal pair standing in for the modem's serial port: the
    test is the modem on the master side; annc inherits the slave."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        # A launcher hands over a port set up for binary data: no echo, no
        # line editing, no CR/LF translation.
        tty.setraw(self.slave, termios.TCSANOW)
        self._reader = FdReader(self.master)    # what annc sends, if any

    @property
    def fd(self):
        return self.slave

    def send(self, data):
        os.write(self.master, to_bytes(data))

    def received(self, settle=0.1):
        """What annc has written to the line, after giving the reader
        a moment to pick up the last bytes."""
        time.sleep(settle)
        return self._reader.snapshot()

    def close_master(self):
        if self.master is not None:
            self._reader.stop()
            os.close(self.master)
            self.master = None

    def close(self):
        self.close_master()
        if self.slave is not None:
            os.close(self.slave)
            self.slave = None


class FdReader:
    """Collects everything readable from an fd on a background thread,
    noting when each chunk arrived."""

    def __init__(self, fd):
        self.fd = fd
        self.data = bytearray()
        # (time.perf_counter(), time.time(), len(data)) after each chunk.
        self.arrivals = []
        self.cond = threading.Condition()
        self._stop = threading.Event()
        self._done = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        try:
            while True:
                try:
                    ready, _, _ = select.select([self.fd], [], [], 0.05)
                except (OSError, ValueError):
                    break
                if not ready:
                    if self._stop.is_set():
                        break
                    continue
                try:
                    chunk = os.read(self.fd, 65536)
                except OSError as e:
                    if e.errno in (errno.EIO, errno.EBADF):
                        break           # pty master after the slave closed
                    raise
                if not chunk:
                    break
                now, wall = time.perf_counter(), time.time()
                with self.cond:
                    self.data += chunk
                    self.arrivals.append((now, wall, len(self.data)))
                    self.cond.notify_all()
        finally:
            with self.cond:
                self._done.set()
                self.cond.notify_all()

    def snapshot(self):
        with self.cond:
            return bytes(self.data)

    def lines(self):
        """The LF-ended lines read so far, trailing CRs cut, each as
        (perf_counter, wall clock, line) at the read that completed it."""
        with self.cond:
            data = bytes(self.data)
            arrivals = list(self.arrivals)
        found = []
        start, chunk = 0, 0
        while True:
            end = data.find(b"\n", start)
            if end < 0:
                return found
            while arrivals[chunk][2] <= end:
                chunk += 1
            now, wall, _ = arrivals[chunk]
            found.append((now, wall, data[start:end].rstrip(b"\r")))
            start = end + 1

    def wait_lines(self, pred, count, timeout):
        """Waits until count lines match pred, the fd ends or the time runs
        out; returns the matching lines."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                hits = [l for l in self.lines() if pred(l[2])]
                if len(hits) >= count or self._done.is_set():
                    return hits
                left = deadline - time.monotonic()
                if left <= 0:
                    return hits
                self.cond.wait(left)

    def stop(self, timeout=5.0):
        """Stops after reading what is already there."""
        self._stop.set()
        self._done.wait(timeout)

    def wait_eof(self, timeout):
        return self._done.wait(timeout)
