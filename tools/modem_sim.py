#!/usr/bin/env python3
"""Try annc's modem path without a modem.

Opens a pseudo-terminal pair, starts annc with the slave side inherited as its
serial line (/H:<descriptor>), and passes each line you type on to the line
as the modem would, ended with CR. Type RING (or OK, BUSY, NO CARRIER...) and
Enter to end the call with exit code 99; type :key to press a key instead
(exit code 0); end of input (Ctrl-D) does the same. annc's end is reported
as soon as it comes, and the exit code is annc's.

    tools/modem_sim.py [path/to/annc] [number] [more annc arguments...]
"""
import os
import select
import subprocess
import sys


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    annc = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build", "annc")
    number = sys.argv[2] if len(sys.argv) > 2 else "5551234"
    extra = sys.argv[3:]
    master, slave = os.openpty()
    keys_r, keys_w = os.pipe()
    proc = subprocess.Popen([annc, number, "/H:%d" % slave] + extra,
                            stdin=keys_r, pass_fds=(slave,))
    os.close(slave)
    os.close(keys_r)
    # annc's end wakes the loop below as a typed line does (Linux 5.3 and
    # later); elsewhere the loop looks every 0.1 s.
    try:
        ended = [os.pidfd_open(proc.pid)]
    except (AttributeError, OSError):
        ended = []
    print("modem> type a result code and Enter (e.g. RING), or :key to press a key", file=sys.stderr)
    typed = b""
    try:
        while proc.poll() is None:
            ready, _, _ = select.select([0] + ended, [], [], None if ended else 0.1)
            if 0 not in ready:
                continue
            chunk = os.read(0, 4096)
            if not chunk:                        # end of input: a key
                os.write(keys_w, b"k")
                break
            typed += chunk
            while b"\n" in typed:
                line, typed = typed.split(b"\n", 1)
                line = line.rstrip(b"\r")
                if line == b":key":
                    os.write(keys_w, b"k")
                else:
                    os.write(master, line + b"\r")
    except KeyboardInterrupt:
        proc.terminate()
    except OSError:
        if proc.poll() is None:                  # not just annc gone meanwhile
            proc.terminate()
            proc.wait()
            raise
    code = proc.wait()
    for fd in [master, keys_w] + ended:
        os.close(fd)
    print("\nannc ended with exit code %d" % code, file=sys.stderr)
    return code


if __name__ == "__main__":
    sys.exit(main())
