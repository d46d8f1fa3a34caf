#!/usr/bin/env python3
"""annc-line benchmark: reaction to a call, idle cost, memory over many calls.

    python3 bench/line_bench.py

Runs build/annc-line (or $ANNC_LINE_BINARY) on an emulated caller-ID modem
(tests/modem_emulator.py) and prints one markdown table:

  (a) from the end of the caller-ID block to annc's first sound, against
      the 0.5 s completion window plus annc's own start-up (annc started
      directly on a pseudo-terminal, as annc-line starts it), over
      BENCH_CALLS calls (default 10); the real annc with synthetic
      recordings, its sound captured through ALSA's file plugin;
  (a') the same with --say-names for a caller whose name is not yet in the
      name cache (each call a number in no phone book and a name of its
      own, so each is synthesized while annc starts), against the same
      calls without --say-names;
  (a'') the same calls as (a) with the call history (--history in the
      benchmark's temporary folder) and an --on-call program on, and with
      --history none, alternating, BENCH_CALLS of each;
  (a''') the history's own costs by build/history_bench: a row written and
      completed, and two queries over BENCH_HISTORY_CALLS calls (default
      1,000,000);
  (b) annc-line's CPU time while it waits for calls, over BENCH_IDLE_S
      seconds (default 60);
  (c) annc-line's resident memory after 10 calls and after BENCH_MANY calls
      (default 1000), each announced by a small stub announcer that ends at
      the NO CARRIER annc-line sends it;
  (d) reading a 100,000-entry block list and deciding calls against it
      (build/screening_bench);
  (f) with --mqtt and a broker of its own (Debian's mosquitto): from the
      end of the caller-ID block to the call's event at a subscriber, and
      to annc's first sound with MQTT, without it and with the broker
      stopped by SIGSTOP; (g) 2 x BENCH_QUEUED_CALLS events (default 500
      calls) queued while the broker is down, from the reconnection to the
      last one's arrival; (h) a box following the calls another publishes
      (annc-line mqtt:): from the moment a call event is sent to the broker
      to annc's first sound there;
  (e) with a block list, for a caller-ID block with number and name (North
      American order, decided as soon as it is whole): from the end of the
      block to annc's first sound for a call let through, against annc's own
      start-up from (a), and from the end of the block to the ATH1 that hangs
      up a blocked call; BENCH_SCREEN_CALLS calls of each (default 10).
"""

import os
import platform
import json
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from contextlib import closing

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests"))

from harness import (  # noqa: E402
    Sandbox, capture_file, children_of, cpu_seconds, rss_kib, wait_until)
from line_harness import annc_line_binary  # noqa: E402
from modem_emulator import (  # noqa: E402
    ModemEmulator, north_american_block, uk_block)
from mosquitto_broker import Broker, Subscriber, have_mosquitto  # noqa: E402

CALLS = int(os.environ.get("BENCH_CALLS", "10"))
IDLE_S = float(os.environ.get("BENCH_IDLE_S", "60"))
MANY = int(os.environ.get("BENCH_MANY", "1000"))
SCREEN_CALLS = int(os.environ.get("BENCH_SCREEN_CALLS", "10"))
WINDOW_MS = 500

STUB = """#!/bin/sh
# Stands in for annc: waits for the line annc-line writes when the call ends.
fd="${2#/H:}"
eval "read -r line <&$fd"
exit 99
"""


