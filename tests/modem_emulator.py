"""A caller-ID modem on a pseudo-terminal, for annc-line's tests and for
tools/play_call.py.

The emulator holds the master side of a pseudo-terminal; the slave side is
the "serial port".  Its path is published through a symbolic link, as udev
publishes /dev/serial/by-id/..., and the link is what annc-line is given.
Unplugging closes the master (the slave hangs up and its node disappears)
and removes the link, as udev removes the device's names: the freed
pseudo-terminal may soon belong to another program, and nothing may lead
annc-line there.  Plugging in again makes a new pair and a new link under
the same name.

Profiles say how the modem answers AT commands:

    vcid    accepts AT+VCID=1 (Conexant, Rockwell, Lucent...)
    cid     refuses AT+VCID=1, accepts AT#CID=1 (USR, PCTel...)
    none    refuses every caller-ID command
    echo    echoes every command before its answer (even after ATE0),
            accepts AT+VCID=1
    hex     takes caller ID only in unformatted mode (AT+VCID=2), where the
            caller-ID block is one line of hexadecimal digits (packet_block)
    silent  answers nothing at all

Every command received is recorded with the time.monotonic() it came at:
commands_seen() gives the commands, timed_commands() (time, command) pairs.
unanswered_once(command) makes the modem leave the next coming of a
command without any answer, as a modem that missed it.

The line's hook, as every profile but "silent" handles it:

    ATH1        off hook (OK): the call that is ringing is taken off the
                line, and its rings stop
    ATH0, ATH   on hook (OK); the call taken off stays over
    ATA         answer: off hook, the rings stop; no modem answers at the
                other end, so NO CARRIER follows at once and the modem is
                back on hook
    ATZ         a reset: on hook as well

Calls are played as lines framed the way modems frame them: CR LF before
and after.  play() starts a new call; while that call is over (taken off
the line) or the modem is off hook (the line is busy), its RING lines are
not sent.  ring_times() says when each RING went out.
"""

import errno
import os
import select
import termios
import threading
import time
import tty

from harness import wait_until

PROFILES = ("vcid", "cid", "none", "echo", "hex", "silent")

_CID_COMMANDS = ("AT+VCID=1", "AT#CID=1", "AT%CCID=1",
                 "AT+VCID=2", "AT#CID=2", "AT%CCID=2")
_ACCEPTED_CID = {"vcid": ("AT+VCID=1",), "echo": ("AT+VCID=1",),
                 "cid": ("AT#CID=1",), "hex": ("AT+VCID=2",), "none": (),
                 "silent": ()}

# A multiple-message packet as a modem in unformatted mode sends it: number
# 4075550000, name JOHN DOE, 05-11 18:52.
MDMF_PACKET = ("802001083035313131383532020A34303735353530303030"
               "07084A4F484E20444F4584")

IDENTITY = "EMULATED CALLER-ID MODEM 1.0"
COUNTRY = "+GCI: B5"


