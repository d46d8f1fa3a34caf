#!/usr/bin/env python3
"""Try annc's modem path without a modem.

Opens a pseudo-terminal pair, starts annc with the slave side inherited as its
serial line (/H:<descriptor>), and passes each line you type on to the line
as the modem would, ended with CR. Type RING (or OK, BUSY, NO CARRIER...) and
Enter to end the call with exit code 99; type :key to press a key instead
(exit code 0); end of input (Ctrl-D) does the same.

    tools/modem_sim.py [path/to/annc] [number] [more annc arguments...]
"""
import os
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
    print("modem> type a result code and Enter (e.g. RING), or :key to press a key", file=sys.stderr)
    try:
        for line in sys.stdin:
            if proc.poll() is not None:
                break
            line = line.rstrip("\r\n")
            if line == ":key":
                os.write(keys_w, b"k")
            else:
                os.write(master, line.encode() + b"\r")
        else:
            if proc.poll() is None:
                os.write(keys_w, b"k")
    except KeyboardInterrupt:
        proc.terminate()
    code = proc.wait()
    print("\nannc ended with exit code %d" % code, file=sys.stderr)
    return code


if __name__ == "__main__":
    sys.exit(main())
