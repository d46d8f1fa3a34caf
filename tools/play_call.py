#!/usr/bin/env python3
"""Watch annc-line handle a call without a modem.

Starts an emulated caller-ID modem on a pseudo-terminal (tests/
modem_emulator.py), runs annc-line on it with --once, and plays one call:
the first ring, the caller-ID block, then rings until the caller "gives up".
annc-line's status lines and annc's screen appear here; press a key while
annc speaks to stop the announcement, as you would with a real call.

    tools/play_call.py [--number 5551234] [--name "ANN LEE"]
                       [--order na|uk|none] [--rings 6] [--gap 2]
                       [--profile vcid|cid|none|echo] [--line build/annc-line]
                       [--annc build/annc] [-- more annc-line options]

--order na: the block between the first and the second ring (North
America); uk: before the first ring (UK, France); none: rings only, announced
as Unknown. The recordings and the phone book are annc's own: make the
sample voice first (bash tools/make_voice.sh build/Numvoice).

Exit code: annc-line's; 128 plus the signal's number when Ctrl-C (SIGINT) or
SIGTERM ended the play (annc-line is ended first, the emulated modem closed).
"""

import argparse
import os
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "tests"))

from harness import wait_until  # noqa: E402
from modem_emulator import (  # noqa: E402
    ModemEmulator, north_american_block, uk_block)


def say(text):
    print("play_call: " + text, file=sys.stderr, flush=True)


class Interrupted(Exception):
    """Ctrl-C or SIGTERM: the play stops, and its exit code says so."""

    def __init__(self, signum):
        super().__init__(signal.Signals(signum).name)
        self.signum = signum


def interrupt(signum, frame):
    raise Interrupted(signum)


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--number", default="5551234")
    parser.add_argument("--name", default="ANN LEE")
    parser.add_argument("--order", choices=("na", "uk", "none"), default="na")
    parser.add_argument("--rings", type=int, default=6,
                        help="rings after the block (default 6)")
    parser.add_argument("--gap", type=float, default=2.0,
                        help="seconds between rings (default 2)")
    parser.add_argument("--profile", default="vcid",
                        choices=("vcid", "cid", "none", "echo"))
    parser.add_argument("--line", default=os.path.join(REPO, "build",
                                                       "annc-line"))
    parser.add_argument("--annc", default=None,
                        help="default: annc beside annc-line")
    parser.add_argument("extra", nargs="*",
                        help="more annc-line options, after --")
    args = parser.parse_args()
    # SIGTERM as Ctrl-C: both end annc-line and leave nothing behind.
    signal.signal(signal.SIGINT, interrupt)
    signal.signal(signal.SIGTERM, interrupt)
    try:
        return play_one_call(args)
    except Interrupted as e:
        say("interrupted by %s" % e)
        return 128 + e.signum


def play_one_call(args):

    annc = args.annc or os.path.join(os.path.dirname(args.line), "annc")
    for path in (args.line, annc):
        if not os.access(path, os.X_OK):
            say("%s is missing: build first (bash tools/build.sh)" % path)
            return 1
    voice = os.path.join(os.path.dirname(os.path.realpath(annc)), "Numvoice")
    if not os.path.isfile(os.path.join(voice, "aon.db")):
        say("no phone book in %s: annc will stop at once; make the sample "
            "voice with: bash tools/make_voice.sh %s" % (voice, voice))

    ring_timeout = max(1.0, args.gap * 1.5)
    with tempfile.TemporaryDirectory(prefix="play-call-") as folder:
        with ModemEmulator(folder, args.profile) as modem:
            cmd = [args.line, "--once", "--annc", annc,
                   "--lock-dir", folder,
                   "--ring-timeout", "%g" % ring_timeout] + args.extra + [
                       modem.link]
            say("modem emulated at %s -> %s" % (modem.link, modem.slave_path))
            say("running: " + " ".join(cmd))
            line = subprocess.Popen(cmd)
            try:
                if not wait_ready(modem, line):
                    return line.wait(10)
                say("AT commands received: %s" % ", ".join(
                    modem.commands_seen()))
                play(modem, args, line)
                say("the caller gave up; annc-line ends the call after "
                    "%g s without a ring" % ring_timeout)
                code = line.wait(ring_timeout + 15)
            except subprocess.TimeoutExpired:
                line.send_signal(signal.SIGTERM)
                code = line.wait(15)
            except Interrupted:
                end(line)
                raise
            finally:
                if line.poll() is None:     # a second interrupt meanwhile
                    line.kill()
                    line.wait()
            say("annc-line ended with exit code %d" % code)
            return code


def end(line):
    """SIGTERM to annc-line (which ends its announcer), then its end; a
    second interrupt meanwhile leaves the killing to the caller."""
    if line.poll() is None:
        line.send_signal(signal.SIGTERM)
    try:
        code = line.wait(15)
        say("annc-line ended with exit code %d" % code)
    except subprocess.TimeoutExpired:
        pass


def wait_ready(modem, line, timeout=10.0):
    """Until annc-line has started switching caller ID on, the last step of
    its set-up, and had a moment to finish it."""
    try:
        wait_until(lambda: any(c.startswith(("AT+VCID", "AT#CID", "AT%CCID"))
                               for c in modem.commands_seen()), timeout,
                   "caller ID switched on",
                   gone=lambda: line.poll() is not None, interval=0.05)
    except AssertionError:
        return line.poll() is None
    time.sleep(0.5)
    return True


def play(modem, args, line):
    if args.order == "na":
        script = north_american_block(args.number, args.name)
    elif args.order == "uk":
        script = uk_block(args.number)
    else:
        script = [(0, "RING")]
    for pause, text in script:
        time.sleep(pause)
        say("modem> " + text)
        modem.send_line(text)
    for _ in range(args.rings):
        time.sleep(args.gap)
        if line.poll() is not None:
            return
        say("modem> RING")
        modem.send_line("RING")


if __name__ == "__main__":
    sys.exit(main())
