#!/usr/bin/env python3
"""annc-web benchmark: its pages on a history of a million calls, many
clients at once, and its memory after many requests.

    python3 bench/web_bench.py

Makes a history of BENCH_WEB_CALLS calls (default 1,000,000) in a temporary
folder: annc-line itself makes the file and its schema (--import-log of an
empty log), then the rows go in from Python's sqlite3 in one transaction,
spread over the last 365 days up to now, about 5,000 numbers.  Then it
starts build/annc-web (or $ANNC_WEB_BINARY; a RelWithDebInfo or Release
build) on it on a free loopback port and prints one markdown table:

  (a) the calls page, a caller's page, searches and the statistics page:
      the median of 11 requests each, timed in this client from sending the
      request to the last byte of the answer on loopback (the time a
      browser on the same machine would wait, not annc-web's own);
  (b) 100 clients at once on the calls page, each with a connection and one
      request of its own: how many were served, how many refused and how,
      and the slowest; once all from 127.0.0.1, once each from an address
      of its own (127.0.0.2 ...), since annc-web limits connections per
      address and in all;
  (c) annc-web's resident memory (VmRSS) after (a) and (b) and after
      BENCH_WEB_REQUESTS requests (default 10,000) of the pages above on
      one session, and after as many more each without a cookie (each
      visit a new session).

Pages annc-web does not serve yet are reported as such.
"""

import http.client
import os
import platform
import re
import socket
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import threading
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests"))

from harness import cpu_model, rss_kib, wait_until  # noqa: E402

CALLS = int(os.environ.get("BENCH_WEB_CALLS", "1000000"))
REQUESTS = int(os.environ.get("BENCH_WEB_REQUESTS", "10000"))
CLIENTS = 100
TIMES = 11
PAGE_TARGET_MS = 50
STATS_TARGET_MS = 200
CLIENT_TARGET_S = 1.0
RSS_TARGET_KIB = 16 * 1024
NUMBERS = 5000


def web_binary():
    return os.path.abspath(os.environ.get("ANNC_WEB_BINARY") or os.path.join(REPO, "build", "annc-web"))


def line_binary():
    return os.path.abspath(os.environ.get("ANNC_LINE_BINARY") or os.path.join(REPO, "build", "annc-line"))


def number_of(caller):
    return "555" + str(1000000 + caller)


def make_history(folder, calls):
    """The history file with `calls` rows; the seconds the rows took."""
    path = os.path.join(folder, "calls.db")
    empty = os.path.join(folder, "empty.log")
    open(empty, "wb").close()
    made = subprocess.run([line_binary(), "--import-log", empty, "--history", path],
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    if made.returncode != 0 or not os.path.exists(path):
        raise SystemExit("annc-line --import-log could not make %s: %r" % (path, made.stderr))
    now = int(time.time())
    span = 365 * 86400
    decisions = ("announce",) * 8 + ("quiet", "block")

    def rows():
        # A fixed sequence (a linear congruential one), so that runs compare.
        state = 42
        for i in range(calls):
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            caller = state % NUMBERS
            at = now - span + i * span // calls
            withheld = caller < 50
            number = "" if withheld else number_of(caller)
            name = "" if caller % 3 == 0 else "Caller %d" % caller
            ended = time.strftime("%Y-%m-%dT%H:%M:%S+00:00", time.gmtime(at + 40))
            yield (time.strftime("%Y-%m-%dT%H:%M:%S+00:00", time.gmtime(at)), at, ended, "modem:/dev/ttyACM0",
                   number, int(withheld), name, "network" if name else "none", decisions[caller % 10],
                   "calls.block line 3" if caller % 10 == 9 else "", 3, 1, 25)

    t0 = time.monotonic()
    db = sqlite3.connect(path)
    db.execute("BEGIN")
    db.executemany("INSERT INTO calls (time, started_at, ended, source, number, withheld, name, name_source,"
                   " decision, rule, rings, announced, duration) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)", rows())
    db.commit()
    db.close()
    return path, time.monotonic() - t0


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Web:
    """annc-web on a free loopback port, ended on close()."""

    def __init__(self, folder, history):
        self.port = free_port()
        self.err_path = os.path.join(folder, "web.err")
        env = dict(os.environ, TZ="UTC")
        with open(self.err_path, "wb") as err:
            self.proc = subprocess.Popen([web_binary(), "--history", history, "--listen", "127.0.0.1:%d" % self.port],
                                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err, env=env)

        def listening():
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return True
            except OSError:
                return False
        wait_until(listening, 20, "annc-web listening", gone=lambda: self.proc.poll() is not None,
                   describe=lambda: open(self.err_path).read())
        self.host = "127.0.0.1:%d" % self.port
        response, _ = self.get("/")
        found = re.match(r"annc_session=([0-9a-f]+);", response.getheader("Set-Cookie") or "")
        self.cookie = found.group(1) if found else None

    def get(self, path, cookie=True, connection=None, source=None):
        """(response, body) of one GET; on a connection of its own unless
        one is given (kept open then)."""
        own = connection is None
        if own:
            connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30,
                                                    source_address=(source, 0) if source else None)
        headers = {"Host": self.host}
        if cookie and getattr(self, "cookie", None):
            headers["Cookie"] = "annc_session=" + self.cookie
        try:
            connection.request("GET", path, headers=headers)
            response = connection.getresponse()
            body = response.read()
        finally:
            if own:
                connection.close()
        return response, body

    def rss_kib(self):
        return rss_kib(self.proc.pid)

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def timed(web, path):
    """(median ms, status, bytes) of TIMES requests of path, each on a
    connection of its own, after one not counted."""
    response, body = web.get(path)
    times = []
    for _ in range(TIMES):
        t0 = time.perf_counter()
        response, body = web.get(path)
        times.append((time.perf_counter() - t0) * 1e3)
    return statistics.median(times), response.status, len(body)


