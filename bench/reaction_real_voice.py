#!/usr/bin/env python3
"""Modem reaction with recordings of real length, played in real time.

    python3 bench/reaction_real_voice.py

`bench/run.py` measures the modem reaction on a sound device that plays
every word at once.  Here annc speaks the sample voice (tools/make_voice.sh:
espeak-ng and sox) into a sink that takes the samples no faster than they
would be heard (bench/paced_sink.py), so each word lasts as long as its
recording.  `RING` CR is written on the serial line at a random moment of a
cycle, once per call; the reaction is the time from that write to annc's
exit.  Beside it this prints the longest time the announcement schedule can
keep a result code waiting, computed from the recordings' lengths: the
longest stretch between two consecutive reads of the serial line.

Settings (environment):
  ANNC_BINARY   binary to measure instead of building build-bench/annc
  BENCH_VOICE   sound folder to speak (default: made by tools/make_voice.sh
                in the temporary folder)
  BENCH_NUMBER  caller's number, digits only (default 5551234)
  BENCH_CALLS   calls, one ring each (default 40)
  BENCH_MAX_S   no call is begun after this many seconds (default 300)
  BENCH_SEED    seed of the random ring moments (default: random)
"""

import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from run import REPO, binary, loadavg, machine, spawn, stop   # bench/run.py
from harness import (  # tests/harness, on the path since run was imported
    CLOSING_PAUSE_MS, GROUP_PAUSE_MS, OPENING_PAUSE_MS, SEPARATOR,
    STANDARD_WORDS, FdReader, WavFile, clock_readings, file_name,
    number_groups, parse_integer, say_number, tz_setting, wait_until)

NUMBER = os.environ.get("BENCH_NUMBER", "5551234")
CALLS = int(os.environ.get("BENCH_CALLS", "40"))
MAX_S = float(os.environ.get("BENCH_MAX_S", "300"))
SEED = int(os.environ.get("BENCH_SEED", str(int.from_bytes(os.urandom(4), "little"))))

DRAIN_PAUSE_S = 0.100       # the pause in each read of the line that finds nothing
BOUND_S = 0.200             # the reaction aimed at, after the word in progress
ALLOWANCE_S = 0.050         # measured max may exceed the computed bound by this
MERGE_GAP_S = 0.040         # breaks shorter than this are the sink running dry
                            # between two words, not a pause of the schedule
# The sink's frames: the voice's own rate, widened to 16 channels of 32 bits
# (the plug plugin converts).  A pipe holds at least one page; at the voice's
# 44100 bytes/s that page alone would let annc run 93 ms ahead of the sound,
# at 64 bytes a frame it is 2.9 ms.
SINK_CHANNELS = 16
SINK_BYTES = 4

ASOUNDRC = """pcm.!default {
  type plug
  slave { pcm "paced"; format S32_LE; channels %d; rate %d }
}
pcm.paced {
  type file
  slave.pcm { type null }
  file "%s"
  format "raw"
  truncate true
}
"""


def log(msg):
    print(msg, file=sys.stderr, flush=True)


# ---------------------------------------------------------------------------
# The voice and the schedule


def read_voice(folder):
    """{word: seconds} and the one (rate, channels, width) of all recordings."""
    lengths, formats = {}, set()
    for word in STANDARD_WORDS:
        w = WavFile(os.path.join(folder, file_name(word)))
        formats.add((w.rate, w.channels, w.width))
        lengths[word] = w.seconds
    if len(formats) != 1:
        raise SystemExit("the recordings differ in format: %r" % sorted(formats))
    return lengths, formats.pop()


def cycle_stretches(number, hour, minute, drains=True):
    """A cycle as stretches of sound: (label, words, read after, pause after).
    'read after': with a serial line open, the line is read when the stretch
    ends (and once more DRAIN_PAUSE_S later); never after a number that is an
    exact hundred.  Without a line, what no pause separates is one stretch."""
    def spoken(n):
        return say_number(n), drains and not (n > 99 and n % 100 == 0)
    parts = []
    words, read = spoken(hour)
    parts.append(("hour %02d" % hour, words, read, 0.0))
    words, read = spoken(minute)
    parts.append(("minute %02d" % minute, words, read, 0.0))
    parts.append(("chime", [SEPARATOR], False, OPENING_PAUSE_MS / 1000.0))
    for group in number_groups(number):
        value = parse_integer(group) or 0
        words, read = spoken(value)
        parts.append(("group %s" % group.decode(), words, read, GROUP_PAUSE_MS / 1000.0))
    parts.append(("chime", [SEPARATOR], False, CLOSING_PAUSE_MS / 1000.0))
    out = []
    for part in parts:
        if out and not out[-1][2] and not out[-1][3]:
            label, words, _, _ = out.pop()
            part = (label + " + " + part[0], words + part[1], part[2], part[3])
        out.append(part)
    return out


