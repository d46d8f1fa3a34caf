"""Checks of the emulated modem itself (tests/modem_emulator.py), talked to
over its link as annc-line talks to it: the link that follows the modem
in and out, the hook commands and the rings they stop, and the times it
records.  The tests of annc-line rely on each of these."""

import os
import select
import termios
import time
import tty
import tempfile
import unittest

from harness import wait_until
from modem_emulator import ModemEmulator, north_american_block


class Port:
    """annc-line's side: the link opened as a serial port."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd, termios.TCSANOW)
        self.seen = b""

    def rang(self, seconds=0.25):
        """Whether a RING arrives within `seconds`."""
        deadline = time.monotonic() + seconds
        got = b""
        while b"RING" not in got:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.fd], [], [], left)[0]:
                return False
            got += os.read(self.fd, 4096)
        return True

    def command(self, text, final=(b"OK", b"ERROR", b"NO CARRIER")):
        """Sends a command; returns the result code lines up to the final
        one."""
        os.write(self.fd, text.encode() + b"\r")
        got = [b""]

        def answered():
            if select.select([self.fd], [], [], 0.05)[0]:
                got[0] += os.read(self.fd, 4096)
            lines = [l.strip() for l in got[0].split(b"\r\n") if l.strip()]
            return lines if any(l in final for l in lines) else None
        return wait_until(answered, 5, "the result of %r" % text,
                          describe=lambda: "got %r" % got[0], interval=0)

    def close(self):
        os.close(self.fd)


class EmulatorTest(unittest.TestCase):

    def emulator(self):
        folder = tempfile.TemporaryDirectory(prefix="annc-modem-")
        self.addCleanup(folder.cleanup)
        emu = ModemEmulator(folder.name).start()
        self.addCleanup(emu.close)
        return emu

    def port(self, emu):
        port = Port(emu.link)
        self.addCleanup(port.close)
        self.assertEqual(port.command("ATE0"), [b"ATE0", b"OK"])
        return port

    def test_link_follows_the_modem_in_and_out(self):
        emu = self.emulator()
        first = emu.slave_path
        self.assertEqual(os.path.realpath(emu.link), first)
        emu.unplug()
        # Gone with the modem: the freed terminal is not reachable by name.
        self.assertFalse(os.path.lexists(emu.link))
        with self.assertRaises(FileNotFoundError):
            os.open(emu.link, os.O_RDWR | os.O_NOCTTY)
        emu.plug()
        self.assertEqual(os.path.realpath(emu.link), emu.slave_path)
        port = self.port(emu)
        self.assertEqual(port.command("AT"), [b"OK"])
        emu.close()
        self.assertFalse(os.path.lexists(emu.link))

    # (commands, their result codes, off hook after, rings of the call go
    # on after, rings of the next call)
    HOOK_CASES = [
        (["ATH1"], [[b"OK"]], True, False, False),      # the line is busy
        (["ATH1", "ATH0"], [[b"OK"], [b"OK"]], False, False, True),
        (["ATA"], [[b"NO CARRIER"]], False, False, True),
        (["ATH"], [[b"OK"]], False, True, True),        # on hook: rings on
        (["ATH1", "ATZ"], [[b"OK"], [b"OK"]], False, False, True),
        (["AT"], [[b"OK"]], False, True, True),
    ]

    def test_hook_commands_and_the_rings_they_stop(self):
        for commands, results, off, rings_on, next_rings in self.HOOK_CASES:
            with self.subTest(commands=commands):
                emu = self.emulator()
                port = self.port(emu)
                emu.play([(0, "RING")])
                self.assertTrue(port.rang())
                for command, result in zip(commands, results):
                    self.assertEqual(port.command(command), result)
                self.assertEqual(emu.off_hook, off)
                self.assertEqual(emu.call_over(), not rings_on)
                rings = len(emu.ring_times())
                self.assertEqual(emu.ring(), rings_on)
                self.assertEqual(port.rang(), rings_on)
                self.assertEqual(len(emu.ring_times()), rings + rings_on)
                emu.play(north_american_block("5551234", pause=0))
                self.assertEqual(port.rang(), next_rings)

    def test_ring_until_stops_when_the_call_is_taken_off(self):
        emu = self.emulator()
        port = self.port(emu)
        emu.play([(0, "RING")])

        def take_off_at_the_third_ring():
            if len(emu.ring_times()) == 3 and not emu.off_hook:
                port.command("ATH1")
            return False
        started = time.monotonic()
        emu.ring_until(take_off_at_the_third_ring, gap=0.05, limit=10)
        self.assertLess(time.monotonic() - started, 5)
        self.assertEqual(len(emu.ring_times()), 3)
        self.assertTrue(emu.call_over())

    def test_commands_are_timed_as_they_come(self):
        emu = self.emulator()
        port = self.port(emu)
        before = time.monotonic()
        port.command("ATH1")
        time.sleep(0.2)
        middle = time.monotonic()
        port.command("ATH0")
        after = time.monotonic()
        timed = emu.timed_commands()
        self.assertEqual([c for _, c in timed], ["ATE0", "ATH1", "ATH0"])
        self.assertEqual(emu.commands_seen(), ["ATE0", "ATH1", "ATH0"])
        self.assertTrue(before <= timed[1][0] <= middle <= timed[2][0]
                        <= after, (before, timed, middle, after))
        self.assertEqual(emu.wait_command("ath0"), timed[2][0])
        emu.clear_commands()
        self.assertEqual(emu.timed_commands(), [])


if __name__ == "__main__":
    unittest.main()
