"""A real MQTT broker for the tests: Debian's mosquitto, started on
127.0.0.1 on a free port with a configuration of its own in a folder of the
test's, optionally with a password file or a TLS listener whose CA and
certificate are made here with openssl.  A Subscriber (mosquitto_sub)
collects the messages under a topic with the times they arrived.

Everything runs only as long as the test: close() stops what was started.
"""

import os
import pwd
import shutil
import signal
import socket
import subprocess
import threading
import time

from harness import wait_until


def have_mosquitto():
    """Whether the broker and its clients are installed."""
    return all(shutil.which(p) for p in ("mosquitto", "mosquitto_sub",
                                         "mosquitto_pub", "mosquitto_passwd",
                                         "openssl"))


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=30)


def make_ca(folder, name):
    """A CA of the test's own: (certificate path, key path)."""
    key, crt = name + ".key", name + ".crt"
    _openssl("req", "-x509", "-newkey", "ec", "-pkeyopt",
             "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key,
             "-out", crt, "-days", "2", "-subj", "/CN=" + name, cwd=folder)
    return os.path.join(folder, crt), os.path.join(folder, key)


def make_server_cert(folder, ca_crt, ca_key, name="server"):
    """A certificate for 127.0.0.1 (and localhost) signed by the CA:
    (certificate path, key path)."""
    key, csr, crt = name + ".key", name + ".csr", name + ".crt"
    _openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
             "-nodes", "-keyout", key, "-out", csr, "-subj", "/CN=127.0.0.1",
             cwd=folder)
    ext = os.path.join(folder, name + ".ext")
    with open(ext, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
    _openssl("x509", "-req", "-in", csr, "-CA", ca_crt, "-CAkey", ca_key,
             "-CAcreateserial", "-out", crt, "-days", "2", "-extfile", ext,
             cwd=folder)
    return os.path.join(folder, crt), os.path.join(folder, key)


class Broker:
    """mosquitto on 127.0.0.1:port.  users: {name: password} (anonymous
    clients are refused then); tls: True for a TLS listener with a
    certificate from a CA of its own (ca_crt)."""

    def __init__(self, folder, users=None, tls=False, port=None, persistent=False):
        """persistent: the broker keeps its sessions and their queued
        messages across a restart (for a Subscriber with a session_id)."""
        self.folder = os.path.join(folder, "broker-%d" % id(self))
        os.makedirs(self.folder, exist_ok=True)
        self.port = port or free_port()
        self.users = users
        self.tls = tls
        self.ca_crt = None
        self.proc = None
        self.paused = False
        self.log_path = os.path.join(self.folder, "mosquitto.log")
        self.conf_path = os.path.join(self.folder, "mosquitto.conf")
        lines = ["listener %d 127.0.0.1" % self.port,
                 "persistence %s" % ("true" if persistent else "false"),
                 "persistence_location %s/" % self.folder,
                 "log_dest file %s" % self.log_path,
                 "log_type all",
                 # As root, mosquitto would switch to its own user, who
                 # cannot read the test's folder.
                 "user %s" % pwd.getpwuid(os.getuid()).pw_name]
        if users:
            passwords = os.path.join(self.folder, "passwords")
            for i, (name, password) in enumerate(users.items()):
                subprocess.run(["mosquitto_passwd", "-b"] + (["-c"] if i == 0 else []) +
                               [passwords, name, password], check=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               timeout=30)
            lines += ["allow_anonymous false", "password_file %s" % passwords]
        else:
            lines.append("allow_anonymous true")
        if tls:
            self.ca_crt, ca_key = make_ca(self.folder, "broker-ca")
            crt, key = make_server_cert(self.folder, self.ca_crt, ca_key)
            lines += ["cafile %s" % self.ca_crt, "certfile %s" % crt,
                      "keyfile %s" % key]
        with open(self.conf_path, "w") as f:
            f.write("\n".join(lines) + "\n")

    @property
    def url(self):
        return "%s://127.0.0.1:%d" % ("mqtts" if self.tls else "mqtt", self.port)

    def start(self):
        """Starts the broker and waits until it takes connections."""
        self.proc = subprocess.Popen(["mosquitto", "-c", self.conf_path],
                                     stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL,
                                     start_new_session=True)
        self.paused = False

        def listening():
            if self.proc.poll() is not None:
                raise AssertionError("mosquitto ended (%r): %s" % (
                    self.proc.returncode, self.log()))
            try:
                with socket.create_connection(("127.0.0.1", self.port), 0.5):
                    return True
            except OSError:
                return False
        wait_until(listening, 10, "mosquitto listening on %d" % self.port)
        return self

    def stop(self):
        """Ends the broker (SIGTERM, then SIGKILL) and waits for it."""
        if self.proc is None:
            return
        if self.paused:
            self.resume()
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)
        self.proc = None

    def pause(self):
        """SIGSTOP: the broker holds its connections and answers nothing."""
        os.kill(self.proc.pid, signal.SIGSTOP)
        self.paused = True

    def resume(self):
        os.kill(self.proc.pid, signal.SIGCONT)
        self.paused = False

    close = stop

    def log(self):
        try:
            with open(self.log_path, "rb") as f:
                return f.read().decode("latin-1")
        except FileNotFoundError:
            return ""

    def client_args(self, user=None):
        """The arguments mosquitto_sub and mosquitto_pub need for this
        broker."""
        args = ["-h", "127.0.0.1", "-p", str(self.port)]
        if self.tls:
            args += ["--cafile", self.ca_crt]
        if user is not None:
            args += ["-u", user, "-P", self.users[user]]
        return args

    def publish(self, topic, payload, retain=False, user=None):
        subprocess.run(["mosquitto_pub"] + self.client_args(user) +
                       ["-q", "1", "-t", topic, "-m", payload] +
                       (["-r"] if retain else []),
                       check=True, timeout=10, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)


