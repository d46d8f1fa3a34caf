"""Tests of tools/make_voice.sh, the script that makes a sound folder with
espeak-ng and sox, and of annc speaking with the folder it makes."""

import os
import shutil
import subprocess
import tempfile
import unittest

from harness import (
    NUMBER_WORDS, REPO_ROOT, AnncTestCase, WavFile, candidate_cycles,
    file_name, run_cycles, STANDARD_WORDS)

SCRIPT = os.path.join(REPO_ROOT, "tools", "make_voice.sh")
HAVE_TOOLS = bool(shutil.which("espeak-ng") and shutil.which("sox"))


def wav_info(path):
    w = WavFile(path)
    return w.channels, w.width, w.rate, w.samples


@unittest.skipUnless(HAVE_TOOLS, "espeak-ng and sox are needed")
class MakeVoiceTest(AnncTestCase):

    @classmethod
    def setUpClass(cls):
        # One English folder, made once, serves every check of this class.
        cls._tmp = tempfile.TemporaryDirectory(prefix="annc-voice-")
        cls.folder = os.path.join(cls._tmp.name, "Numvoice")
        cls.made = subprocess.run([SCRIPT, cls.folder], capture_output=True,
                                  timeout=300)

    @classmethod
    def tearDownClass(cls):
        cls._tmp.cleanup()

    def make(self, *args):
        return subprocess.run([SCRIPT] + list(args), capture_output=True,
                              timeout=300)

    def test_every_recording_made(self):
        self.assertEqual(self.made.returncode, 0, self.made.stderr)
        # English builds 45 as "forty" "five": no warning.
        self.assertEqual(self.made.stderr, b"")
        names = sorted(os.listdir(self.folder))
        self.assertEqual(names, sorted([file_name(w) for w in STANDARD_WORDS]
                                       + ["aon.db"]))

    def test_recording_format_and_trimming(self):
        for word in STANDARD_WORDS:
            with self.subTest(word=word):
                channels, width, rate, samples = wav_info(
                    os.path.join(self.folder, file_name(word)))
                self.assertEqual((channels, width, rate), (1, 2, 22050))
                seconds = len(samples) / rate
                peak = max(abs(s) for s in samples)
                self.assertGreater(peak, 3000, "silent recording")
                loud = [i for i, s in enumerate(samples)
                        if abs(s) > peak * 0.05]
                if word == "InterDigit":
                    self.assertAlmostEqual(seconds, 0.3, delta=0.05)
                else:
                    self.assertTrue(0.1 < seconds < 2.5, seconds)
                # Trimmed: sound starts and ends within 60 ms of the edges.
                self.assertLess(loud[0] / rate, 0.06)
                self.assertLess((len(samples) - 1 - loud[-1]) / rate, 0.06)

    def test_words_differ(self):
        # Each number word is a recording of its own.
        seen = {}
        for word in NUMBER_WORDS:
            with open(os.path.join(self.folder, word + ".wav"), "rb") as f:
                data = f.read()
            self.assertNotIn(data, seen, "%s same as %s"
                             % (word, seen.get(data)))
            seen[data] = word

    def test_example_phone_book_made_once(self):
        path = os.path.join(self.folder, "aon.db")
        with open(path, "rb") as f:
            book = f.read()
        self.assertRegex(book, rb"\A(\d+=[^\r\n=]+\r\n)+\Z")
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "v")
            os.mkdir(out)
            with open(os.path.join(out, "aon.db"), "wb") as f:
                f.write(b"123=Mine\n")
            r = self.make(out, "de")
            self.assertEqual(r.returncode, 0, r.stderr)
            # German says five-and-forty: one warning line, and the folder
            # made all the same.
            warnings = r.stderr.decode().splitlines()
            self.assertEqual(len(warnings), 1, r.stderr)
            self.assertIn('warning: voice "de"', warnings[0])
            self.assertIn("fünfundvierzig", warnings[0])
            with open(os.path.join(out, "aon.db"), "rb") as f:
                self.assertEqual(f.read(), b"123=Mine\n")
            self.assertTrue(os.path.isfile(os.path.join(out, "900.wav")))
            # Another language speaks other words.
            with open(os.path.join(out, "7.wav"), "rb") as f, \
                    open(os.path.join(self.folder, "7.wav"), "rb") as g:
                self.assertNotEqual(f.read(), g.read())

    def test_bad_use_fails(self):
        with tempfile.TemporaryDirectory() as tmp:
            for args in ([], [os.path.join(tmp, "x"), "zz"],
                         ["a", "b", "c"]):
                with self.subTest(args=args):
                    r = self.make(*args)
                    self.assertNotEqual(r.returncode, 0)
                    self.assertNotEqual(r.stderr, b"")
            self.assertFalse(os.path.exists(os.path.join(tmp, "x", "0.wav")))

    def test_names_of_a_phone_book(self):
        with tempfile.TemporaryDirectory() as tmp:
            book = os.path.join(tmp, "aon.db")
            with open(book, "wb") as f:
                f.write(b"\xef\xbb\xbf5551234=Ann Lee\r\n5559876=Bob\r\n"
                        b"+4420=Intl\r\nno equals sign\r\n5550000=\r\n"
                        b"5550001=[[h@'l'oU]]\r\n")
            out = os.path.join(tmp, "Numvoice")
            names = os.path.join(out, "names")
            os.makedirs(names)
            own = os.path.join(names, "5559876.wav")
            with open(own, "wb") as f:
                f.write(b"my own recording")
            r = self.make("--names", book, out)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(sorted(os.listdir(names)),
                             ["5550001.wav", "5551234.wav", "5559876.wav"])
            with open(own, "rb") as f:
                self.assertEqual(f.read(), b"my own recording")   # kept
            channels, width, rate, samples = wav_info(
                os.path.join(names, "5551234.wav"))
            self.assertEqual((channels, width, rate), (1, 2, 22050))
            self.assertGreater(len(samples), 2205)      # more than 0.1 s
            # Only the names: no words.
            self.assertFalse(os.path.exists(os.path.join(out, "0.wav")))
            r = self.make("--names", os.path.join(tmp, "missing"), out)
            self.assertEqual(r.returncode, 1)
            self.assertIn(b"cannot read the phone book", r.stderr)

    def test_annc_plays_the_folder(self):
        # annc plays each recording whole: the captured stream is exactly
        # as long as the recordings of one cycle together.
        sb = self.sandbox()
        shutil.rmtree(sb.sound_dir)
        shutil.copytree(self.folder, sb.sound_dir)
        r = run_cycles(sb, ["5551234"])
        self.assertExit(r, 0)
        self.assertEqual(r.beeps, 0, r.describe())
        captured = len(sb.captured_raw()) // 2
        lengths = {}
        for word in STANDARD_WORDS:
            lengths[word] = len(wav_info(
                os.path.join(sb.sound_dir, file_name(word)))[3])
        totals = [sum(lengths[w] for w in cycle) for cycle in
                  candidate_cycles("5551234", r.t_start, r.t_end)]
        self.assertIn(captured, totals)


if __name__ == "__main__":
    unittest.main()