class Launcher:
    """annc-line on an emulated modem; its status lines are counted as they
    come."""

    def __init__(self, folder, modem, annc, env=None, ring_timeout="1",
                 args=()):
        self.lines = []
        self.lock = threading.Lock()
        self.proc = subprocess.Popen(
            [annc_line_binary(), "--annc", annc, "--lock-dir", folder,
             "--ring-timeout", ring_timeout] + list(args) + [modem.link],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE, env=env, start_new_session=True)
        threading.Thread(target=self._read, daemon=True).start()
        self.wait_count("modem ready", 1)

    def _read(self):
        for raw in self.proc.stderr:
            with self.lock:
                self.lines.append(raw.decode("latin-1"))

    def count(self, text):
        with self.lock:
            return sum(text in l for l in self.lines)

    def wait_count(self, text, n, timeout=20.0):
        # Polled every 0.5 ms: the figures are times.
        wait_until(lambda: self.count(text) >= n, timeout,
                   "%d x %r" % (n, text), gone=lambda: self.proc.poll() is not None,
                   describe=lambda: repr(self.lines[-5:]), interval=0.0005,
                   settle=0)

    def wait_no_announcer(self, timeout=20.0):
        wait_until(lambda: not children_of(self.proc.pid), timeout,
                   "the announcer's end", interval=0.001)

    def cpu_seconds(self):
        return cpu_seconds(self.proc.pid)

    def rss_kb(self):
        return rss_kib(self.proc.pid)

    def close(self):
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def first_sound_after(sandbox, index, start, timeout=10.0):
    """Seconds from `start` until capture file number `index` (one per
    announcer) holds its first sample."""
    path = capture_file(sandbox.capture_path, index)

    def sounded():
        try:
            return os.path.getsize(path) > 0
        except OSError:
            return False
    wait_until(sounded, start + timeout - time.monotonic(),
               "sound in %s" % os.path.basename(path), interval=0.0005)
    return time.monotonic() - start


def measure_reaction(folder):
    """(a): block end to first sound, and annc's own start-up."""
    sb = Sandbox()
    try:
        reaction = []
        with ModemEmulator(folder, "vcid") as modem:
            line = Launcher(folder, modem, sb.exe, env=sb.env())
            try:
                for i in range(CALLS):
                    block_end = modem.play(uk_block("5551234"))
                    reaction.append(first_sound_after(sb, i, block_end))
                    modem.send_line("NO CARRIER")
                    line.wait_count("call ended", i + 1)
                    line.wait_no_announcer()
            finally:
                line.close()
        # annc alone, on a pseudo-terminal of its own, from exec to sound.
        startup = []
        for i in range(CALLS):
            master, slave = os.openpty()
            start = time.monotonic()
            proc = subprocess.Popen([sb.exe, "5551234", "/H:%d" % slave],
                                    stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL,
                                    pass_fds=(slave,), env=sb.env())
            try:
                startup.append(first_sound_after(sb, CALLS + i, start))
            finally:
                os.write(master, b"NO CARRIER\r\n")
                proc.wait(10)
                os.close(master)
                os.close(slave)
        return reaction, startup
    finally:
        sb.cleanup()


def stub_announcer(folder, name, script):
    """A stand-in for annc with the sound folder and phone book annc-line
    checks for beside it."""
    os.makedirs(os.path.join(folder, "Numvoice"), exist_ok=True)
    open(os.path.join(folder, "Numvoice", "aon.db"), "a").close()
    path = os.path.join(folder, name)
    with open(path, "w") as f:
        f.write(script)
    os.chmod(path, 0o755)
    return path


def named_block(i):
    """A UK-order caller-ID block with a name: a number in no phone book
    and a name no earlier call had."""
    return [(0, "DATE = 0124"), (0.01, "TIME = 1534"),
            (0.01, "NAME = CALLER %d" % i),
            (0.01, "NMBR = %07d" % (5560000 + i))]