class ModemEmulator:
    def __init__(self, folder, profile="vcid", link_name="modem"):
        if profile not in PROFILES:
            raise ValueError("unknown profile %r" % profile)
        self.profile = profile
        self.link = os.path.join(folder, link_name)
        self._commands = []          # (time.monotonic(), command)
        self._rings = []             # time.monotonic() of each RING sent
        self._off_hook = False
        self._call_over = False      # the call playing was taken off
        self._unanswered = []        # commands to leave once without answer
        self._lock = threading.Lock()
        self._master = self._slave = None
        self.slave_path = None
        self._thread = None
        self._stop = threading.Event()

    # The port.

    def start(self):
        self.plug()
        return self

    def plug(self):
        """A new pseudo-terminal behind the link, as when udev brings a
        modem back under the same stable name."""
        master, slave = os.openpty()
        # A serial port echoes nothing: set the line raw before anyone
        # opens it, so lines sent early never come back as "commands".
        tty.setraw(slave, termios.TCSANOW)
        path = os.ttyname(slave)
        with self._lock:
            self._master, self._slave, self.slave_path = master, slave, path
            self._off_hook = False
        # The link appears only once the modem answers behind it.
        temp = self.link + ".new"
        if os.path.lexists(temp):
            os.unlink(temp)
        os.symlink(path, temp)
        os.replace(temp, self.link)
        self._stop.clear()
        self._thread = threading.Thread(target=self._answer, args=(master,),
                                        daemon=True)
        self._thread.start()

    def unplug(self):
        """Removes the link and closes the modem's side: annc-line sees a
        hang-up, and the name leads nowhere until the modem is back."""
        if os.path.lexists(self.link):
            os.unlink(self.link)
        self._stop.set()
        if self._thread is not None:
            self._thread.join(5)
            self._thread = None
        with self._lock:
            for fd in (self._master, self._slave):
                if fd is not None:
                    os.close(fd)
            self._master = self._slave = None
            self._call_over = True       # the call goes with the modem

    def close(self):
        self.unplug()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.close()

    # What annc-line said.

    def commands_seen(self):
        """The commands received so far, in order."""
        with self._lock:
            return [command for _, command in self._commands]

    def timed_commands(self):
        """(time.monotonic(), command) of each command received so far."""
        with self._lock:
            return list(self._commands)

    def unanswered_once(self, command):
        """The next `command` to come gets no answer and changes nothing."""
        with self._lock:
            self._unanswered.append(command.upper())

    def clear_commands(self):
        with self._lock:
            self._commands.clear()

    def wait_commands(self, count, timeout=10.0):
        wait_until(lambda: len(self.commands_seen()) >= count, timeout,
                   "%d commands" % count,
                   describe=lambda: "modem got %r" % self.commands_seen())
        return self.commands_seen()

    def wait_command(self, command, timeout=10.0):
        """Until `command` has come; returns the time.monotonic() of its
        first coming."""
        def came():
            return next((t for t, c in self.timed_commands()
                         if c.upper() == command.upper()), None)
        return wait_until(came, timeout, "the command %r" % command,
                          describe=lambda: "modem got %r"
                          % self.commands_seen())

    @property
    def off_hook(self):
        with self._lock:
            return self._off_hook

    def ring_times(self):
        """time.monotonic() of each RING sent so far."""
        with self._lock:
            return list(self._rings)

    # Calls.

    def send(self, data):
        with self._lock:
            if self._master is None:
                return
            os.write(self._master, data)

    def send_line(self, line):
        """One line as the modem frames it, whatever the state of the
        call."""
        if isinstance(line, str):
            line = line.encode("latin-1")
        self.send(b"\r\n" + line + b"\r\n")

    def ring(self):
        """A RING of the call playing; none once that call is over or
        while the modem is off hook.  Returns whether it was sent."""
        with self._lock:
            if self._call_over or self._off_hook or self._master is None:
                return False
            os.write(self._master, b"\r\nRING\r\n")
            self._rings.append(time.monotonic())
            return True

    def play(self, script):
        """Plays (pause in seconds, line) pairs as a new call; returns when
        the last line has been sent, with the time it was sent
        (time.monotonic).  On a line off hook the call cannot come in
        (busy): nothing is sent."""
        with self._lock:
            self._call_over = self._off_hook
        sent = time.monotonic()
        for pause, line in script:
            if pause:
                time.sleep(pause)
            if line == "RING":
                self.ring()
            elif not self.off_hook:
                self.send_line(line)
            sent = time.monotonic()
        return sent

    def ring_until(self, done, gap=0.4, limit=30.0):
        """Rings every `gap` seconds until done() holds (asked before each
        ring), the call is over or `limit` seconds have passed; returns the
        time of the last ring (of the start, when none was sent)."""
        last = time.monotonic()
        deadline = last + limit
        while not done() and time.monotonic() < deadline:
            time.sleep(gap)
            if self.ring():
                last = time.monotonic()
            elif self.call_over():
                break
        return last

    def call_over(self):
        """Whether the call playing has been taken off the line (ATH1,
        ATA) or ended with an unplug."""
        with self._lock:
            return self._call_over

    # The modem's side of the AT dialogue.

    def _answer(self, master):
        pending = b""
        echo = True                  # a modem starts with echo on
        while not self._stop.is_set():
            try:
                ready, _, _ = select.select([master], [], [], 0.05)
            except (OSError, ValueError):
                return
            if not ready:
                continue
            try:
                chunk = os.read(master, 4096)
            except OSError as e:
                if e.errno == errno.EIO:     # no slave open at the moment
                    time.sleep(0.05)
                    continue
                return
            if not chunk:
                return
            pending += chunk
            while b"\r" in pending:
                raw, pending = pending.split(b"\r", 1)
                command = raw.replace(b"\n", b"").strip().decode("latin-1")
                if command:
                    echo = self._reply(command, echo)
            pending = pending[-1024:]

    def _hook(self, off):
        with self._lock:
            self._off_hook = off
            if off:
                self._call_over = True

    def _reply(self, command, echo):
        with self._lock:
            self._commands.append((time.monotonic(), command))
            missed = command.upper() in self._unanswered
            if missed:
                self._unanswered.remove(command.upper())
        if self.profile == "silent" or missed:
            return echo
        upper = command.upper()
        if echo or self.profile == "echo":
            self.send(command.encode("latin-1") + b"\r")
        lines = []
        ok = True
        if upper == "ATZ":
            echo = True
            self._hook(False)
        elif upper == "ATH1":
            self._hook(True)
        elif upper in ("ATH0", "ATH"):
            self._hook(False)
        elif upper == "ATA":
            # Nobody's modem answers a voice caller: no carrier, on hook.
            self._hook(True)
            self._hook(False)
            self.send(b"\r\nNO CARRIER\r\n")
            return echo
        elif upper.startswith("ATE0"):
            echo = False
        elif upper in _CID_COMMANDS:
            ok = upper in _ACCEPTED_CID[self.profile]
        elif upper == "ATI":
            lines = [IDENTITY]
        elif upper == "AT+GCI?":
            lines = [COUNTRY]
        elif "BAD" in upper or not upper.startswith("AT"):
            ok = False
        out = b"".join(b"\r\n" + l.encode() + b"\r\n" for l in lines)
        self.send(out + (b"\r\nOK\r\n" if ok else b"\r\nERROR\r\n"))
        return echo


# Scripted calls: lists of (pause in seconds, line).

def north_american_block(number, name=None, pause=0.15):
    """The first ring, then the caller-ID block as a North American line
    sends it between the first and the second ring."""
    script = [(0, "RING"), (pause, "DATE = 1124"), (0.01, "TIME = 1806")]
    if name is not None:
        script.append((0.01, "NAME = " + name))
    script.append((0.01, "DDN_NMBR= " + number))
    return script


def packet_block(packet=MDMF_PACKET, pause=0.15):
    """The first ring, then the caller-ID packet in hexadecimal."""
    return [(0, "RING"), (pause, packet)]


def uk_block(number, pause=0.0):
    """A UK or French caller-ID block: before the first ring."""
    return [(pause, "DATE = 0124"), (0.01, "TIME = 1534"),
            (0.01, "NMBR = " + number)]
