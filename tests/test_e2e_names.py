"""End-to-end tests of annc's name recording, /N:FILE, with annc alone: the
recording is heard once per cycle between the opening separator and the
number, and a recording that cannot be played leaves the cycle as it is
without the switch, without a beep."""

import os
import unittest

from harness import (
    CALLER_NAME, SEPARATOR, AnncTestCase, run_cycles, write_word_wav)


class NameRecordingTest(AnncTestCase):

    def sandbox_with_name(self):
        """A sandbox holding Numvoice/names/5551234.wav, a recording of the
        caller's name; returns it and the recording's path."""
        sb = self.sandbox()
        folder = os.path.join(sb.sound_dir, "names")
        os.mkdir(folder)
        path = os.path.join(folder, "5551234.wav")
        sb.word_samples[CALLER_NAME] = write_word_wav(path, CALLER_NAME)
        return sb, path

    def test_name_heard_once_per_cycle_between_chime_and_number(self):
        sb, path = self.sandbox_with_name()
        # Any letter case, either switch character, anywhere on the line.
        for args in (["5551234", "/N:" + path],
                     ["5551234", "-n:" + path, "/N:" + path + ".other"],
                     # a relative path is taken from the current folder
                     ["5551234", "-N:../Numvoice/names/5551234.wav"]):
            with self.subTest(args=args):
                for f in os.listdir(sb.capture_dir):
                    os.remove(os.path.join(sb.capture_dir, f))
                r = run_cycles(sb, args, cycles=2)
                self.assertExit(r, 0)
                self.assertCycles(r, "5551234", 2, name=[CALLER_NAME])
                self.assertEqual(r.words.count(CALLER_NAME), 2, r.describe())
                at = r.words.index(CALLER_NAME)
                self.assertEqual(r.words[at - 1:at + 2],
                                 [SEPARATOR, CALLER_NAME, "500"])
                self.assertEqual(r.beeps, 0, r.describe())

    def test_name_that_cannot_be_played_gives_the_cycle_without_it(self):
        sb, path = self.sandbox_with_name()
        broken = os.path.join(sb.root, "broken.wav")
        with open(broken, "wb") as f:
            f.write(b"RIFF\x00\x00\x00\x00WAVEnot a recording")
        cases = {
            "missing": os.path.join(sb.sound_dir, "names", "5559999.wav"),
            "not decodable": broken,
            "a folder": os.path.join(sb.sound_dir, "names"),
            "empty": "",
        }
        for what, recording in cases.items():
            with self.subTest(what=what):
                for f in os.listdir(sb.capture_dir):
                    os.remove(os.path.join(sb.capture_dir, f))
                r = run_cycles(sb, ["5551234", "/N:" + recording], cycles=2)
                self.assertExit(r, 0)
                self.assertCycles(r, "5551234", 2)
                self.assertNotIn(CALLER_NAME, r.words)
                self.assertEqual(r.beeps, 0, r.describe())
                self.assertEqual(r.stderr, b"", r.describe())


if __name__ == "__main__":
    unittest.main()
