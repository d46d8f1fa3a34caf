"""The test case class the end-to-end test files share."""

import itertools
import unittest

from .logs import log_lines
from .ptys import SerialLine
from .rules import candidate_cycles
from .sandbox import Sandbox


class AnncTestCase(unittest.TestCase):
    maxDiff = None

    def sandbox(self, **kw):
        sb = Sandbox(**kw)
        self.addCleanup(sb.cleanup)
        return sb

    def serial(self):
        line = SerialLine()
        self.addCleanup(line.close)
        return line

    def assertExit(self, result, code):
        self.assertFalse(result.timed_out, "annc did not end in time:\n"
                         + result.describe())
        self.assertEqual(result.returncode, code, result.describe())

    def assertNothingPlayed(self, result):
        self.assertEqual(result.words, [], result.describe())
        self.assertEqual(result.beeps, 0, result.describe())

    def assertCycles(self, result, number, count=1, device_ok=True,
                     name=()):
        """The run spoke exactly `count` whole cycles for number, at a time
        between its start and its end, each with the words `name` after
        its opening separator.  Words whose recordings are missing must
        have beeped instead (one BEL each); with device_ok False every
        word must have beeped and nothing may have been played."""
        present = result.sandbox.word_samples if device_ok else {}
        options = candidate_cycles(number, result.t_start, result.t_end,
                                   result.tz_offset, name)
        tried = []
        for combo in itertools.product(options, repeat=count):
            full = [w for cycle in combo for w in cycle]
            played = [w for w in full if w in present]
            if played == result.words and \
                    result.beeps == len(full) - len(played):
                return
            tried.append((played, len(full) - len(played)))
        self.fail("%d cycle(s) of %r expected; (played words, beeps) "
                  "possible: %r\n%s" % (count, number, tried,
                                        result.describe()))

    def assertOneCallLogged(self, log, message):
        """The log is one call line (prefix " ") with this message."""
        lines = log_lines(log)
        self.assertEqual(len(lines), 1, (log or b"")[:200])
        self.assertIsNotNone(lines[0], log[:200])
        self.assertEqual(lines[0]["prefix"], b" ")
        # Compared by length first, so that a failure does not print MBs.
        self.assertEqual(len(lines[0]["message"]), len(message))
        self.assertTrue(lines[0]["message"] == message,
                        "logged message differs")