def crowd(web, sources):
    """One request of the calls page from each source address at once:
    (statuses, errors by kind, slowest seconds of those served)."""
    start = threading.Barrier(len(sources))
    results = [None] * len(sources)

    def client(i):
        start.wait()
        t0 = time.perf_counter()
        try:
            response, body = web.get("/", source=sources[i])
            results[i] = ("status %d" % response.status, time.perf_counter() - t0)
        except (OSError, http.client.HTTPException) as e:
            results[i] = (type(e).__name__, time.perf_counter() - t0)
    threads = [threading.Thread(target=client, args=(i,)) for i in range(len(sources))]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    kinds = {}
    for kind, _ in results:
        kinds[kind] = kinds.get(kind, 0) + 1
    served = [s for kind, s in results if kind == "status 200"]
    return kinds, max(served) if served else None, max(s for _, s in results)


def many_requests(web, count, cookie):
    """`count` requests of a mix of pages on one kept-alive connection
    (reopened when annc-web closes it); the statuses seen."""
    # The searches timed in (a) that look at most of the history are left
    # out: at a tenth of a second or more each they would make this a
    # measure of time, not of memory.
    paths = ["/", "/live.json", "/caller?number=%s", "/?search=caller+%s", "/?page=%s", "/stats"]
    seen = {}
    connection = None
    for i in range(count):
        path = paths[i % len(paths)]
        if "number=" in path:
            path = path % number_of(i % NUMBERS)
        elif "%s" in path:
            path = path % (i % 100)
        for attempt in (0, 1):
            if connection is None:
                connection = http.client.HTTPConnection("127.0.0.1", web.port, timeout=30)
            try:
                response, _ = web.get(path, cookie=cookie, connection=connection)
                break
            except (OSError, http.client.HTTPException):
                connection.close()
                connection = None
                if attempt:
                    raise
        if response.getheader("Connection", "").lower() == "close":
            connection.close()
            connection = None
        seen[response.status] = seen.get(response.status, 0) + 1
    if connection is not None:
        connection.close()
    return seen


def verdict(ok):
    return "met" if ok else "NOT met"