def measure_names(folder):
    """(a'): block end to first sound for calls with a name, without and
    with --say-names (a fresh cache: each name is synthesized); the two
    kinds alternate, so that the machine's load falls on both alike.
    Returns (without, with, names synthesized)."""
    sb = Sandbox()
    cache = os.path.join(folder, "name-cache")
    try:
        times = {False: [], True: []}
        index = 0
        with ModemEmulator(folder, "vcid") as modem:
            for say in [False, True] * CALLS:
                args = ["--say-names", "--name-cache", cache] if say else []
                line = Launcher(folder, modem, sb.exe, env=sb.env(),
                                args=args)
                try:
                    block_end = modem.play(named_block(index))
                    times[say].append(first_sound_after(sb, index, block_end))
                    modem.send_line("NO CARRIER")
                    line.wait_count("call ended", 1)
                    line.wait_no_announcer()
                    index += 1
                finally:
                    line.close()
        synthesized = len(os.listdir(cache)) if os.path.isdir(cache) else 0
        return times[False], times[True], synthesized
    finally:
        sb.cleanup()


# The --on-call program of the runs with the history on: a shell script
# that reads its environment and ends, as a notification would.
HOOK_SCRIPT = "#!/bin/sh\nenv | grep '^ANNC_' >/dev/null\n"


def write_hook(folder):
    path = os.path.join(folder, "hook")
    with open(path, "w") as f:
        f.write(HOOK_SCRIPT)
    os.chmod(path, 0o755)
    return path


def measure_history(folder):
    """(a''): block end to first sound with --history none and with the
    history on (a file in `folder`) and an --on-call program; the two
    alternate, so that the machine's load falls on both alike. Returns
    (off, on, rows the history holds at the end)."""
    sb = Sandbox()
    history = os.path.join(folder, "history", "calls.db")
    on_args = ["--history", history, "--on-call", write_hook(folder)]
    try:
        times = {False: [], True: []}
        index = 0
        with ModemEmulator(folder, "vcid") as modem:
            for on in [False, True] * CALLS:
                args = on_args if on else ["--history", "none"]
                line = Launcher(folder, modem, sb.exe, env=sb.env(),
                                args=args)
                try:
                    block_end = modem.play(uk_block("5551234"))
                    times[on].append(first_sound_after(sb, index, block_end))
                    modem.send_line("NO CARRIER")
                    line.wait_count("call ended", 1)
                    line.wait_no_announcer()
                    index += 1
                finally:
                    line.close()
        rows = 0
        if os.path.exists(history):
            with closing(sqlite3.connect(history)) as db:
                rows = db.execute("SELECT COUNT(*) FROM calls").fetchone()[0]
        return times[False], times[True], rows
    finally:
        sb.cleanup()


MQTT_PREFIX = "annc/bench"
QUEUED_CALLS = int(os.environ.get("BENCH_QUEUED_CALLS", "500"))


def measure_mqtt(folder):
    """(f): with --mqtt, the end of the caller-ID block to the call's event
    at a subscriber, and to annc's first sound against the same calls
    without MQTT (alternating), then with the broker stopped by SIGSTOP;
    (g) QUEUED_CALLS calls (two events each) made while the broker is down,
    and the time from annc-line's reconnection to the last event's arrival
    at a subscriber."""
    if not have_mosquitto():
        return None
    sb = Sandbox()
    broker = Broker(folder).start()
    sub = Subscriber(broker, MQTT_PREFIX + "/call").start()
    mqtt = ["--history", "none", "--mqtt", broker.url, "--mqtt-topic",
            MQTT_PREFIX]
    try:
        times = {"off": [], "on": [], "stopped": []}
        event = []
        index = 0
        with ModemEmulator(folder, "vcid") as modem:
            for mode in ["off", "on"] * CALLS + ["stopped"] * CALLS:
                if mode == "stopped" and not broker.paused:
                    broker.pause()
                args = ["--history", "none"] if mode == "off" else mqtt
                line = Launcher(folder, modem, sb.exe, env=sb.env(), args=args)
                try:
                    if mode == "on":
                        line.wait_count("connected to the MQTT broker", 1)
                    topic = MQTT_PREFIX + "/call"
                    seen = len(sub.messages(topic))
                    # Number and name: the call is decided as soon as the
                    # block is whole, with no window to wait out.
                    block_end = modem.play(
                        north_american_block("5551234", "ANN LEE"))
                    times[mode].append(first_sound_after(sb, index, block_end))
                    if mode == "on":
                        wait_until(lambda: len(sub.messages(topic)) > seen, 5,
                                   "the call's event", interval=0.0005)
                        event.append(sub.messages(topic)[seen][0] - block_end)
                    modem.send_line("NO CARRIER")
                    line.wait_count("call ended", 1)
                    line.wait_no_announcer()
                    index += 1
                finally:
                    line.close()
            broker.resume()
            queued = measure_queued(folder, modem, broker, mqtt)
        return times, event, queued
    finally:
        sub.close()
        broker.close()
        sb.cleanup()