def cycle_seconds(stretches, lengths):
    """How long the stretches last as the schedule has it: recordings,
    pauses, and the pause in each read of the line."""
    total = 0.0
    for _, words, read, pause in stretches:
        total += sum(lengths[w] for w in words) + pause
        if read:
            total += DRAIN_PAUSE_S
    return total


def read_gaps(number, hour, minute, next_hour, lengths):
    """Every stretch from one read of the line to the next, for a cycle at
    hour:minute followed by one at next_hour: (seconds, description)."""
    cur = cycle_stretches(number, hour, minute)
    nxt = cycle_stretches(number, next_hour, 0)[:1]
    gaps, since, parts = [], None, []
    for i, (label, words, read, pause) in enumerate(cur + nxt):
        t = sum(lengths[w] for w in words)
        if since is not None:
            since += t
            parts.append("%s %.0f" % (label, t * 1e3))
        if read:
            if since is not None:
                gaps.append((since, " → ".join(parts) + " → read"))
            # A read that finds nothing pauses and reads once more: the
            # second read is the last one before the next stretch.
            since, parts = 0.0, ["read after its 100 ms pause"]
        if i < len(cur) and since is not None and pause:
            since += pause
            parts.append("%.0f pause" % (pause * 1e3))
    return gaps


def worst_case(number, lengths):
    best = (0.0, "")
    for hour in range(24):
        for minute in range(60):
            for gap in read_gaps(number, hour, minute, (hour + 1) % 24 if minute == 59 else hour,
                                 lengths):
                best = max(best, gap)
    return best


def longest_clock(lengths):
    """The hour and the minute whose spoken words last longest."""
    def spoken(n):
        return sum(lengths[w] for w in say_number(n))
    return max(range(24), key=spoken), max(range(60), key=spoken)


