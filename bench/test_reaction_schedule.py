#!/usr/bin/env python3
"""The schedule model of reaction_real_voice.py: where the serial line is
read in a cycle, the longest wait between two reads, and the joining of the
sink's stretches of sound.

    python3 -m unittest discover -s bench -p 'test_*.py'
"""

import os
import tempfile
import unittest

import reaction_real_voice as rv
from harness import STANDARD_WORDS

ONE_SECOND_WORDS = {w: 1.0 for w in STANDARD_WORDS}


class CycleStretches(unittest.TestCase):
    def test_stretches_and_reads(self):
        # (number, hour, minute, serial line open) -> [(label, word count, read after)]
        table = [
            ("5551234", 7, 47, True,
             [("hour 07", 2, True), ("minute 47", 2, True), ("chime", 1, False),
              ("group 555", 3, True), ("group 12", 1, True), ("group 34", 2, True),
              ("chime", 1, False)]),
            # No read after an exact hundred.
            ("50012", 10, 0, True,
             [("hour 10", 1, True), ("minute 00", 2, True), ("chime", 1, False),
              ("group 500", 1, False), ("group 12", 1, True), ("chime", 1, False)]),
            # Without a line nothing parts the time from the opening chime.
            ("5551234", 7, 47, False,
             [("hour 07 + minute 47 + chime", 5, False), ("group 555", 3, False),
              ("group 12", 1, False), ("group 34", 2, False), ("chime", 1, False)]),
        ]
        for number, hour, minute, drains, want in table:
            with self.subTest(number=number, drains=drains):
                got = [(label, len(words), read) for label, words, read, _ in
                       rv.cycle_stretches(number, hour, minute, drains)]
                self.assertEqual(got, want)

    def test_cycle_length(self):
        # 12 words, 1450 ms of pauses, five reads of 100 ms each.
        stretches = rv.cycle_stretches("5551234", 7, 47)
        self.assertAlmostEqual(rv.cycle_seconds(stretches, ONE_SECOND_WORDS), 12 + 1.45 + 0.5)


class ReadGaps(unittest.TestCase):
    def test_gaps_between_reads(self):
        # With every word 1 s: (number, hour, minute, next hour) -> seconds between reads
        table = [
            ("5551234", 7, 47, 7, [2.0, 1 + 0.25 + 3, 0.25 + 1, 0.25 + 2, 0.25 + 1 + 0.45 + 2]),
            # The read skipped after 500 joins two groups into one wait.
            ("50012", 10, 0, 11, [2.0, 1 + 0.25 + 1 + 0.25 + 1, 0.25 + 1 + 0.45 + 1]),
        ]
        for number, hour, minute, next_hour, want in table:
            with self.subTest(number=number):
                got = [g for g, _ in rv.read_gaps(number, hour, minute, next_hour,
                                                  ONE_SECOND_WORDS)]
                self.assertEqual(len(got), len(want))
                for g, w in zip(got, want):
                    self.assertAlmostEqual(g, w)

    def test_worst_case_takes_the_longest_hour(self):
        lengths = dict(ONE_SECOND_WORDS, **{"0": 3.0})
        # Hours 00 to 09 say "0" first; 00 says it twice: 6 s + 1 s chime
        # + 250 + 450 ms after the last group's read.
        bound, path = rv.worst_case("12", lengths)
        self.assertAlmostEqual(bound, 0.25 + 1 + 0.45 + 6)
        self.assertIn("hour 00", path)


class SinkLog(unittest.TestCase):
    def test_short_breaks_are_joined(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "sink.log")
            with open(path, "w") as f:
                f.write("ready 1 4096\n"
                        "sound 10.000 10.500\nsound 10.505 11.000\n"   # dry for 5 ms
                        "sound 11.100 11.400\n"                         # a read's pause
                        "end 11.401 999\n")
            self.assertEqual(rv.read_sink_log(path), [(10.0, 11.0), (11.1, 11.4)])


if __name__ == "__main__":
    unittest.main()
