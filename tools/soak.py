#!/usr/bin/env python3
"""Long run of annc on a chatty serial line: does its memory stay flat?

Starts annc in a temporary folder (the end-to-end harness's sandbox: a copy
of the binary, synthetic recordings, ALSA's default device captured to a
file) with a pseudo-terminal as its serial line (/H:) and a standard-input
pipe that stays open.  Every 0.5 to 3 seconds the "modem" sends a few
random bytes, and now and then a line end after text that is no result
code (CONNECT, NMBR = ..., ...), so annc keeps echoing and never stops.
VmRSS is sampled every 10 seconds.  At the end a key is pressed: annc must
end with 0, have echoed every byte sent, and logged only the call.

Prints RSS after the first minute, at the end, and the difference; exits
with 1 when the difference exceeds 1 MiB or anything else went wrong.

    tools/soak.py                        # 10 minutes, build/annc
    tools/soak.py --minutes 2 --binary build-asan/annc
"""

import argparse
import os
import random
import sys
import time

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO_ROOT, "tests"))

import harness  # noqa: E402

NUMBER = "5551234"
SAMPLE_EVERY_S = 10.0
LIMIT_KIB = 1024

# Lines a modem may send during a call that are not result codes; no
# result code ends with any of them, so random bytes before one never make
# a result code either.
HARMLESS_LINES = [b"CONNECT", b"CONNECT 9600", b"NMBR = 5551234",
                  b"DATE = 1208", b"TIME = 1823", b"+FCERROR", b"RING 2",
                  b"CARRIER 2400"]


def modem_chatter(rng):
    """A few random bytes without line ends; sometimes followed by a
    harmless line and its line end."""
    junk = bytes(b for b in rng.randbytes(rng.randint(1, 24))
                 if b not in (10, 13))
    if rng.random() < 0.3:
        junk += rng.choice(HARMLESS_LINES) + rng.choice([b"\r", b"\r\n",
                                                         b"\n"])
    return junk


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--minutes", type=float, default=10.0,
                        help="how long annc announces (default 10)")
    parser.add_argument("--binary", default=None,
                        help="annc to run (default $ANNC_BINARY or "
                        "build/annc)")
    parser.add_argument("--seed", type=int, default=None,
                        help="seed of the modem's random bytes")
    args = parser.parse_args()
    if args.binary:
        os.environ["ANNC_BINARY"] = os.path.abspath(args.binary)
    seed = args.seed if args.seed is not None else int(time.time())
    rng = random.Random(seed)
    duration = args.minutes * 60.0
    print("soak: %s for %.1f min, modem seed %d"
          % (harness.annc_binary(), args.minutes, seed), flush=True)

    problems = []
    sandbox = harness.Sandbox()
    line = harness.SerialLine()
    launch = None
    try:
        launch = sandbox.launch([NUMBER, "/H:%d" % line.fd], stdin="pipe",
                                stdout="pipe", serial=line)
        samples = []                  # (seconds since start, KiB)
        sent = bytearray()
        start = time.monotonic()
        next_sample = start
        next_chatter = start + rng.uniform(0.5, 3.0)
        while True:
            now = time.monotonic()
            if not launch.running():
                problems.append("annc ended by itself after %.0f s (exit %r)"
                                % (now - start, launch.proc.returncode))
                break
            if now >= next_sample:
                kib = harness.rss_kib(launch.pid)
                samples.append((now - start, kib))
                cycles = launch.stdout_bytes().count(
                    harness.caller_line(NUMBER, "Ann Lee"))
                print("  %6.0f s  VmRSS %6d KiB  cycles %5d  modem bytes %7d"
                      % (now - start, kib, cycles, len(sent)), flush=True)
                next_sample += SAMPLE_EVERY_S
            if now - start >= duration:
                break
            if now >= next_chatter:
                chunk = modem_chatter(rng)
                line.send(chunk)
                sent += chunk
                next_chatter = now + rng.uniform(0.5, 3.0)
            time.sleep(max(0.0, min(next_sample, next_chatter,
                                    start + duration) - time.monotonic()))

        end_kib = None
        if launch.running():
            end_kib = harness.rss_kib(launch.pid)
            samples.append((time.monotonic() - start, end_kib))
            launch.press_key()
        result = launch.wait(60)
        if result.timed_out:
            problems.append("annc did not end within 60 s of the key")
        elif end_kib is not None and result.returncode != 0:
            problems.append("exit code %r after the key, not 0"
                            % result.returncode)

        # Every modem byte echoed, in order, between the caller lines.
        head = harness.SERIAL_CONFIRMATIONS + harness.BANNER
        caller = harness.caller_line(NUMBER, "Ann Lee")
        if not result.stdout.startswith(head):
            problems.append("standard output does not start with the "
                            "serial confirmations and the banner: %r"
                            % result.stdout[:200])
        else:
            echoed = result.stdout[len(head):].replace(caller, b"")
            if echoed != bytes(sent):
                problems.append("echo differs from the %d bytes sent "
                                "(%d echoed)" % (len(sent), len(echoed)))
        log = sandbox.log_bytes() or b""
        if log.count(b"\r\n") != 1 or b" %s - Ann Lee\r\n" % NUMBER.encode() \
                not in log:
            problems.append("log is not the one call line: %r" % log[:300])

        cycles = result.stdout.count(caller)
        after_minute = next((kib for t, kib in samples if t >= 60.0),
                            samples[-1][1] if samples else None)
        print("cycles spoken:      %d" % cycles)
        print("modem bytes sent:   %d" % len(sent))
        print("exit code:          %r" % result.returncode)
        if end_kib is not None and after_minute is not None:
            growth = end_kib - after_minute
            print("VmRSS after 1 min:  %d KiB" % after_minute)
            print("VmRSS at the end:   %d KiB" % end_kib)
            print("difference:         %+d KiB (limit %d KiB)"
                  % (growth, LIMIT_KIB))
            if growth > LIMIT_KIB:
                problems.append("memory grew by %d KiB" % growth)
    finally:
        if launch is not None and launch.running():
            launch.kill()
        line.close()
        sandbox.cleanup()

    for problem in problems:
        print("FAIL: " + problem)
    print("soak: " + ("FAILED" if problems else "passed"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
