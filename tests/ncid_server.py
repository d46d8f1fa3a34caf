"""A fake NCID server for annc-line's tests.

It listens on 127.0.0.1 (or ::1) on a free port and serves one client at a
time, as a real server would: it waits briefly for the client's two HELLO
lines (and records them), sends its greeting, the call history given, and
"300 End of connection startup", then sends what the test tells it to.
The first `silent` connections it accepts and never says a word on, as a
server that hangs would.  A
newer client replaces the one before.  The test can drop the client, stop
listening (connections are refused) and listen again on the same port.

Every loop is bounded: the server's thread looks at its stop flag every
50 ms and ends by itself after `lifetime` seconds whatever the test does.
"""

import select
import socket
import threading
import time

from harness import wait_until

GREETING = ("200 Server: ncidd (NCID) 1.17",
            "210 API: 1.11 Feature Set 1 2 3 4")
STARTUP_DONE = "300 End of connection startup"
HELLO_WAIT = 0.5


def free_port(host="127.0.0.1"):
    """A port nothing listens on (connections to it are refused)."""
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    with socket.socket(family, socket.SOCK_STREAM) as s:
        s.bind((host, 0))
        return s.getsockname()[1]


def cid_line(number, name="-", line="POTS", date="12082026", time_="1530"):
    return ("CID: *DATE*%s*TIME*%s*LINE*%s*NMBR*%s*MESG*NONE*NAME*%s*"
            % (date, time_, line, number, name))


def cidinfo_line(ring, line="POTS", time_="15:30:20"):
    return "CIDINFO: *LINE*%s*RING*%d*TIME*%s*" % (line, ring, time_)


class NcidServer:
    def __init__(self, history=(), host="127.0.0.1", lifetime=120.0,
                 silent=0):
        """silent: how many connections, the first ones, are accepted and
        then left without a word (a server that hangs)."""
        self.host = host
        self.silent = silent
        self.accepted = []        # time.monotonic() of each accept
        self.history = list(history)
        self.lifetime = lifetime
        self.port = None
        self.hellos = []          # per connection: the lines the client sent
        self._lock = threading.Lock()
        self._listener = None
        self._client = None
        self._stop = threading.Event()
        self._thread = None

    @property
    def address(self):
        host = "[%s]" % self.host if ":" in self.host else self.host
        return "ncid:%s:%d" % (host, self.port)

    def start(self):
        self.listen()
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()
        return self

    def listen(self):
        family = socket.AF_INET6 if ":" in self.host else socket.AF_INET
        s = socket.socket(family, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((self.host, self.port or 0))
        s.listen(4)
        self.port = s.getsockname()[1]
        with self._lock:
            self._listener = s

    def stop_listening(self):
        """Closes the listening socket: new connections are refused."""
        with self._lock:
            if self._listener is not None:
                self._listener.close()
                self._listener = None

    def drop(self):
        """Closes the connection to the client."""
        with self._lock:
            if self._client is not None:
                self._client.close()
                self._client = None

    def close(self):
        self._stop.set()
        if self._thread is not None:
            self._thread.join(5)
        self.drop()
        self.stop_listening()

    # What the test sends.

    def send(self, data):
        with self._lock:
            client = self._client
        if client is None:
            raise AssertionError("no client connected")
        client.sendall(data)

    def send_line(self, line):
        if isinstance(line, str):
            line = line.encode("latin-1")
        self.send(line + b"\r\n")

    def wait_clients(self, count, timeout=10.0):
        """Waits until `count` clients have been through the start-up."""
        def served():
            with self._lock:
                return len(self.hellos) >= count and self._client is not None
        wait_until(served, timeout, "%d clients" % count,
                   describe=lambda: "%d served" % len(self.hellos))

    # The server's side.

    def _serve(self):
        end = time.monotonic() + self.lifetime
        while not self._stop.is_set() and time.monotonic() < end:
            with self._lock:
                listener, client = self._listener, self._client
            watched = [s for s in (listener, client) if s is not None]
            if not watched:
                time.sleep(0.05)
                continue
            try:
                ready, _, _ = select.select(watched, [], [], 0.05)
            except (OSError, ValueError):
                continue                  # a socket closed meanwhile
            if listener is not None and listener in ready:
                try:
                    conn, _ = listener.accept()
                except OSError:
                    continue
                with self._lock:
                    self.accepted.append(time.monotonic())
                    hang = len(self.accepted) <= self.silent
                if hang:
                    self._hold(conn)
                else:
                    self._start_up(conn)
            if client is not None and client in ready:
                try:
                    data = client.recv(4096)
                except OSError:
                    data = b""
                if not data:
                    with self._lock:
                        if self._client is client:
                            self._client = None
                    client.close()
        self.drop()
        self.stop_listening()

    def _hold(self, conn):
        """Keeps the connection open and says nothing; what the client
        sends is read and thrown away, and it is closed when the client
        closes it or a newer connection comes."""
        with self._lock:
            old, self._client = self._client, conn
        if old is not None:
            old.close()

    def wait_accepted(self, count, timeout=10.0):
        """Waits until `count` connections have been accepted; returns the
        time.monotonic() of each."""
        def accepted():
            with self._lock:
                return list(self.accepted) if len(self.accepted) >= count \
                    else None
        return wait_until(accepted, timeout, "%d connections" % count)

    def _start_up(self, conn):
        received = b""
        deadline = time.monotonic() + HELLO_WAIT
        while received.count(b"\r\n") < 2 and time.monotonic() < deadline:
            ready, _, _ = select.select([conn], [], [], 0.05)
            if ready:
                chunk = conn.recv(4096)
                if not chunk:
                    break
                received += chunk
        lines = list(GREETING) + self.history + [STARTUP_DONE]
        try:
            conn.sendall(b"".join(l.encode("latin-1") + b"\r\n"
                                  for l in lines))
        except OSError:
            conn.close()
            return
        with self._lock:
            old, self._client = self._client, conn
            self.hellos.append(received.decode("latin-1").split("\r\n")[:-1])
        if old is not None:
            old.close()