def main():
    for binary in (web_binary(), line_binary()):
        if not os.access(binary, os.X_OK):
            print("build first: %s is missing" % binary)
            return 1
    print("annc-web benchmark (%s, %s, %d CPUs)\n" % (platform.machine(), cpu_model(), os.cpu_count()))
    with tempfile.TemporaryDirectory(prefix="annc-web-bench-") as folder:
        history, made_s = make_history(folder, CALLS)
        size_mb = os.path.getsize(history) / 1e6
        web = Web(folder, history)
        try:
            print("| measure | result | target |")
            print("|---|---|---|")
            print("| a history of %d calls made: annc-line's schema, the rows from Python's sqlite3 in one "
                  "transaction | %.1f s, %.0f MB | |" % (CALLS, made_s, size_mb))
            frequent = number_of(1234)
            pages = [
                ("the calls page (the newest 50)", "/", PAGE_TARGET_MS),
                ("the calls page, page 100", "/?page=100", PAGE_TARGET_MS),
                ("a caller's page (%s, about %d calls)" % (frequent, CALLS // NUMBERS),
                 "/caller?number=" + frequent, PAGE_TARGET_MS),
                ("a search for a number (%s)" % frequent, "/?search=" + frequent, PAGE_TARGET_MS),
                ("a search for a name (\"caller 12\")", "/?search=caller+12", PAGE_TARGET_MS),
                ("a search that finds nothing (every row looked at)", "/?search=nobody", PAGE_TARGET_MS),
                ("the calls of one day, blocked", "/?decision=block&day=" +
                 time.strftime("%Y-%m-%d", time.gmtime(time.time() - 86400)), PAGE_TARGET_MS),
                ("the statistics page", "/stats", STATS_TARGET_MS),
            ]
            for what, path, target in pages:
                ms, status, size = timed(web, path)
                if status != 200:
                    print("| %s: `%s` | answered %d (not served yet?) | <= %d ms |" % (what, path, status, target))
                    continue
                print("| %s: `%s`, client-observed, median of %d (%d bytes) | %.1f ms | <= %d ms: %s |"
                      % (what, path, TIMES, size, ms, target, verdict(ms <= target)))

            for label, sources in (("all from 127.0.0.1", [None] * CLIENTS),
                                   ("each from an address of its own (127.0.0.2-%d)" % (CLIENTS + 1),
                                    ["127.0.0.%d" % (i + 2) for i in range(CLIENTS)])):
                kinds, slowest_served, slowest = crowd(web, sources)
                served = kinds.get("status 200", 0)
                print("| %d clients at once on the calls page, %s: served / refused | %d served; %s | "
                      "all served: %s |" % (CLIENTS, label, served,
                                            ", ".join("%d %s" % (n, k) for k, n in sorted(kinds.items())
                                                      if k != "status 200") or "none refused",
                                            verdict(served == CLIENTS)))
                print("| the same: the slowest served / the slowest answer of any kind | %s / %.2f s | "
                      "<= %.0f s: %s |" % ("%.2f s" % slowest_served if slowest_served is not None else "none",
                                          slowest, CLIENT_TARGET_S,
                                          verdict(slowest_served is not None and slowest <= CLIENT_TARGET_S
                                                  and served == CLIENTS)))

            start_kib = web.rss_kib()
            t0 = time.monotonic()
            seen = many_requests(web, REQUESTS, cookie=True)
            spent = time.monotonic() - t0
            after_kib = web.rss_kib()
            print("| annc-web's RSS after the rows above / after %d requests more on one session (%s) | %d kB / %d kB "
                  "| <= %d kB: %s |" % (REQUESTS, ", ".join("%d x %d" % (n, s) for s, n in sorted(seen.items())),
                                         start_kib, after_kib, RSS_TARGET_KIB, verdict(after_kib <= RSS_TARGET_KIB)))
            print("| those %d requests took | %.1f s | |" % (REQUESTS, spent))
            seen = many_requests(web, REQUESTS, cookie=False)
            fresh_kib = web.rss_kib()
            print("| RSS after %d more, each without a cookie (a new session each; %s) | %d kB | <= %d kB: %s |"
                  % (REQUESTS, ", ".join("%d x %d" % (n, s) for s, n in sorted(seen.items())), fresh_kib,
                     RSS_TARGET_KIB, verdict(fresh_kib <= RSS_TARGET_KIB)))
            if web.proc.poll() is not None:
                print("\nannc-web ended during the benchmark: %r" % open(web.err_path).read())
                return 1
        finally:
            web.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