class RawPublisher:
    """A minimal MQTT 3.1.1 client on a socket of its own, connected
    before the measurement, so that a publication's time is the moment its
    bytes are sent."""

    def __init__(self, port):
        import socket
        self.sock = socket.create_connection(("127.0.0.1", port), 5)
        client = b"annc-bench"
        body = (b"\x00\x04MQTT\x04\x02\x00\x3c" + len(client).to_bytes(2, "big") +
                client)
        self.sock.sendall(b"\x10" + self._length(len(body)) + body)
        if self.sock.recv(4)[:2] != b"\x20\x02":
            raise AssertionError("the broker did not take the benchmark's client")

    @staticmethod
    def _length(n):
        out = b""
        while True:
            byte, n = n % 128, n // 128
            out += bytes([byte | (0x80 if n else 0)])
            if not n:
                return out

    def publish(self, topic, payload):
        """QoS 0; returns time.monotonic() just before the bytes went."""
        t = topic.encode()
        body = len(t).to_bytes(2, "big") + t + payload
        packet = b"\x30" + self._length(len(body)) + body
        start = time.monotonic()
        self.sock.sendall(packet)
        return start

    def close(self):
        self.sock.close()


def measure_follow(folder):
    """(h): a box announcing what another publishes: from the moment a call
    event is sent to the broker to annc's first sound on the following box
    (annc-line mqtt:), CALLS calls."""
    if not have_mosquitto():
        return None
    sb = Sandbox()
    broker = Broker(folder).start()
    publisher = RawPublisher(broker.port)
    proc = subprocess.Popen(
        [annc_line_binary(), "--annc", sb.exe, "--history", "none",
         "--mqtt-follow", "annc/hall", "mqtt:127.0.0.1:%d" % broker.port],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE, env=sb.env(), start_new_session=True)
    line = Launcher.__new__(Launcher)
    line.lines, line.lock, line.proc = [], threading.Lock(), proc
    threading.Thread(target=line._read, daemon=True).start()
    try:
        line.wait_count("connected to the MQTT broker", 1)
        times = []
        for i in range(CALLS):
            call = {"event": "call", "id": 1000 + i, "number": "5551234",
                    "withheld": False, "name": "Ann Lee",
                    "network_name": "ANN LEE", "decision": "announce",
                    "line": "", "called": "", "source": "modem:/dev/ttyACM0"}
            sent = publisher.publish("annc/hall/call",
                                     json.dumps(call).encode())
            times.append(first_sound_after(sb, i, sent))
            call["event"] = "end"
            publisher.publish("annc/hall/call", json.dumps(call).encode())
            line.wait_count("call ended", i + 1)
            line.wait_no_announcer()
        return times
    finally:
        line.close()
        publisher.close()
        broker.close()
        sb.cleanup()


