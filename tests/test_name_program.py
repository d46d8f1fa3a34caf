"""annc-name on its own: the program annc-line runs to speak a caller's
name.  It writes a WAV that reads back whole, refuses a voice it does not
have and wrong arguments with one line and its exit code, leaves nothing
behind when it cannot write, and takes hostile text without crashing.

    ANNC_NAME_BINARY=build/annc-name python3 -m unittest tests/test_name_program.py
"""

import os
import shutil
import subprocess
import tempfile
import unittest
import wave

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def name_binary():
    return os.path.abspath(os.environ.get("ANNC_NAME_BINARY") or
                           os.path.join(REPO, "build", "annc-name"))


def run(*args, timeout=60):
    """annc-name ARGS...: (exit code, stdout, stderr), each bounded in time."""
    proc = subprocess.run([name_binary()] + list(args), stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=timeout)
    return proc.returncode, proc.stdout, proc.stderr


def frames(path):
    """The WAV's (channels, sample width, rate, frames), read by wave."""
    with wave.open(path, "rb") as w:
        return w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()


class NameProgramTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.access(name_binary(), os.X_OK):
            raise unittest.SkipTest("%s is not built" % name_binary())
        with tempfile.TemporaryDirectory(prefix="annc-name-probe-") as folder:
            code, _, err = run("probe", os.path.join(folder, "p.wav"))
            if code == 1 and b"cannot start" in err:
                raise unittest.SkipTest("eSpeak NG has no data here")

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="annc-name-")
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)

    def left(self):
        return sorted(os.listdir(self.folder))

    def test_writes_a_whole_16_bit_mono_wav_and_nothing_else(self):
        for voice in ("en", "de"):
            path = os.path.join(self.folder, "ann-%s.wav" % voice)
            code, out, err = run("--voice", voice, "--", "Ann Lee", path)
            self.assertEqual((code, out, err), (0, b"", b""), voice)
            channels, width, rate, n = frames(path)
            self.assertEqual((channels, width), (1, 2), voice)
            # About half a second, at eSpeak NG's rate.
            self.assertGreater(n, rate // 4, voice)
        self.assertEqual(self.left(), ["ann-de.wav", "ann-en.wav"])

    def test_refusals_are_one_line_with_their_exit_code(self):
        path = os.path.join(self.folder, "x.wav")
        cases = [
            (["--voice", "xx-novoice", "Ann", path], 3, b"annc-name: eSpeak NG has no voice xx-novoice\n"),
            (["--voice", "../../etc/passwd", "Ann", path], 3,
             b"annc-name: eSpeak NG has no voice ../../etc/passwd\n"),
            (["Ann"], 2, b"annc-name: needs TEXT and FILE (see --help)\n"),
            (["--voice"], 2, b"annc-name: --voice needs a voice name (see --help)\n"),
            (["-x", "Ann", path], 2, b"annc-name: unknown option -x (see --help)\n"),
            (["x" * 100000, path], 2, b"annc-name: the text is too long (100000 bytes; at most 1024)\n"),
        ]
        for args, code, err in cases:
            got = run(*args)
            self.assertEqual(got, (code, b"", err), args[:3])
        self.assertEqual(self.left(), [])
        code, out, err = run("--help")
        self.assertEqual((code, err), (0, b""))
        self.assertIn(b"Exit codes: 0 written, 1", out)

    def test_an_unwritable_folder_fails_leaving_nothing_behind(self):
        locked = os.path.join(self.folder, "locked")
        os.mkdir(locked)
        target = os.path.join(locked, "ann.wav")
        cases = [
            ("a missing folder", os.path.join(self.folder, "none", "ann.wav")),
            ("a folder that is a file", os.path.join(self.folder, "file", "ann.wav")),
        ]
        with open(os.path.join(self.folder, "file"), "w"):
            pass
        if os.geteuid() != 0:  # root writes anyway
            os.chmod(locked, 0o500)
            self.addCleanup(os.chmod, locked, 0o700)
            cases.append(("a read-only folder", target))
        # A folder in place of the recording: the rename fails after the write.
        os.mkdir(os.path.join(self.folder, "dir.wav"))
        with open(os.path.join(self.folder, "dir.wav", "keep"), "w"):
            pass
        cases.append(("a folder where the file goes", os.path.join(self.folder, "dir.wav")))
        for what, path in cases:
            code, out, err = run("Ann Lee", path)
            self.assertEqual(code, 1, what)
            self.assertEqual(out, b"", what)
            self.assertTrue(err.startswith(b"annc-name: cannot "), (what, err))
            self.assertEqual(err.count(b"\n"), 1, (what, err))
            self.assertIn(os.path.basename(path).encode(), err, what)
        self.assertEqual(self.left(), ["dir.wav", "file", "locked"])
        self.assertEqual(os.listdir(locked), [])
        self.assertEqual(os.listdir(os.path.join(self.folder, "dir.wav")), ["keep"])

    def test_hostile_text_is_spoken_or_refused_but_never_crashes(self):
        cases = [
            ("escape sequences", b"Ann\x1b[2J\x1b]0;title\x07\x9b31mLee"),
            ("invalid UTF-8", b"Ann \xff\xfe\xc3 \xed\xa0\x80 Lee"),
            ("a name that looks like an option", b"--voice"),
            ("markup and phonemes as text", b"<speak>[[h@l'oU]]</speak>"),
            ("1024 bytes, the most taken", b"Ann Lee " * 128),
            ("only what is dropped", b"\xff\xfe\x1b"),
        ]
        for what, text in cases:
            path = os.path.join(self.folder, "hostile.wav")
            code, out, err = run("--", os.fsdecode(text), path, timeout=120)
            self.assertIn(code, (0, 1), (what, err))  # spoken, or "no sound"; never a signal
            self.assertEqual(out, b"", what)
            if code == 0:
                self.assertEqual(err, b"", what)
                self.assertGreater(frames(path)[3], 0, what)
                os.remove(path)
            else:
                self.assertEqual(err, b"annc-name: eSpeak NG gave no sound for the name\n", what)
            self.assertEqual(self.left(), [], what)
        # The error names a path with escape sequences in caret notation.
        code, _, err = run("Ann", os.path.join(self.folder, "no\x1b[2J", "x.wav"))
        self.assertEqual(code, 1)
        self.assertIn(b"no^[[2J", err)
        self.assertNotIn(b"\x1b", err)


if __name__ == "__main__":
    unittest.main()
