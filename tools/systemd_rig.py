#!/usr/bin/env python3
"""What tools/test_systemd.sh needs inside its container, in one process.

    systemd_rig.py FOLDER TESTS

FOLDER is shared with the host (bound into the container); TESTS is the
repository's tests/ folder (for the modem emulator, the NCID server and the
FRITZ!Box). The rig keeps:

- a pseudo-terminal standing in for a virtual console: /run/annc-console
  leads to its slave, and everything written there is appended to
  FOLDER/console.log;
- a caller-ID modem emulator behind /dev/cidmodem, its port owned by the
  user annc. A real port drops its exclusive-use flag (TIOCEXCL) at its
  last close; the emulator holds its side open, so the rig clears the flag
  once no other process holds the port (an annc-line that was killed);
- an NCID server and a FRITZ!Box call monitor on 127.0.0.1, their ports in
  FOLDER/ports ("ncid PORT", "fritz PORT", "ncid2 PORT").

It takes commands, one a line, from the FIFO FOLDER/cmd, and appends
"done N" (N counting the commands) or "failed N: why" to FOLDER/rig.log:

    modem-call NUMBER NAME   a North American caller-ID block, rung until
                             the calls log holds NUMBER (20 s at most)
    ncid-call SERVER NUMBER NAME
                             a CID line from server ncid or ncid2, and its
                             end (CIDHUP) 3 s later
    fritz-call NUMBER        a RING, then DISCONNECT 3 s later
    key                      a key pressed on the console
    stop                     the rig ends

Every loop is bounded: the rig ends by itself after its lifetime (15 min).
"""

import fcntl
import os
import pwd
import select
import sys
import termios
import threading
import time

LIFETIME = 15 * 60
CONSOLE_LINK = "/run/annc-console"
CALLS_LOG = "/var/log/annc/calls.log"


def main():
    folder, tests = sys.argv[1], sys.argv[2]
    sys.path.insert(0, tests)
    from modem_emulator import ModemEmulator, north_american_block
    from ncid_server import NcidServer, cid_line
    from fritz_box import FritzBox, ring_line, disconnect_line

    log = open(os.path.join(folder, "rig.log"), "a", buffering=1)
    end = time.monotonic() + LIFETIME

    # The console.
    master, slave = os.openpty()
    slave_path = os.ttyname(slave)
    os.chmod(slave_path, 0o666)
    if os.path.lexists(CONSOLE_LINK):
        os.unlink(CONSOLE_LINK)
    os.symlink(slave_path, CONSOLE_LINK)
    shown = open(os.path.join(folder, "console.log"), "ab", buffering=0)

    def copy_console():
        while time.monotonic() < end:
            ready, _, _ = select.select([master], [], [], 0.2)
            if ready:
                try:
                    shown.write(os.read(master, 4096))
                except OSError:
                    time.sleep(0.2)
    threading.Thread(target=copy_console, daemon=True).start()

    # The modem, its port the user annc's.
    annc = pwd.getpwnam("annc")
    modem = ModemEmulator("/dev", link_name="cidmodem").start()
    os.chown(modem.slave_path, annc.pw_uid, -1)

    def held_elsewhere(path):
        me = str(os.getpid())
        for pid in os.listdir("/proc"):
            if not pid.isdigit() or pid == me:
                continue
            try:
                fds = os.listdir("/proc/%s/fd" % pid)
            except OSError:
                continue
            for fd in fds:
                try:
                    if os.readlink("/proc/%s/fd/%s" % (pid, fd)) == path:
                        return True
                except OSError:
                    pass
        return False

    def clear_exclusive():
        # As a real port at its last close: TIOCNXCL once nobody holds it.
        while time.monotonic() < end:
            time.sleep(0.3)
            if modem.slave_path and not held_elsewhere(modem.slave_path):
                try:
                    fcntl.ioctl(modem._slave, termios.TIOCNXCL)
                except (OSError, TypeError):
                    pass
    threading.Thread(target=clear_exclusive, daemon=True).start()

    servers = {"ncid": NcidServer(lifetime=LIFETIME).start(),
               "ncid2": NcidServer(lifetime=LIFETIME).start()}
    fritz = FritzBox(lifetime=LIFETIME).start()
    with open(os.path.join(folder, "ports.new"), "w") as ports:
        for name, server in servers.items():
            ports.write("%s %d\n" % (name, server.port))
        ports.write("fritz %d\n" % fritz.port)
    os.replace(os.path.join(folder, "ports.new"), os.path.join(folder, "ports"))

    def logged(number):
        try:
            with open(CALLS_LOG, "rb") as f:
                return number.encode() in f.read()
        except OSError:
            return False

    def later(seconds, what):
        timer = threading.Timer(seconds, what)
        timer.daemon = True
        timer.start()

    def run(words):
        if words[0] == "modem-call":
            number, name = words[1], " ".join(words[2:])
            modem.play(north_american_block(number, name))
            modem.ring_until(lambda: logged(number), gap=0.5, limit=20)
            if not logged(number):
                raise RuntimeError("the call of %s was never logged" % number)
        elif words[0] == "ncid-call":
            server, number, name = servers[words[1]], words[2], " ".join(words[3:])
            server.send_line(cid_line(number, name))
            later(3, lambda: server.send_line(
                "CIDINFO: *LINE*POTS*RING*-1*TIME*15:30:20*"))
        elif words[0] == "fritz-call":
            fritz.send_line(ring_line(7, words[1]))
            later(3, lambda: fritz.send_line(disconnect_line(7)))
        elif words[0] == "key":
            os.write(master, b"k")
        else:
            raise RuntimeError("unknown command %r" % words[0])

    cmd = os.path.join(folder, "cmd")
    count = 0
    log.write("ready\n")
    while time.monotonic() < end:
        # Opening a FIFO waits for a writer: never past the lifetime.
        fd = os.open(cmd, os.O_RDONLY | os.O_NONBLOCK)
        pending = b""
        while time.monotonic() < end:
            ready, _, _ = select.select([fd], [], [], 0.5)
            if not ready:
                continue
            chunk = os.read(fd, 4096)
            if not chunk:
                break
            pending += chunk
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                words = line.decode().split()
                if not words:
                    continue
                count += 1
                if words[0] == "stop":
                    log.write("done %d\n" % count)
                    return 0
                try:
                    run(words)
                    log.write("done %d\n" % count)
                except Exception as e:  # said to the script, which fails
                    log.write("failed %d: %s\n" % (count, e))
        os.close(fd)
    return 0


if __name__ == "__main__":
    sys.exit(main())