def measure_queued(folder, modem, broker, mqtt):
    """(g): seconds from the arrival of the first to the arrival of the last
    of 2 x QUEUED_CALLS events queued while the broker was down (annc-line's
    status line about the reconnection is read by a thread that may come to
    it after the events: the first event marks the reconnection)."""
    line = Launcher(folder, modem, write_stub(folder), args=mqtt)
    try:
        line.wait_count("connected to the MQTT broker", 1)
        broker.stop()
        for i in range(1, QUEUED_CALLS + 1):
            modem.send_line("NMBR = %07d" % (5550000 + i))
            modem.send_line("RING")
            line.wait_count("call from", i)
            modem.send_line("NO CARRIER")
            line.wait_count("call ended", i)
            line.wait_no_announcer()
        broker.start()
        sub = Subscriber(broker, MQTT_PREFIX + "/call").start()
        try:
            topic = MQTT_PREFIX + "/call"
            wait_until(lambda: len(sub.messages(topic)) >= 2 * QUEUED_CALLS,
                       120, "%d events" % (2 * QUEUED_CALLS), interval=0.001)
            arrived = sub.messages(topic)
            return arrived[2 * QUEUED_CALLS - 1][0] - arrived[0][0]
        finally:
            sub.close()
    finally:
        line.close()


def write_stub(folder):
    """The stub announcer that ends at annc-line's NO CARRIER."""
    return stub_announcer(folder, "stub-annc", STUB)


def measure_idle(folder):
    """(b): CPU seconds over IDLE_S seconds of waiting."""
    stub = stub_announcer(folder, "true-annc", "#!/bin/sh\nexit 0\n")
    with ModemEmulator(folder, "vcid") as modem:
        line = Launcher(folder, modem, write_stub(folder))
        try:
            time.sleep(1.0)
            before = line.cpu_seconds()
            time.sleep(IDLE_S)
            return line.cpu_seconds() - before
        finally:
            line.close()


def measure_memory(folder):
    """(c): resident memory after 10 and after MANY calls."""
    stub = write_stub(folder)
    rss = {}
    with ModemEmulator(folder, "vcid") as modem:
        line = Launcher(folder, modem, stub)
        try:
            t0 = time.monotonic()
            for i in range(1, MANY + 1):
                modem.send_line("NMBR = %07d" % (5550000 + i % 10000))
                modem.send_line("NAME = CALLER %d" % i)
                modem.send_line("RING")
                line.wait_count("call from", i)
                modem.send_line("NO CARRIER")
                line.wait_count("call ended", i)
                line.wait_no_announcer()
                if i in (10, MANY):
                    rss[i] = line.rss_kb()
            elapsed = time.monotonic() - t0
        finally:
            line.close()
    return rss, elapsed


def measure_history_db():
    """(a'''): the history's own costs, by build/history_bench (beside
    annc-line) on BENCH_HISTORY_CALLS calls (1,000,000); {} when it is not
    built."""
    exe = os.path.join(os.path.dirname(annc_line_binary()), "history_bench")
    if not os.access(exe, os.X_OK):
        return {}
    calls = os.environ.get("BENCH_HISTORY_CALLS", "1000000")
    out = subprocess.run([exe, calls], check=True, capture_output=True,
                         text=True).stdout
    return {l.split()[0]: l.split()[1:] for l in out.splitlines()}


def measure_screening():
    """(d): reading a 100,000-entry list and deciding calls against it,
    by build/screening_bench (beside annc-line)."""
    exe = os.path.join(os.path.dirname(annc_line_binary()), "screening_bench")
    out = subprocess.run([exe, "100000"], check=True, capture_output=True,
                         text=True).stdout
    return {l.split()[0]: l.split()[1:] for l in out.splitlines()}


