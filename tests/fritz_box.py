"""A fake FRITZ!Box call monitor for annc-line's tests.

It listens on 127.0.0.1 (or ::1) on a free port and, like the box, takes any
number of clients and sends each the same lines: a client connects and hears
nothing until the test sends an event.  Lines end in LF (CR LF on request),
fields are separated by ';' and every line ends with ';'.  The test can drop
the clients, stop listening (connections are refused), listen again on the
same port, and send bytes without any line end.

Every loop is bounded: the box's thread looks at its stop flag every 50 ms
and ends by itself after `lifetime` seconds whatever the test does; a send
to a client that reads nothing gives up after SEND_TIMEOUT seconds.
"""

import select
import socket
import threading
import time

DEFAULT_PORT = 1012
SEND_TIMEOUT = 10.0


def free_port(host="127.0.0.1"):
    """A port nothing listens on (connections to it are refused)."""
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    with socket.socket(family, socket.SOCK_STREAM) as s:
        s.bind((host, 0))
        return s.getsockname()[1]


def stamp(when=None):
    """The box's time stamp, DD.MM.YY HH:MM:SS."""
    return time.strftime("%d.%m.%y %H:%M:%S", time.localtime(when))


def ring_line(conn_id, caller, called="5559876", trunk="SIP0", when=None):
    """An incoming call; caller "" for a withheld number."""
    return "%s;RING;%s;%s;%s;%s;" % (stamp(when), conn_id, caller, called,
                                     trunk)


def connect_line(conn_id, extension=4, number="5551234", when=None):
    """The call was answered on an extension."""
    return "%s;CONNECT;%s;%s;%s;" % (stamp(when), conn_id, extension, number)


def disconnect_line(conn_id, seconds=0, when=None):
    """The call is over, after `seconds` of talk."""
    return "%s;DISCONNECT;%s;%d;" % (stamp(when), conn_id, seconds)


def call_line(conn_id, extension=12, own="5559876", dialled="5552222",
              trunk="SIP0", when=None):
    """An outgoing call."""
    return "%s;CALL;%s;%s;%s;%s;%s;" % (stamp(when), conn_id, extension, own,
                                        dialled, trunk)


class FritzBox:
    def __init__(self, host="127.0.0.1", lifetime=120.0):
        self.host = host
        self.lifetime = lifetime
        self.port = None
        self.accepted = 0         # connections taken since the start
        self.received = b""       # what clients sent (the box expects nothing)
        self._lock = threading.Lock()
        self._listener = None
        self._clients = []
        self._stop = threading.Event()
        self._thread = None

    @property
    def address(self):
        host = "[%s]" % self.host if ":" in self.host else self.host
        return "fritz:%s:%d" % (host, self.port)

    def start(self):
        self.listen()
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()
        return self

    def listen(self):
        """Listens (again, on the same port once it has one)."""
        family = socket.AF_INET6 if ":" in self.host else socket.AF_INET
        s = socket.socket(family, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        # The socket closed by stop_listening may hold the port for a few
        # milliseconds more, until the box's thread has let go of it.
        deadline = time.monotonic() + 2.0
        while True:
            try:
                s.bind((self.host, self.port or 0))
                break
            except OSError:
                if time.monotonic() >= deadline:
                    s.close()
                    raise
                time.sleep(0.02)
        s.listen(8)
        self.port = s.getsockname()[1]
        with self._lock:
            self._listener = s

    def stop_listening(self):
        """Closes the listening socket: new connections are refused (the
        call monitor switched off, or the box restarting)."""
        with self._lock:
            listener, self._listener = self._listener, None
        if listener is not None:
            # close() alone leaves the socket listening while the box's
            # thread still waits in select() on it; shutdown() stops it at
            # once, so the very next connection is refused.
            try:
                listener.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            listener.close()

    def drop(self):
        """Closes every client's connection."""
        with self._lock:
            clients, self._clients = self._clients, []
        for c in clients:
            c.close()

    def close(self):
        self._stop.set()
        if self._thread is not None:
            self._thread.join(5)
        self.drop()
        self.stop_listening()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.close()

    # What the test sends, to every client connected.

    def clients(self):
        with self._lock:
            return len(self._clients)

    def send(self, data):
        with self._lock:
            clients = list(self._clients)
        if not clients:
            raise AssertionError("no client connected")
        for c in clients:
            c.sendall(data)

    def send_line(self, line, crlf=False):
        if isinstance(line, str):
            line = line.encode("latin-1")
        self.send(line + (b"\r\n" if crlf else b"\n"))

    def send_flood(self, size=1 << 20, chunk=64 * 1024, byte=b"X"):
        """`size` bytes without a line end, in chunks."""
        block = byte * chunk
        sent = 0
        while sent < size:
            part = block[:min(chunk, size - sent)]
            self.send(part)
            sent += len(part)

    def wait_clients(self, count, timeout=10.0):
        """Waits until `count` clients are connected at once."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.clients() >= count:
                return
            time.sleep(0.02)
        raise AssertionError("%d clients connected, expected %d"
                             % (self.clients(), count))

    def wait_no_clients(self, timeout=10.0):
        """Waits until every client has gone."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.clients() == 0:
                return
            time.sleep(0.02)
        raise AssertionError("%d clients still connected" % self.clients())

    # The box's side: take connections, notice clients that leave.

    def _serve(self):
        end = time.monotonic() + self.lifetime
        while not self._stop.is_set() and time.monotonic() < end:
            with self._lock:
                listener, clients = self._listener, list(self._clients)
            watched = [s for s in [listener] + clients if s is not None]
            if not watched:
                time.sleep(0.05)
                continue
            try:
                ready, _, _ = select.select(watched, [], [], 0.05)
            except (OSError, ValueError):
                continue                  # a socket closed meanwhile
            for s in ready:
                if s is listener:
                    try:
                        conn, _ = listener.accept()
                    except OSError:
                        continue
                    conn.settimeout(SEND_TIMEOUT)
                    with self._lock:
                        self._clients.append(conn)
                        self.accepted += 1
                    continue
                try:
                    data = s.recv(4096)
                except OSError:
                    data = b""
                if data:
                    with self._lock:
                        self.received += data
                    continue
                with self._lock:
                    if s in self._clients:
                        self._clients.remove(s)
                s.close()
        self.drop()
        self.stop_listening()


if __name__ == "__main__":
    # By hand: python3 tests/fritz_box.py, then
    # build/annc-line fritz:127.0.0.1:PORT in another terminal; each line
    # typed here goes to the clients as it is ("ring 2 5551234" and
    # "connect 2", "disconnect 2" make the box's lines).
    import sys
    with FritzBox(lifetime=3600) as box:
        print("listening on %s; type lines, Ctrl-D ends" % box.address)
        for typed in sys.stdin:
            words = typed.split()
            try:
                if words[:1] == ["ring"] and len(words) >= 2:
                    box.send_line(ring_line(words[1], *words[2:5]))
                elif words[:1] == ["connect"] and len(words) == 2:
                    box.send_line(connect_line(words[1]))
                elif words[:1] == ["disconnect"] and len(words) == 2:
                    box.send_line(disconnect_line(words[1]))
                else:
                    box.send_line(typed.rstrip("\n"))
            except AssertionError as e:
                print(e)