class Subscriber:
    """mosquitto_sub on `topic` (QoS 1): messages() gives (arrival time
    (time.monotonic), topic, payload bytes) of each message so far.  Once
    start() has returned, the subscription is in place."""

    def __init__(self, broker, topic, user=None, session_id=None):
        """session_id: a session the broker keeps (with a persistent
        broker, across its restart): mosquitto_sub reconnects and gets
        what was published meanwhile."""
        self.broker = broker
        self.session_id = session_id
        self.topic = topic
        self.user = user
        self._lock = threading.Lock()
        self._messages = []
        self.proc = None

    def start(self):
        probe = "annc-test-probe/%d" % id(self)
        self.proc = subprocess.Popen(
            ["mosquitto_sub"] + self.broker.client_args(self.user) +
            ["-q", "1", "-t", self.topic, "-t", probe, "-F", "%t %p"] +
            (["-c", "-i", self.session_id] if self.session_id else []),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            start_new_session=True)
        threading.Thread(target=self._read, daemon=True).start()
        # Published until it arrives: then the subscription is there.
        deadline = time.monotonic() + 10
        while not any(t == probe for _, t, _ in self.messages()):
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise AssertionError("mosquitto_sub did not subscribe")
            self.broker.publish(probe, "probe", user=self.user)
            time.sleep(0.1)
        return self

    def _read(self):
        for line in self.proc.stdout:
            now = time.monotonic()
            topic, _, payload = line.rstrip(b"\n").partition(b" ")
            with self._lock:
                self._messages.append((now, topic.decode("utf-8", "replace"), payload))

    def messages(self, topic=None):
        with self._lock:
            return [m for m in self._messages if topic is None or m[1] == topic]

    def payloads(self, topic):
        return [p for _, _, p in self.messages(topic)]

    def wait_count(self, topic, count, timeout=15.0):
        wait_until(lambda: len(self.messages(topic)) >= count, timeout,
                   "%d messages on %s" % (count, topic),
                   describe=lambda: "got %r" % self.messages())
        return self.messages(topic)

    def close(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)
        if self.proc is not None:
            self.proc.stdout.close()
        self.proc = None