def measure_screened_reaction(folder):
    """(e): block end to first sound (a call let through) and block end to
    ATH1 (a blocked call), with a block list of 1,000 entries."""
    block = os.path.join(folder, "calls.block")
    with open(block, "w") as f:
        f.write("# junk\n")
        for i in range(1000):
            f.write("^1900%06d #= Premium %d\n" % (i, i))
        f.write("8005551212 #= Car warranty\n")
    log = os.path.join(folder, "screened.log")
    sb = Sandbox()
    try:
        sound, hang_up = [], []
        with ModemEmulator(folder, "vcid") as modem:
            line = Launcher(folder, modem, sb.exe, env=sb.env(),
                            args=["--block", block, "--log", log])
            try:
                for i in range(SCREEN_CALLS):
                    block_end = modem.play(
                        north_american_block("5551234", "ANN LEE"))
                    sound.append(first_sound_after(sb, i, block_end))
                    modem.send_line("NO CARRIER")
                    line.wait_count("call ended", i + 1)
                    line.wait_no_announcer()
                for i in range(SCREEN_CALLS):
                    block_end = modem.play(
                        north_american_block("8005551212", "SALES"))
                    line.wait_count("; hung up", i + 1)
                    # The emulator reads the command in a thread of its
                    # own: it may come to it after the status line.
                    wait_until(lambda: [c for _, c in modem.timed_commands()
                                        ].count("ATH1") >= i + 1, 5,
                               "ATH1 %d" % (i + 1), interval=0.005)
                    ath1 = [t for t, c in modem.timed_commands()
                            if c == "ATH1"][i]
                    hang_up.append(ath1 - block_end)
                    # On hook again after the hold: ready for the next call.
                    wait_until(lambda: [c for _, c in modem.timed_commands()
                                        ].count("ATH0") >= i + 1, 10,
                               "ATH0 %d" % (i + 1), interval=0.01)
                    wait_until(lambda: not modem.off_hook, 5, "on hook")
                    time.sleep(0.2)
            finally:
                line.close()
        return sound, hang_up
    finally:
        sb.cleanup()