def tz_offset_for(hour, minute):
    """A whole-minute UTC offset that makes the local time hour:minute now."""
    now_min = int(time.time() // 60) % 1440
    offset = (hour * 60 + minute - now_min) % 1440
    return offset - 1440 if offset > 720 else offset


# ---------------------------------------------------------------------------
# One run of annc into the paced sink


def read_sink_log(path):
    """The stretches of sound the sink took, [(start, end)] in time order."""
    sound = []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if parts[0] == "sound":
                sound.append((float(parts[1]), float(parts[2])))
    # Words follow each other with no pause; the sink may run dry for a
    # moment between two of them.  Those breaks are joined.
    merged = []
    for a, b in sound:
        if merged and a - merged[-1][1] < MERGE_GAP_S:
            merged[-1] = (merged[-1][0], b)
        else:
            merged.append((a, b))
    return merged


def align(segments, number, offset, wall_from, wall_to, lengths, drains=True):
    """Pairs each stretch of sound heard with the stretch of the schedule it
    is, cycle after cycle, taking the clock reading that fits each cycle
    best.  Returns [(start, end, stretch)]."""
    readings = clock_readings(wall_from - 2, wall_to + 2, offset)
    per_cycle = len(cycle_stretches(number, 0, 0, drains))
    out = []
    for c in range(0, len(segments), per_cycle):
        heard = segments[c:c + per_cycle]

        def misfit(hm):
            model = cycle_stretches(number, *hm, drains)
            return sum(abs((b - a) - sum(lengths[w] for w in model[i][1]))
                       for i, (a, b) in enumerate(heard[:2]))
        model = cycle_stretches(number, *min(readings, key=misfit), drains)
        out += [(a, b, model[i]) for i, (a, b) in enumerate(heard)]
    return out


class Sink:
    """A home whose ALSA default is the paced sink, and the sink process."""

    def __init__(self, root, fmt):
        rate = fmt[0]
        self.home = os.path.join(root, "home")
        os.makedirs(self.home, exist_ok=True)
        self.fifo = os.path.join(root, "sink.fifo")
        self.log = os.path.join(root, "sink.log")
        self.rate = rate * SINK_CHANNELS * SINK_BYTES
        with open(os.path.join(self.home, ".asoundrc"), "w") as f:
            f.write(ASOUNDRC % (SINK_CHANNELS, rate, self.fifo))
        self.proc = None

    def start(self):
        if os.path.exists(self.fifo):
            os.unlink(self.fifo)
        os.mkfifo(self.fifo)
        if os.path.exists(self.log):
            os.unlink(self.log)
        self.proc = subprocess.Popen(
            [sys.executable, os.path.join(REPO, "bench", "paced_sink.py"), self.fifo,
             str(self.rate), self.log], stdin=subprocess.DEVNULL)
        def ready():
            try:
                with open(self.log) as f:
                    return f.read().startswith("ready")
            except FileNotFoundError:
                return False
        try:
            wait_until(ready, 10, "the paced sink's start",
                       gone=lambda: self.proc.poll() is not None,
                       interval=0.01)
        except AssertionError as e:
            self.finish()
            raise SystemExit(str(e))

    def finish(self):
        """Waits for the sink to see the end of annc's sound (or ends it)."""
        if self.proc is None:
            return
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc = None


def run_annc(exe, env, args, stdin_fd, extra_fds=()):
    o_r, o_w = os.pipe()
    pid = spawn([exe, NUMBER, "/L:"] + args, env, stdin=stdin_fd, stdout=o_w,
                keep_fds=extra_fds)
    os.close(o_w)
    return pid, o_r, FdReader(o_r)


def is_caller_line(line):
    return line.startswith(NUMBER.encode() + b" - ")


# ---------------------------------------------------------------------------
# Measures


def check_pacing(exe, env, sink, lengths, hm):
    """Two whole cycles without a serial line: their length against the sum
    of the recordings and pauses, and each stretch of sound against its
    words."""
    offset = tz_offset_for(*hm)
    env = dict(env, TZ=tz_setting(offset))
    sink.start()
    r_fd, w_fd = os.pipe()
    wall0 = time.time()
    pid, o_r, reader = run_annc(exe, env, [], r_fd)
    os.close(r_fd)
    try:
        hits = reader.wait_lines(is_caller_line, 3, timeout=60)
    finally:
        stop(pid)
        os.close(w_fd)
        reader.wait_eof(10.0)
        os.close(o_r)
        sink.finish()
    if len(hits) < 3:
        raise SystemExit("annc printed %d caller lines, 3 wanted" % len(hits))
    segments = read_sink_log(sink.log)
    aligned = align(segments, NUMBER, offset, wall0, time.time(), lengths, drains=False)
    rows = []
    for (t0, w0, _), (t1, _, _) in zip(hits, hits[1:]):
        stretches = [s for a, b, s in aligned if t0 <= a < t1]
        rows.append((t1 - t0, cycle_seconds(stretches, lengths)))
    devs = [((b - a) - sum(lengths[w] for w in s[1]), s[0]) for a, b, s in aligned
            if b < hits[-1][0]]
    for got, want in rows:
        log("  cycle %.1f ms, recordings + pauses %.1f ms: %+.1f ms" % (
            got * 1e3, want * 1e3, (got - want) * 1e3))
    log("  %d stretches of sound against their recordings: %+.1f .. %+.1f ms" % (
        len(devs), min(devs)[0] * 1e3, max(devs)[0] * 1e3))
    return rows, devs


def one_call(exe, env, sink, lengths, hm, rng):
    offset = tz_offset_for(*hm)
    env = dict(env, TZ=tz_setting(offset))
    sink.start()
    master, slave = os.openpty()
    r_fd, w_fd = os.pipe()
    wall0 = time.time()
    pid, o_r, reader = run_annc(exe, env, ["/H:%d" % slave], r_fd, extra_fds=(slave,))
    os.close(slave)
    os.close(r_fd)
    status = None
    try:
        first = reader.wait_lines(is_caller_line, 1, timeout=30)
        if not first:
            raise SystemExit("annc printed no caller line with /H:")
        length = cycle_seconds(cycle_stretches(NUMBER, *hm), lengths)
        time.sleep(rng.uniform(0.0, length))
        t0 = time.perf_counter()
        os.write(master, b"RING\r")
        _, status, _ = os.wait4(pid, 0)
        t1 = time.perf_counter()
    finally:
        if status is None:
            stop(pid)
        reader.wait_eof(10.0)
        for fd in (o_r, w_fd, master):
            os.close(fd)
        sink.finish()
    data = reader.snapshot()
    echo = None
    at = data.find(b"RING")
    if at >= 0:
        echo = next(t for t, _, n in reader.arrivals if n > at)
    segments = read_sink_log(sink.log)
    aligned = align(segments, NUMBER, offset, wall0, time.time(), lengths)
    return classify(t0, t1, echo, os.waitstatus_to_exitcode(status), first[0][0], aligned,
                    lengths)


def classify(t0, t1, echo, code, cycle_start, aligned, lengths):
    """Where in the schedule the ring fell, and when annc was due to see it."""
    res = {"reaction": t1 - t0, "code": code, "phase": t0 - cycle_start, "echo": echo,
           "at": "pause", "word_left": 0.0, "number_left": 0.0, "next_read": None,
           "devs": []}
    for a, b, (label, words, read, _) in aligned:
        if b < t0:
            res["devs"].append(((b - a) - sum(lengths[w] for w in words), label))
        if a <= t0 < b:
            res["at"] = label
            if read:                    # a spoken number, the line read after it
                res["number_left"] = b - t0
            edge = a
            for w in words:
                edge += lengths[w]
                if t0 < edge:
                    res["word_left"] = min(edge, b) - t0
                    res["at"] = "%s, word %s" % (label, w)
                    break
        if read and res["next_read"] is None:
            for moment in (b, b + DRAIN_PAUSE_S):
                if moment >= t0:
                    res["next_read"] = moment
                    break
    res["due"] = None if res["next_read"] is None else res["next_read"] - t0
    res["seen"] = None if echo is None else echo - t0
    return res


def ms(seconds):
    return "?" if seconds is None else "%.0f ms" % (seconds * 1e3)


def pct(values, q):
    s = sorted(values)
    return s[min(len(s) - 1, int(round(q * (len(s) - 1))))]


def main():
    annc = binary()
    mach, load_before = machine(), loadavg()
    tmp = tempfile.mkdtemp(prefix="annc-reaction-")
    rng = random.Random(SEED)
    try:
        voice = os.environ.get("BENCH_VOICE")
        if not voice:
            voice = os.path.join(tmp, "voice")
            log("making the sample voice with tools/make_voice.sh ...")
            subprocess.run(["bash", os.path.join(REPO, "tools", "make_voice.sh"), voice],
                           check=True, stdout=subprocess.DEVNULL)
        lengths, fmt = read_voice(voice)
        site = os.path.join(tmp, "site")
        os.makedirs(site)
        exe = os.path.join(site, "annc")
        shutil.copy2(annc, exe)
        shutil.copytree(voice, os.path.join(site, "Numvoice"), dirs_exist_ok=True)
        with open(os.path.join(site, "Numvoice", "aon.db"), "wb") as f:
            f.write(b"%s=Ann Lee\r\n" % NUMBER.encode())
        sink = Sink(tmp, fmt)
        env = dict(os.environ, HOME=sink.home)
        env.pop("ALSA_CONFIG_PATH", None)
        hm = longest_clock(lengths)
        log("voice %s: %d Hz, %d channel(s), %d bits; sink %d bytes/s; clock set to %02d:%02d" % (
            voice, fmt[0], fmt[1], 8 * fmt[2], sink.rate, hm[0], hm[1]))

        log("pacing: two cycles of %s without a serial line ..." % NUMBER)
        cycles, devs = check_pacing(exe, env, sink, lengths, hm)

        log("reaction: %d calls, RING CR at a random moment of a cycle ..." % CALLS)
        results, began = [], time.monotonic()
        for _ in range(CALLS):
            if time.monotonic() - began > MAX_S:
                log("  time limit of %.0f s reached" % MAX_S)
                break
            r = one_call(exe, env, sink, lengths, hm, rng)
            results.append(r)
            log("  %4.0f ms into the cycle, %-22s reaction %5.0f ms (read due after %s, "
                "seen %s), exit %d" % (
                    r["phase"] * 1e3, r["at"], r["reaction"] * 1e3, ms(r["due"]),
                    ms(r["seen"]), r["code"]))
        load_after = loadavg()
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    report(results, cycles, devs, lengths, hm, mach, load_before, load_after, annc)


def report(results, cycles, devs, lengths, hm, mach, load_before, load_after, annc):
    if not results:
        raise SystemExit("no call was made")
    reactions = [r["reaction"] for r in results]
    n = len(results)
    exits = sum(1 for r in results if r["code"] == 99)
    within = sum(1 for r in results if r["reaction"] <= r["word_left"] + BOUND_S)
    within_number = sum(1 for r in results if r["reaction"] <= r["number_left"] + BOUND_S)
    # Seen at the first read the schedule holds after the ring: annc may
    # start that read a page of sound (a few ms) before the sink's stretch
    # ends, and the echo of the line comes from that read.
    late = [r["seen"] - r["due"] for r in results if r["seen"] is not None and r["due"] is not None]
    on_time = sum(1 for x in late if x <= 0.020)
    exit_after_echo = [r["reaction"] - r["seen"] for r in results if r["seen"] is not None]
    devs = devs + [d for r in results for d in r["devs"]]
    bound, path = worst_case(NUMBER, lengths)
    worst = max(reactions)
    ok = worst <= bound + ALLOWANCE_S and exits == n

    print("Machine: %d CPUs (nproc), %s, kernel %s; load average %s before, %s after; "
          "binary %s; ring seed %d" % (mach["nproc"], mach["cpu"], mach["kernel"], load_before,
                                       load_after, os.path.relpath(annc, REPO), SEED))
    print()
    within_5 = sum(1 for d, _ in devs if abs(d) <= 0.005)
    print("Pacing: %s; %d stretches of sound against their recordings: %d within 5 ms, "
          "%+.1f .. %+.1f ms (the longest: %s)" % (
              "; ".join("cycle %.1f ms for recordings + pauses %.1f ms (%+.1f ms)" % (
                  g * 1e3, w * 1e3, (g - w) * 1e3) for g, w in cycles),
              len(devs), within_5, min(devs)[0] * 1e3, max(devs)[0] * 1e3, max(devs)[1]))
    print("Reaction, %d calls of %s (clock %02d:%02d): median %.0f ms, 90th percentile %.0f ms, "
          "max %.0f ms; within 200 ms of the end of the word in progress %d/%d, of the number "
          "in progress %d/%d; %d/%d exit 99" % (
              n, NUMBER, hm[0], hm[1], statistics.median(reactions) * 1e3,
              pct(reactions, 0.9) * 1e3, worst * 1e3, within, n, within_number, n, exits, n))
    if late:
        print("Schedule: %d/%d seen at the first read due after the ring (latest %+.0f ms); "
              "exit at most %.0f ms after the echo" % (
                  on_time, len(late), max(late) * 1e3, max(exit_after_echo) * 1e3))
    print("Worst case the schedule allows (%s, any hour and minute): %.0f ms = %s" % (
        NUMBER, bound * 1e3, path))
    print("Measured max %.0f ms %s the bound + %.0f ms" % (
        worst * 1e3, "within" if ok else "**over**", ALLOWANCE_S * 1e3))
    print()
    print("| 6b | Modem reaction, sample voice in real time, `RING` CR at random moments | "
          "median **%.0f ms**, 90th percentile %.0f ms, max **%.0f ms** (%d calls, %d/%d exit 99; "
          "within 200 ms of the end of the word in progress %d/%d, of the number in progress "
          "%d/%d) | max ≤ the schedule's worst case, %.0f ms | %s |" % (
              statistics.median(reactions) * 1e3, pct(reactions, 0.9) * 1e3, worst * 1e3, n,
              exits, n, within, n, within_number, n, bound * 1e3, "met" if ok else "**missed**"))
    if not ok:
        sys.exit(1)


if __name__ == "__main__":
    main()
