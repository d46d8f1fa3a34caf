#!/usr/bin/env python3
"""annc benchmark: start-up, scaling, memory, word gap, idle cost, modem reaction.

    python3 bench/run.py

Builds its own Release binary into build-bench/ (or takes $ANNC_BINARY),
generates every input in a temporary folder, runs the measures one after the
other and prints one markdown table, with the machine beside it.  Every
figure is measured in this run: ratios of medians (or counts), with the
absolute times beside them.  Measure 6 with the sample voice played in
real time: bench/reaction_real_voice.py.

Settings (environment):
  ANNC_BINARY        binary to measure instead of building build-bench/annc
  BENCH_RUNS         timed runs per program and book size (default 21)
  BENCH_CYCLES       announcement cycles timed for the word gap (default 8)
  BENCH_APLAY_RUNS   aplay runs for the word gap (default 30)
  BENCH_IDLE_S       seconds of announcing for the idle cost (default 20)
  BENCH_CALLS        calls for the modem reaction (default 20)
  BENCH_SEED         seed of the random ring moments (default: random)
  BENCH_KEEP         1: keep the temporary folder and print where it is
"""

import math
import os
import platform
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests"))

# The speaking rules, the WAV writer, the output reader and the /proc
# reader of the end-to-end harness.
from harness import (  # noqa: E402
    NOPHONE, NUMBER_WORDS, SEPARATOR, FdReader, cpu_model, cycle_pause_ms,
    expected_cycle, file_name, load_average, write_wav)

BUILD_DIR = os.path.join(REPO, "build-bench")

RUNS = int(os.environ.get("BENCH_RUNS", "21"))
RSS_RUNS = 5
CYCLES = int(os.environ.get("BENCH_CYCLES", "8"))
APLAY_RUNS = int(os.environ.get("BENCH_APLAY_RUNS", "30"))
IDLE_S = float(os.environ.get("BENCH_IDLE_S", "20"))
CALLS = int(os.environ.get("BENCH_CALLS", "20"))
SEED = int(os.environ.get("BENCH_SEED", str(int.from_bytes(os.urandom(4), "little"))))

CALLER = "5552345"                 # 7 digits: groups 555, 23, 45
CALLER_NAME = "Ann Lee"
BOOK_SIZES = [10_000, 100_000, 1_000_000]
SMALL_BOOK = 100

WORD_SECONDS = 0.3
WORD_RATE = 22050

RING_BOUND_MS = 200.0

# ALSA "default" on the file plugin over the null PCM: every word is decoded
# and written, and plays at once.
ASOUNDRC = ('pcm.!default { type file; slave.pcm { type null }; '
            'file "/dev/null"; format "raw" }\n')


def log(msg):
    print(msg, file=sys.stderr, flush=True)


# ---------------------------------------------------------------------------
# Binary, machine


