"""annc-web over HTTP: the real program on a free loopback port, reading a
history made here with sqlite3 in annc-line's schema."""

import html.parser
import http.client
import os
import re
import shutil
import socket
import sqlite3
import subprocess
import tempfile
import time
import unittest

BINARY = os.environ.get("ANNC_WEB_BINARY", "")
SCHEMA_SOURCE = os.path.join(os.path.dirname(__file__), "..", "line", "history", "call_history.cc")

HOSTILE_NAMES = ["<script>alert(1)</script>", '"><img src=x onerror=alert(1)>']


def schema():
    """annc-line's CREATE statements, read from its source."""
    text = open(SCHEMA_SOURCE).read()
    steps = re.search(r"kSchemaSteps\[kHistorySchemaVersion\] = \{(.*?)\n\};", text, re.S).group(1)
    return "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', steps))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Elements(html.parser.HTMLParser):
    """Every element's tag and attributes, and the text, of a page."""

    def __init__(self):
        super().__init__()
        self.elements = []
        self.text = []

    def handle_starttag(self, tag, attrs):
        self.elements.append((tag, dict(attrs)))

    def handle_data(self, data):
        self.text.append(data)


def parse(body):
    parser = Elements()
    parser.feed(body.decode("utf-8"))
    return parser


@unittest.skipUnless(BINARY, "ANNC_WEB_BINARY names no annc-web")
class WebTest(unittest.TestCase):
    password = None

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="annc_web_e2e_")
        self.history = os.path.join(self.work, "calls.db")
        db = sqlite3.connect(self.history)
        db.executescript(schema())
        db.execute("PRAGMA user_version=1")
        db.execute("PRAGMA journal_mode=WAL")
        now = int(time.time())
        rows = [
            ("2024-05-01T09:00:00+02:00", 1000, "x", "5551234", "Ann Lee", "announce", "", 1, 42),
            ("2024-05-01T10:00:00+02:00", 2000, "x", "5559999", HOSTILE_NAMES[0], "block", "calls.block line 3", 0, 0),
            ("2024-05-02T08:00:00+02:00", 3000, "x", "5551234", "Ann Lee", "quiet", "quiet hours", None, 5),
            ("2024-05-02T09:00:00+02:00", 4000, "x", "5557777", HOSTILE_NAMES[1], "announce", "", 1, 10),
            ("2024-05-03T09:00:00+02:00", now - 5, None, "5558888", "Ringing Now", "announce", "", None, None),
        ]
        db.executemany("INSERT INTO calls (time, started_at, ended, number, name, decision, rule, answered, duration)"
                       " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)", rows)
        db.commit()
        db.close()
        self.process = None

    def tearDown(self):
        if self.process is not None:
            if self.process.poll() is None:
                self.process.terminate()
                try:
                    self.process.wait(10)
                except subprocess.TimeoutExpired:
                    self.process.kill()
                    self.process.wait()
            self.process.stderr.close()
        shutil.rmtree(self.work, ignore_errors=True)

    def start(self, *args):
        self.port = free_port()
        self.process = subprocess.Popen([BINARY, "--history", self.history, "--listen", "127.0.0.1:%d" % self.port]
                                        + list(args), stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 10
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                if self.process.poll() is not None or time.monotonic() > deadline:
                    self.fail("annc-web did not start: %r" % self.process.stderr.read())
                time.sleep(0.05)

    def request(self, method, path, body=None, headers=None, cookie=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        sent = {"Host": "127.0.0.1:%d" % self.port}
        if cookie:
            sent["Cookie"] = "annc_session=" + cookie
        if body is not None:
            sent["Content-Type"] = "application/x-www-form-urlencoded"
        sent.update(headers or {})
        connection.request(method, path, body=body, headers=sent)
        response = connection.getresponse()
        data = response.read()
        connection.close()
        return response, data

    def session(self, path="/"):
        """A session cookie and its token, from a visit to `path`."""
        response, body = self.request("GET", path)
        cookie = re.match(r"annc_session=([0-9a-f]{64});", response.getheader("Set-Cookie")).group(1)
        tokens = [a["value"] for tag, a in parse(body).elements if tag == "input" and a.get("name") == "token"]
        return cookie, tokens[0] if tokens else None

    def test_calls_page_and_headers(self):
        self.start()
        response, body = self.request("GET", "/")
        self.assertEqual(response.status, 200)
        self.assertTrue(response.getheader("Content-Security-Policy").startswith("default-src 'self'"))
        self.assertEqual(response.getheader("X-Content-Type-Options"), "nosniff")
        self.assertEqual(response.getheader("Referrer-Policy"), "same-origin")
        self.assertEqual(response.getheader("X-Frame-Options"), "DENY")
        cookie = response.getheader("Set-Cookie")
        for part in ("HttpOnly", "SameSite=Strict", "Path=/"):
            self.assertIn(part, cookie)
        page = parse(body)
        rows = [a for tag, a in page.elements if tag == "tr" and a.get("class")]
        self.assertEqual([r["class"] for r in rows], ["announce", "announce", "quiet", "block", "announce"])
        text = "".join(page.text)
        for shown in ("Ann Lee", "blocked", "calls.block line 3", "42 s", "quiet hours"):
            self.assertIn(shown, text)
        for tag, attrs in page.elements:
            self.assertNotIn(tag, ("img", "style"))
            self.assertFalse(any(name.startswith("on") for name in attrs), (tag, attrs))
            if tag == "script":
                self.assertEqual(attrs.get("src"), "/live.js")
        for path, kind in (("/style.css", "text/css"), ("/live.js", "text/javascript")):
            response, body = self.request("GET", path)
            self.assertEqual(response.status, 200)
            self.assertTrue(response.getheader("Content-Type").startswith(kind))

    def test_hostile_names_are_text(self):
        self.start()
        for path in ("/", "/caller?number=5559999", "/caller?number=5557777", "/?search=%3Cscript"):
            response, body = self.request("GET", path)
            self.assertEqual(response.status, 200, path)
            page = parse(body)
            self.assertEqual([a for tag, a in page.elements if tag == "img"], [], path)
            self.assertEqual([a for tag, a in page.elements if tag == "script" and "src" not in a], [], path)
            self.assertFalse(any("onerror" in a for tag, a in page.elements), path)
        text = "".join(parse(self.request("GET", "/")[1]).text)
        for name in HOSTILE_NAMES:
            self.assertIn(name, text)

    def test_filters_and_search(self):
        self.start()
        cases = [
            ("/?decision=block", ["5559999"]),
            ("/?decision=announce", ["5558888", "5557777", "5551234"]),
            ("/?day=2024-05-02", ["5557777", "5551234"]),
            ("/?day=2024-05-02&decision=quiet", ["5551234"]),
            ("/?search=1234", ["5551234", "5551234"]),
            ("/?search=ann+lee", ["5551234", "5551234"]),
            ("/?search=%25", []),
            ("/?search=%27+OR+1%3D1+--", []),
        ]
        for path, numbers in cases:
            response, body = self.request("GET", path)
            self.assertEqual(response.status, 200, path)
            links = [a["href"] for tag, a in parse(body).elements if tag == "a" and "/caller?" in a.get("href", "")]
            self.assertEqual([l.split("=")[1] for l in links], numbers, path)
        for path in ("/?day=yesterday", "/?decision=maybe", "/?page=-1", "/?search=" + "x" * 65):
            self.assertEqual(self.request("GET", path)[0].status, 400, path)

    def test_caller_page(self):
        # Each button is shown when the file it changes was given.
        files = []
        for name in ("calls.block", "calls.allow", "aon.db"):
            files.append(os.path.join(self.work, name))
            open(files[-1], "w").close()
        self.start("--block", files[0], "--allow", files[1], "--book", files[2])
        response, body = self.request("GET", "/caller?number=5551234")
        self.assertEqual(response.status, 200)
        page = parse(body)
        text = "".join(page.text)
        self.assertIn("2 calls", text)
        forms = [a["action"] for tag, a in page.elements if tag == "form" and a.get("method") == "post"]
        self.assertEqual(forms, ["/caller/block", "/caller/allow", "/caller/unblock", "/caller/name"])
        tokens = {a["value"] for tag, a in page.elements if tag == "input" and a.get("name") == "token"}
        self.assertEqual(len(tokens), 1)
        self.assertEqual(self.request("GET", "/caller")[0].status, 400)

    def test_live_json(self):
        self.start()
        response, body = self.request("GET", "/live.json")
        self.assertEqual(response.status, 200)
        self.assertEqual(response.getheader("Content-Type"), "application/json")
        import json
        calls = json.loads(body)["calls"]
        self.assertEqual([c["number"] for c in calls], ["5558888"])

    def test_posts_need_the_sessions_token_and_origin(self):
        # The caller page's forms carry the token; without a block list its
        # block action answers 501 once the checks are passed.
        book = os.path.join(self.work, "aon.db")
        open(book, "w").close()
        self.start("--book", book)
        cookie, token = self.session("/caller?number=5551234")
        other_cookie, other_token = self.session("/caller?number=5551234")
        self.assertNotEqual(token, other_token)
        origin = {"Origin": "http://127.0.0.1:%d" % self.port}
        cases = [
            ("no token", "number=1", cookie, origin, 403),
            ("another session's token", "token=%s&number=1" % other_token, cookie, origin, 403),
            ("no session", "token=%s&number=1" % token, None, origin, 403),
            ("a foreign Origin", "token=%s&number=1" % token, cookie, {"Origin": "http://attacker.example"}, 403),
            ("its own token and Origin", "token=%s&number=1" % token, cookie, origin, 501),
        ]
        for what, body, jar, headers, status in cases:
            response, _ = self.request("POST", "/caller/block", body=body, headers=headers, cookie=jar)
            self.assertEqual(response.status, status, what)

    def test_refused_requests(self):
        self.start()
        for host in ("attacker.example", "attacker.example:%d" % self.port, "127.0.0.1:1"):
            response, _ = self.request("GET", "/", headers={"Host": host})
            self.assertIn(response.status, (421, 403), host)
        for path in ("/../../etc/passwd", "/%2e%2e%2fetc%2fpasswd", "/%2e%2e/%2e%2e/etc/passwd", "/style.css/..",
                     "/etc/passwd", "//etc/passwd"):
            response, body = self.request("GET", path)
            self.assertIn(response.status, (400, 404), path)
            self.assertNotIn(b"root:", body, path)
        for method in ("PUT", "DELETE", "OPTIONS", "TRACE"):
            self.assertEqual(self.request(method, "/")[0].status, 405, method)

    def test_large_bodies(self):
        self.start()
        cookie, token = self.session()
        # 1 MB announced by its length: refused as soon as the headers are in,
        # before the body is sent (annc-web then drops the connection).
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as raw:
            raw.sendall(b"POST /caller/block HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nCookie: annc_session=%s\r\n"
                        b"Content-Type: application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n"
                        % (self.port, cookie.encode(), 1 << 20))
            self.assertTrue(raw.recv(4096).startswith(b"HTTP/1.1 413 "))
            try:
                raw.sendall(b"a" * (1 << 20))
            except OSError:
                pass
        # A chunked body has no length up front.
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        connection.putrequest("POST", "/caller/block", skip_host=True)
        connection.putheader("Host", "127.0.0.1:%d" % self.port)
        connection.putheader("Content-Type", "application/x-www-form-urlencoded")
        connection.putheader("Transfer-Encoding", "chunked")
        connection.putheader("Cookie", "annc_session=" + cookie)
        connection.endheaders()
        chunk = b"a" * 8192
        for _ in range(16):
            connection.send(b"%x\r\n%s\r\n" % (len(chunk), chunk))
        connection.send(b"0\r\n\r\n")
        self.assertEqual(connection.getresponse().status, 413)
        connection.close()

    def test_slow_client_holds_nothing(self):
        self.start()
        slow = socket.create_connection(("127.0.0.1", self.port))
        slow.sendall(b"GET / HTTP/1.1\r\nHo")
        try:
            started = time.monotonic()
            self.assertEqual(self.request("GET", "/")[0].status, 200)
            self.assertLess(time.monotonic() - started, 2)
        finally:
            slow.close()

    def test_non_loopback_needs_a_password(self):
        for address in ("0.0.0.0:%d" % free_port(), "[::]:%d" % free_port()):
            result = subprocess.run([BINARY, "--history", self.history, "--listen", address],
                                    capture_output=True, timeout=10)
            self.assertEqual(result.returncode, 2, address)
            self.assertEqual(result.stderr.decode().count("\n"), 1, result.stderr)
            self.assertIn("--password-file", result.stderr.decode())

    def test_start_failures(self):
        cases = [
            ([BINARY, "--history", os.path.join(self.work, "none", "calls.db")], 1, "calls.db"),
            ([BINARY, "--history", self.history, "--password-file", os.path.join(self.work, "nofile")], 1, "nofile"),
            ([BINARY, "--frobnicate"], 2, "--frobnicate"),
        ]
        for args, code, named in cases:
            result = subprocess.run(args, capture_output=True, timeout=10)
            self.assertEqual(result.returncode, code, args)
            self.assertEqual(result.stderr.decode().count("\n"), 1, result.stderr)
            self.assertIn(named, result.stderr.decode())
        taken = socket.socket()
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        try:
            result = subprocess.run([BINARY, "--history", self.history, "--listen",
                                     "127.0.0.1:%d" % taken.getsockname()[1]], capture_output=True, timeout=10)
        finally:
            taken.close()
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot listen on 127.0.0.1:", result.stderr.decode())
        for flag in ("--help", "--version"):
            result = subprocess.run([BINARY, flag], capture_output=True, timeout=10)
            self.assertEqual(result.returncode, 0, flag)
            self.assertIn(b"annc-web", result.stdout)

    def test_signal_ends_it(self):
        self.start()
        self.process.terminate()
        self.assertEqual(self.process.wait(10), 0)

    def test_login(self):
        result = subprocess.run([BINARY, "--hash-password"], input=b"s3cret pass\n", capture_output=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        line = result.stdout.decode()
        self.assertTrue(line.startswith("$argon2id$"), line)
        password_file = os.path.join(self.work, "password")
        with open(password_file, "w") as f:
            f.write(line)
        self.start("--password-file", password_file)
        response, _ = self.request("GET", "/")
        self.assertEqual(response.status, 303)
        self.assertEqual(response.getheader("Location"), "/login")
        cookie, token = self.session("/login")
        self.assertIsNotNone(token)
        response, _ = self.request("POST", "/login", body="token=%s&password=wrong" % token, cookie=cookie)
        self.assertEqual(response.status, 401)
        response, _ = self.request("POST", "/login", body="token=%s&password=s3cret+pass" % token, cookie=cookie)
        self.assertEqual(response.status, 303)
        logged_in = re.match(r"annc_session=([0-9a-f]{64});", response.getheader("Set-Cookie")).group(1)
        self.assertEqual(self.request("GET", "/", cookie=logged_in)[0].status, 200)
        self.assertEqual(self.request("GET", "/", cookie=cookie)[0].status, 303)

    def test_failed_logins_throttled(self):
        result = subprocess.run([BINARY, "--hash-password"], input=b"right\n", capture_output=True, timeout=30)
        password_file = os.path.join(self.work, "password")
        with open(password_file, "wb") as f:
            f.write(result.stdout)
        self.start("--password-file", password_file)
        cookie, token = self.session("/login")
        statuses = []
        for _ in range(7):
            response, _ = self.request("POST", "/login", body="token=%s&password=wrong" % token, cookie=cookie)
            statuses.append(response.status)
        self.assertEqual(statuses[:5], [401] * 5)
        self.assertEqual(statuses[5:], [429, 429])
        response, _ = self.request("POST", "/login", body="token=%s&password=right" % token, cookie=cookie)
        self.assertEqual(response.status, 429)
        self.assertGreater(int(response.getheader("Retry-After")), 0)


if __name__ == "__main__":
    unittest.main()