def main():
    if not os.access(annc_line_binary(), os.X_OK):
        print("build first: %s is missing" % annc_line_binary())
        return 1
    with tempfile.TemporaryDirectory(prefix="line-bench-") as folder:
        reaction, startup = measure_reaction(folder)
        plain, named, synthesized = measure_names(folder)
        history_off, history_on, history_rows = measure_history(folder)
        history_db = measure_history_db()
        cpu = measure_idle(folder)
        rss, elapsed = measure_memory(folder)
        screened_sound, screened_ath1 = measure_screened_reaction(folder)
        mqtt = measure_mqtt(folder)
        follow = measure_follow(folder)

    med_r = statistics.median(reaction) * 1000
    med_s = statistics.median(startup) * 1000
    print("annc-line benchmark (%s, %s, %d CPUs)\n"
          % (platform.node(), platform.machine(), os.cpu_count()))
    print("| measure | result | target |")
    print("|---|---|---|")
    print("| caller-ID block end -> annc's first sound (median of %d; "
          "min-max) | %.0f ms (%.0f-%.0f) | 500 ms window + <= 50 ms + "
          "annc start-up |"
          % (CALLS, med_r, min(reaction) * 1000, max(reaction) * 1000))
    print("| annc's own start-up to first sound (median of %d) | %.0f ms | |"
          % (CALLS, med_s))
    print("| annc-line's share: block end -> sound - 500 ms - annc start-up "
          "| %d ms | <= 50 ms |" % round(med_r - WINDOW_MS - med_s))
    med_p = statistics.median(plain) * 1000
    med_n = statistics.median(named) * 1000
    print("| the same, a call with a name: without --say-names / with it, "
          "the name not yet in the cache (medians of %d; %d names "
          "synthesized) | %.0f ms / %.0f ms (%+.0f ms; with: %.0f-%.0f) | "
          "<= 50 ms more |"
          % (CALLS, synthesized, med_p, med_n, med_n - med_p,
             min(named) * 1000, max(named) * 1000))
    med_off = statistics.median(history_off) * 1000
    med_on = statistics.median(history_on) * 1000
    print("| caller-ID block end -> annc's first sound, --history none / "
          "the history and an --on-call program on (medians of "
          "%d, alternating; %d rows written) | %.0f ms / %.0f ms (%+.0f ms; "
          "on: %.0f-%.0f) | within 5 ms |"
          % (CALLS, history_rows, med_off,
             med_on, med_on - med_off, min(history_on) * 1000,
             max(history_on) * 1000))
    if history_db:
        print("| a call's row written and completed, annc-line's time "
              "(median / max of 200) | %s us / %s us | <= 1 ms median |"
              % tuple(history_db["row_us"]))
        print("| %s calls in the history: the last 50 calls of one number; "
              "calls per day for 30 days (medians of 11) | %s ms; %s ms "
              "| each <= 20 ms |"
              % (history_db["calls"][0], history_db["last50_ms"][0],
                 history_db["per_day_ms"][0]))
    tick = 1.0 / os.sysconf("SC_CLK_TCK")
    print("| annc-line CPU while idle over %.0f s (counted in %.0f ms ticks) "
          "| %.3f s (%.4f %%) | < 0.1 %% |"
          % (IDLE_S, tick * 1000, cpu, 100.0 * cpu / IDLE_S))
    print("| RSS after 10 calls / after %d calls | %d kB / %d kB (%+d kB) | "
          "<= 4 MB; within 1 MB |" % (MANY, rss[10], rss[MANY], rss[MANY] - rss[10]))
    print("| %d stub calls took | %.1f s | |" % (MANY, elapsed))
    sc = measure_screening()
    print("| reading a 100,000-entry block list (median of 11) | %s ms | "
          "<= 100 ms |" % sc["read_ms"][0])
    print("| one decision against it (median / max of 2000) | %s / %s us "
          "| <= 1 ms |" % (sc["decide_us"][0], sc["decide_us"][1]))
    med_ss = statistics.median(screened_sound) * 1000
    print("| screened, number and name: block end -> annc's first sound "
          "(median of %d; min-max) | %.0f ms (%.0f-%.0f) | annc start-up + "
          "<= 20 ms |" % (SCREEN_CALLS, med_ss, min(screened_sound) * 1000,
                          max(screened_sound) * 1000))
    print("| annc-line's share: that - annc start-up | %d ms | <= 20 ms |"
          % round(med_ss - med_s))
    print("| screened, number and name: block end -> ATH1 of a blocked call "
          "(median of %d; max) | %.1f ms (%.1f) | <= 20 ms |"
          % (SCREEN_CALLS, statistics.median(screened_ath1) * 1000,
             max(screened_ath1) * 1000))
    if mqtt is None:
        print("| MQTT rows | mosquitto is not installed | |")
        return 0
    times, event, queued = mqtt
    med = {k: statistics.median(v) * 1000 for k, v in times.items()}
    print("| --mqtt: caller-ID block end (number and name: whole at once) "
          "-> the call's event at a subscriber on this machine (median of "
          "%d; max) | %.1f ms (%.1f) | <= 10 ms |"
          % (len(event), statistics.median(event) * 1000, max(event) * 1000))
    print("| caller-ID block end -> annc's first sound: without MQTT / with "
          "--mqtt / with the broker stopped by SIGSTOP (medians of %d; the "
          "first two alternating) | %.0f ms / %.0f ms (%+.0f ms) / %.0f ms "
          "(%+.0f ms) | within 5 ms |"
          % (CALLS, med["off"], med["on"], med["on"] - med["off"],
             med["stopped"], med["stopped"] - med["off"]))
    print("| %d events queued while the broker was down: the first -> the "
          "last at a subscriber after the reconnection | %.0f ms | <= 1 s |"
          % (2 * QUEUED_CALLS, queued * 1000))
    if follow:
        print("| a following box (annc-line mqtt:): the call's event sent to "
              "the broker -> annc's first sound (median of %d; min-max) | "
              "%.0f ms (%.0f-%.0f) | annc start-up (%.0f ms) + <= 20 ms |"
              % (len(follow), statistics.median(follow) * 1000,
                 min(follow) * 1000, max(follow) * 1000, med_s))
    return 0


if __name__ == "__main__":
    sys.exit(main())