def binary():
    given = os.environ.get("ANNC_BINARY")
    if given:
        return os.path.abspath(given)
    log("building %s (Release) ..." % BUILD_DIR)
    subprocess.run(["cmake", "-S", REPO, "-B", BUILD_DIR, "-DCMAKE_BUILD_TYPE=Release",
                    "-DANNC_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD_DIR, "-j2"], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(BUILD_DIR, "annc")


def ensure_tools():
    missing = [t for t in ("grep", "aplay", "/usr/bin/time") if shutil.which(t) is None]
    if missing:
        pkgs = {"aplay": "alsa-utils", "grep": "grep", "/usr/bin/time": "time"}
        log("installing %s ..." % ", ".join(pkgs[t] for t in missing))
        subprocess.run(["apt-get", "install", "-y", "-q"] + [pkgs[t] for t in missing],
                       check=True, stdout=subprocess.DEVNULL)


def machine():
    return {
        "nproc": len(os.sched_getaffinity(0)),
        "cpu": cpu_model(),
        "kernel": platform.release(),
    }


def loadavg():
    return load_average()


# ---------------------------------------------------------------------------
# Inputs


def write_word(path, index):
    """A 0.3 s, 22050 Hz mono 16-bit tone, its pitch set by the word."""
    frames = int(WORD_SECONDS * WORD_RATE)
    freq = 200.0 + 20.0 * index
    write_wav(path, [int(8000 * math.sin(2 * math.pi * freq * i / WORD_RATE))
                     for i in range(frames)], rate=WORD_RATE)


def make_voice(folder):
    os.makedirs(folder)
    for i, name in enumerate(NUMBER_WORDS):
        write_word(os.path.join(folder, file_name(name)), i)
    write_word(os.path.join(folder, file_name(SEPARATOR)), 40)
    write_word(os.path.join(folder, file_name(NOPHONE)), 41)


FIRST = ["Ann", "Boris", "Clara", "Dmitri", "Elena", "Frank", "Galina", "Hugo", "Irina",
         "Jacob", "Ksenia", "Leon", "Maria", "Nikolai", "Olga", "Pavel", "Rosa", "Stefan"]
LAST = ["Andersen", "Bogdanova", "Castillo", "Dubois", "Egorov", "Fischer", "Gromova",
        "Hoffmann", "Ivanova", "Jensen", "Kowalski", "Lebedev", "Morozova", "Novak"]


def write_book(path, lines, rng):
    """`lines` lines of `number=name`, CR LF ended; the caller is the last."""
    chunk = []
    with open(path, "wb") as f:
        for _ in range(lines - 1):
            n = rng.randrange(2_000_000, 9_999_999)
            if str(n) == CALLER:
                n += 1
            chunk.append("%d=%s %s %s\r\n" % (n, rng.choice(FIRST), rng.choice(LAST),
                                              rng.choice(("home", "work", "mobile"))))
            if len(chunk) == 50_000:
                f.write("".join(chunk).encode())
                chunk = []
        chunk.append("%s=%s\r\n" % (CALLER, CALLER_NAME))
        f.write("".join(chunk).encode())
    return os.path.getsize(path)


def make_site(root, name, annc, book_lines, voice_src, rng):
    """A folder holding a copy of annc and Numvoice/ with a book of `book_lines`."""
    site = os.path.join(root, name)
    os.makedirs(site)
    exe = os.path.join(site, "annc")
    shutil.copy2(annc, exe)
    shutil.copytree(voice_src, os.path.join(site, "Numvoice"))
    size = write_book(os.path.join(site, "Numvoice", "aon.db"), book_lines, rng)
    return exe, os.path.join(site, "Numvoice", "aon.db"), size


# ---------------------------------------------------------------------------
# Processes


class Run:
    pass


def spawn(argv, env, stdin=None, stdout=None, stderr=None, keep_fds=()):
    actions = []
    for target, fd in ((0, stdin), (1, stdout), (2, stderr)):
        if fd is None:
            actions.append((os.POSIX_SPAWN_OPEN, target, "/dev/null",
                            os.O_RDONLY if target == 0 else os.O_WRONLY, 0))
        else:
            actions.append((os.POSIX_SPAWN_DUP2, fd, target))
    for fd in keep_fds:
        os.set_inheritable(fd, True)
    try:
        return os.posix_spawn(argv[0], argv, env, file_actions=actions)
    finally:
        for fd in keep_fds:
            os.set_inheritable(fd, False)


def timed(argv, env, key=False):
    """Runs argv to its end; wall time, peak RSS, CPU, exit code.  With key,
    standard input is a pipe already holding one byte, then closed."""
    r_fd = w_fd = None
    if key:
        r_fd, w_fd = os.pipe()
        os.write(w_fd, b"k")
        os.close(w_fd)
    t0 = time.perf_counter()
    pid = spawn(argv, env, stdin=r_fd)
    _, status, ru = os.wait4(pid, 0)
    t1 = time.perf_counter()
    if r_fd is not None:
        os.close(r_fd)
    run = Run()
    run.wall = t1 - t0
    run.cpu = ru.ru_utime + ru.ru_stime
    run.code = os.waitstatus_to_exitcode(status)
    return run


def peak_rss_kb(argv, env, out_path, key=False):
    """Peak resident set of argv, in KB, as /usr/bin/time reports it.  The
    count of a child spawned from this interpreter would start at the
    interpreter's own size (the high-water mark survives exec); time forks
    from a small process."""
    r_fd = None
    if key:
        r_fd, w_fd = os.pipe()
        os.write(w_fd, b"k")
        os.close(w_fd)
    pid = spawn(["/usr/bin/time", "-f", "%M", "-o", out_path] + argv, env, stdin=r_fd)
    _, status, _ = os.wait4(pid, 0)
    if r_fd is not None:
        os.close(r_fd)
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit("%s ended with %d" % (argv[0], os.waitstatus_to_exitcode(status)))
    with open(out_path) as f:
        return int(f.read().split()[-1])


def is_caller_line(line):
    return line.startswith(CALLER.encode() + b" - ")


def stop(pid):
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    return os.wait4(pid, 0)


# ---------------------------------------------------------------------------
# One cycle


def cycle_words(number, hour, minute):
    """How many recordings one cycle plays."""
    return len(expected_cycle(number, hour, minute))


def cycle_pauses_s(number):
    return cycle_pause_ms(number) / 1000.0


# ---------------------------------------------------------------------------
# Measures


def med(values):
    return statistics.median(values)


def measure_startup(sites, env, log_path):
    """Measures 1-3: annc with a key pending against grep -F -m1 on each book."""
    results = {}
    for lines, (exe, book, size) in sites.items():
        annc_argv = [exe, CALLER, "/L:" + log_path]
        grep = shutil.which("grep")
        grep_argv = [grep, "-F", "-m1", "--", "%s=%s" % (CALLER, CALLER_NAME), book]
        for _ in range(2):       # page cache, dynamic loader caches
            timed(annc_argv, env, key=True)
            timed(grep_argv, env)
        a_runs, g_runs = [], []
        for i in range(RUNS):
            # Alternating, so that a noisy moment hits both.
            pair = [(a_runs, annc_argv, True), (g_runs, grep_argv, False)]
            if i % 2:
                pair.reverse()
            for out, argv, key in pair:
                out.append(timed(argv, env, key=key))
        bad = [r.code for r in a_runs if r.code != 0]
        if bad:
            raise SystemExit("annc ended with %r on the %d-line book" % (bad, lines))
        bad = [r.code for r in g_runs if r.code != 0]
        if bad:
            raise SystemExit("grep did not find the caller in the %d-line book" % lines)
        rss = [peak_rss_kb(annc_argv, env, log_path + ".rss", key=True) for _ in range(RSS_RUNS)]
        results[lines] = {
            "size": size,
            "annc": med([r.wall for r in a_runs]),
            "grep": med([r.wall for r in g_runs]),
            "annc_cpu": med([r.cpu for r in a_runs]),
            "grep_cpu": med([r.cpu for r in g_runs]),
            "rss_kb": max(rss),
        }
        log("  %9d lines %6.1f MiB: annc %.2f ms, grep %.2f ms, annc peak RSS %.1f MiB" % (
            lines, size / float(1 << 20), results[lines]["annc"] * 1e3, results[lines]["grep"] * 1e3,
            results[lines]["rss_kb"] / 1024))
    return results


def measure_gap(exe, env, tmp):
    """Measure 4: one cycle minus its pauses, per word; aplay once per word."""
    r_fd, w_fd = os.pipe()          # standard input kept open, never written
    o_r, o_w = os.pipe()
    pid = spawn([exe, CALLER, "/L:"], env, stdin=r_fd, stdout=o_w)
    os.close(r_fd)
    os.close(o_w)
    reader = FdReader(o_r)
    hits = reader.wait_lines(is_caller_line, CYCLES + 1, timeout=CYCLES * 10 + 30)
    stop(pid)
    os.close(w_fd)
    reader.wait_eof(10.0)
    os.close(o_r)
    if len(hits) < CYCLES + 1:
        raise SystemExit("annc printed %d caller lines, %d wanted" % (len(hits), CYCLES + 1))
    pauses = cycle_pauses_s(CALLER)
    gaps, cycles, words_seen = [], [], set()
    for (t0, wall0, _), (t1, _, _) in zip(hits, hits[1:]):
        # The time is read just after the caller line; a cycle that starts
        # right at a minute's turn may speak either minute.
        sec = wall0 % 60
        if sec > 59.9 or sec < 0.1:
            continue
        lt = time.localtime(wall0)
        words = cycle_words(CALLER, lt.tm_hour, lt.tm_min)
        words_seen.add(words)
        cycles.append(t1 - t0)
        gaps.append((t1 - t0 - pauses) / words)

    if not cycles:
        raise SystemExit("every timed cycle began at a minute's turn; run again")
    wav = os.path.join(tmp, "voice", "5.wav")
    aplay = shutil.which("aplay")
    argv = [aplay, "-q", wav]
    for _ in range(3):
        timed(argv, env)
    runs = [timed(argv, env) for _ in range(APLAY_RUNS)]
    bad = [r.code for r in runs if r.code != 0]
    if bad:
        raise SystemExit("aplay failed on the null sink: %r" % bad)
    res = {
        "cycle": med(cycles),
        "pauses": pauses,
        "gap": med(gaps),
        "gap_max": max(gaps),
        "cycles": len(cycles),
        "words": sorted(words_seen),
        "aplay": med([r.wall for r in runs]),
    }
    log("  cycle %.2f ms (pauses %.0f ms), %s words: %.3f ms/word; aplay %.2f ms/word" % (
        res["cycle"] * 1e3, pauses * 1e3, "/".join(map(str, res["words"])), res["gap"] * 1e3,
        res["aplay"] * 1e3))
    return res


def measure_idle(exe, env):
    """Measure 5: CPU time over wall time while announcing, no serial line."""
    r_fd, w_fd = os.pipe()
    o_r, o_w = os.pipe()
    t0 = time.perf_counter()
    pid = spawn([exe, CALLER, "/L:"], env, stdin=r_fd, stdout=o_w)
    os.close(r_fd)
    os.close(o_w)
    reader = FdReader(o_r)
    time.sleep(IDLE_S)
    _, _, ru = stop(pid)
    t1 = time.perf_counter()
    os.close(w_fd)
    reader.wait_eof(10.0)
    os.close(o_r)
    cpu = ru.ru_utime + ru.ru_stime
    res = {"cpu": cpu, "wall": t1 - t0,
           "cycles": sum(1 for l in reader.lines() if is_caller_line(l[2]))}
    log("  CPU %.1f ms over %.2f s, %d cycles begun" % (cpu * 1e3, res["wall"], res["cycles"]))
    return res


def measure_ring(exe, env, rng):
    """Measure 6: RING CR written on the pty master, to the process's exit."""
    delays, phases, codes = [], [], []
    cycle_s = cycle_pauses_s(CALLER) + 0.6
    for call in range(CALLS):
        master, slave = os.openpty()
        o_r, o_w = os.pipe()
        r_fd, w_fd = os.pipe()
        pid = spawn([exe, CALLER, "/L:", "/H:%d" % slave], env, stdin=r_fd, stdout=o_w,
                    keep_fds=(slave,))
        os.close(slave)
        os.close(r_fd)
        os.close(o_w)
        reader = FdReader(o_r)
        # The line is taken over (and flushed) before the first caller line.
        first = reader.wait_lines(is_caller_line, 1, timeout=30)
        if not first:
            stop(pid)
            raise SystemExit("annc printed no caller line with /H:")
        time.sleep(rng.uniform(0.0, 2 * cycle_s))
        t0 = time.perf_counter()
        os.write(master, b"RING\r")
        last = [l[0] for l in reader.lines() if is_caller_line(l[2])][-1]
        _, status, _ = os.wait4(pid, 0)
        t1 = time.perf_counter()
        code = os.waitstatus_to_exitcode(status)
        reader.wait_eof(10.0)
        for fd in (o_r, w_fd, master):
            os.close(fd)
        delays.append(t1 - t0)
        phases.append(t0 - last)
        codes.append(code)
    res = {"delays": delays, "codes": codes}
    log("  reaction ms (written at ms into the cycle): %s" % ", ".join(
        "%.0f (%.0f)" % (d * 1e3, p * 1e3) for d, p in zip(delays, phases)))
    return res


# ---------------------------------------------------------------------------
# Table


def verdict(ok):
    return "met" if ok else "**missed**"


def main():
    ensure_tools()
    annc = binary()
    mach = machine()
    load_before = loadavg()
    keep = os.environ.get("BENCH_KEEP") == "1"
    tmp = tempfile.mkdtemp(prefix="annc-bench-")
    try:
        rng = random.Random(SEED)
        home = os.path.join(tmp, "home")
        os.makedirs(home)
        with open(os.path.join(home, ".asoundrc"), "w") as f:
            f.write(ASOUNDRC)
        env = dict(os.environ)
        env["HOME"] = home
        env.pop("ALSA_CONFIG_PATH", None)
        voice = os.path.join(tmp, "voice")
        make_voice(voice)

        log("generating phone books in %s ..." % tmp)
        sites = {}
        for lines in [SMALL_BOOK] + BOOK_SIZES:
            sites[lines] = make_site(tmp, "book%d" % lines, annc, lines, voice, rng)
        log_path = os.path.join(tmp, "events.log")

        log("measures 1-3: start-up, %d runs each ..." % RUNS)
        start = measure_startup(sites, env, log_path)
        small_exe = sites[SMALL_BOOK][0]
        log("measure 4: word gap, %d cycles ..." % CYCLES)
        gap = measure_gap(small_exe, env, tmp)
        log("measure 5: idle cost, %.0f s ..." % IDLE_S)
        idle = measure_idle(small_exe, env)
        log("measure 6: modem reaction, %d calls ..." % CALLS)
        ring = measure_ring(small_exe, env, rng)
        load_after = loadavg()
    finally:
        if keep:
            log("inputs kept in %s" % tmp)
        else:
            shutil.rmtree(tmp, ignore_errors=True)

    rows = []
    big = start[BOOK_SIZES[-1]]
    ratio = big["annc"] / big["grep"]
    rows.append(("1", "Start-up, %d-line book (%.1f MiB), caller last" % (
        BOOK_SIZES[-1], big["size"] / float(1 << 20)),
        "annc/grep = **%.2f** (annc %.1f ms, `grep -F -m1` %.1f ms; medians of %d); "
        "CPU time annc/grep %.2f (%.1f / %.1f ms)" % (
            ratio, big["annc"] * 1e3, big["grep"] * 1e3, RUNS,
            big["annc_cpu"] / big["grep_cpu"], big["annc_cpu"] * 1e3, big["grep_cpu"] * 1e3),
        "≤ 1.5", verdict(ratio <= 1.5)))

    steps, ok = [], True
    for a, b in zip(BOOK_SIZES, BOOK_SIZES[1:]):
        tr = start[b]["annc"] / start[a]["annc"]
        sr = start[b]["size"] / start[a]["size"]
        ok = ok and tr <= sr
        steps.append("%dk→%dk: time ×**%.2f** for size ×%.2f" % (a // 1000, b // 1000, tr, sr))
    abs_times = ", ".join("%dk %.1f ms" % (n // 1000, start[n]["annc"] * 1e3) for n in BOOK_SIZES)
    grep_ratios = ", ".join("%dk %.2f" % (n // 1000, start[n]["annc"] / start[n]["grep"])
                            for n in BOOK_SIZES)
    rows.append(("2", "Scaling, 10k / 100k / 1M lines",
                 "; ".join(steps) + " (annc %s; annc/grep %s)" % (abs_times, grep_ratios),
                 "time grows no faster than size", verdict(ok)))

    mib = float(1 << 20)
    rss_big = big["rss_kb"] * 1024.0                      # bytes
    rss_small = start[SMALL_BOOK]["rss_kb"] * 1024.0
    limit_big = 1.5 * big["size"] + 10 * mib
    limit_small = 8 * mib
    rows.append(("3", "Peak RSS (`/usr/bin/time`, max of %d runs)" % RSS_RUNS,
                 "1M lines: **%.2f** × book, **%.2f** of the limit (%.1f MiB; book %.1f MiB, "
                 "limit %.1f MiB); %d lines: **%.2f** of the limit (%.1f MiB of 8 MiB)" % (
                     rss_big / big["size"], rss_big / limit_big, rss_big / mib,
                     big["size"] / mib, limit_big / mib, SMALL_BOOK, rss_small / limit_small,
                     rss_small / mib),
                 "≤ 1.5 × book + 10 MiB; ≤ 8 MiB with 100 lines",
                 verdict(rss_big <= limit_big and rss_small <= limit_small)))

    g = gap["gap"]
    factor = gap["aplay"] / g if g > 0 else float("inf")
    rows.append(("4", "Gap between words, %s (%s words a cycle)" % (
        CALLER, "/".join(map(str, gap["words"]))),
        "aplay/annc = **%.1f×** (annc %.3f ms/word: cycle %.1f ms − pauses %.0f ms, median of %d "
        "cycles, worst %.3f; aplay %.2f ms/word, median of %d)" % (
            factor, g * 1e3, gap["cycle"] * 1e3, gap["pauses"] * 1e3, gap["cycles"],
            gap["gap_max"] * 1e3, gap["aplay"] * 1e3, APLAY_RUNS),
        "≤ 1 ms/word and ≥ 5× below aplay", verdict(g <= 0.001 and factor >= 5)))

    share = idle["cpu"] / idle["wall"]
    rows.append(("5", "Idle cost, no serial line",
                 "CPU/wall = **%.3f %%** (%.1f ms CPU over %.1f s, %d cycles begun)" % (
                     share * 100, idle["cpu"] * 1e3, idle["wall"], idle["cycles"]),
                 "≤ 2 %", verdict(share <= 0.02)))

    delays = ring["delays"]
    within = sum(1 for d in delays if d * 1e3 <= RING_BOUND_MS)
    exits = sum(1 for c in ring["codes"] if c == 99)
    rows.append(("6", "Modem reaction, `RING` CR at random moments",
                 "**%d/%d** calls within %.0f ms, %d/%d exit 99 (median %.0f ms, max %.0f ms)" % (
                     within, len(delays), RING_BOUND_MS, exits, len(delays),
                     med(delays) * 1e3, max(delays) * 1e3),
                 "≤ word in progress + 200 ms (words take ~0 here)",
                 verdict(within == len(delays) and exits == len(delays))))

    print("Machine: %d CPUs (nproc), %s, kernel %s; load average %s before, %s after; "
          "binary %s; ring seed %d" % (mach["nproc"], mach["cpu"], mach["kernel"], load_before,
                                       load_after, os.path.relpath(annc, REPO), SEED))
    print()
    print("| # | Measure | As measured | Target | Verdict |")
    print("|---|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")


if __name__ == "__main__":
    main()
