"""End-to-end: annc-line --say-names, with the real annc and the real
annc-line, calls from the emulated modem or the fake NCID server, and the
sound captured through ALSA's file plugin.

What a person hears is checked: between each cycle's opening chime and the
number, the user's own recording of the caller, or a name synthesized by
eSpeak NG (a stretch of real sound among the synthetic words, as long as
eSpeak NG makes that name, compared with the espeak-ng program's own
recording of the same text), or nothing at all.  Besides: the /N: that annc
was given, and what the name cache holds afterwards.
"""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import CALLER_NAME, SEPARATOR, CapturedSound, WavFile, command_line, write_word_wav
from line_harness import LineTestCase
from modem_emulator import north_american_block
from ncid_server import cid_line, cidinfo_line

# 5550123 is in no phone book of these tests; 5551234 is Ann Lee in the
# sandbox's book.
STRANGER = "5550123"
STRANGER_FIRST = "500"          # the first word of its number
ANN = "5551234"
ANN_FIRST = "500"

# "About the length eSpeak NG gives it": the heard stretch and espeak-ng's
# own recording of the text may differ by this share.
LENGTH_TOLERANCE = 0.05


def espeak(text, voice="en"):
    """What the espeak-ng program makes of `text`: a WavFile (22050 Hz)."""
    if shutil.which("espeak-ng") is None:
        raise unittest.SkipTest("espeak-ng is not installed")
    with tempfile.TemporaryDirectory(prefix="annc-espeak-") as folder:
        path = os.path.join(folder, "name.wav")
        subprocess.run(["espeak-ng", "-v", voice, "-w", path, text],
                       check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
        return WavFile(path)


class SayNamesTest(LineTestCase):

    def cache_files(self, cache):
        return sorted(os.listdir(cache)) if os.path.isdir(cache) else []

    def announcer_args(self, run, seen):
        """Adds the arguments of the announcer running now (annc, not a
        synthesis, which is a copy of annc-line) to `seen`."""
        for pid in run.announcers():
            try:
                args = command_line(pid)
            except OSError:
                continue
            if args and args[0] == os.fsencode(run.sandbox.exe) and args not in seen:
                seen.append(args)

    def call(self, sb, source, number, name, args, cycles=3):
        """One call with --once from the modem ("modem") or the NCID server
        ("ncid") with the network's `name` (None: no NAME line); rings
        until `cycles` cycles have begun, then lets it end. Returns the
        sound heard (calls_heard of the one announcement) and the
        announcer's command line."""
        seen = []

        def done():
            self.announcer_args(run, seen)
            return self.separators_heard(sb) >= 2 * cycles - 1

        if source == "modem":
            emu = self.modem(sb)
            run = self.start(sb, emu, ["--once"] + list(args))
            emu.play(north_american_block(number, name))
            emu.ring_until(done, gap=0.4, limit=60)
        else:
            server = self.ncid_server()
            run = self.start(sb, server, ["--once"] + list(args))
            server.send_line(cid_line(number, "-" if name is None else name))
            # A CIDINFO ring every 0.4 s, bounded, keeps the call going.
            ring = 1
            while not done() and ring < 150:
                server.send_line(cidinfo_line(ring))
                ring += 1
                time.sleep(0.4)
            server.send_line(cidinfo_line(0))
        self.assertExitCode(run, 0, timeout=30)
        self.assertNotIn("cannot speak the name", run.stderr())
        calls = self.calls_heard(sb)
        self.assertEqual(len(calls), 1, [c[:20] for c in calls])
        self.assertEqual(len(seen), 1, seen)
        return run, calls[0], seen[0]

    def words_of(self, heard):
        return [item.label() for item in heard if not isinstance(item, CapturedSound)]

    def assertCyclesWithoutName(self, run, heard, number, first):
        words = self.words_of(heard)
        self.assertEqual([i for i in heard if isinstance(i, CapturedSound)], [])
        self.assertNotIn(CALLER_NAME, words)
        self.assertGreaterEqual(self.full_cycles(number, words, run.t_start, run.t_end), 2, words)
        for at in [i for i, w in enumerate(words) if w == SEPARATOR][::2]:
            self.assertEqual(words[at + 1:at + 2], [first], words)

    def assertSynthesizedName(self, run, heard, number, text, cache):
        """Every cycle from the second on (the first may come before the
        synthesis is done) holds, between the chime and the number, the
        one recording the cache holds: as long as eSpeak NG says `text`."""
        words = self.words_of(heard)
        self.assertGreaterEqual(self.full_cycles(number, words, run.t_start, run.t_end), 2, words)
        files = self.cache_files(cache)
        self.assertEqual(len(files), 1, files)
        cached = WavFile(os.path.join(cache, files[0]))
        stretches = self.name_stretches(heard)
        self.assertGreaterEqual(len(stretches), 3, heard[:40])
        self.assertIn(stretches[0].samples if stretches[0] else None, (None, cached.samples))
        for stretch in stretches[1:]:
            self.assertIsNotNone(stretch, heard[:60])
            self.assertEqual(stretch.samples, cached.samples)
        reference = CapturedSound(espeak(text).samples).non_silent()
        heard_length = stretches[1].non_silent()
        self.assertLess(abs(heard_length - reference), LENGTH_TOLERANCE * reference,
                        "heard %d samples of sound, espeak-ng gives %r %d" % (heard_length, text, reference))
        # No sound anywhere else in the cycle.
        self.assertEqual(sum(isinstance(i, CapturedSound) for i in heard),
                         sum(s is not None for s in stretches))
        return cached

    def test_own_recording_heard_once_per_cycle_between_chime_and_number(self):
        sb = self.sandbox()
        os.mkdir(os.path.join(sb.sound_dir, "names"))
        own = os.path.join(sb.sound_dir, "names", ANN + ".wav")
        sb.word_samples[CALLER_NAME] = write_word_wav(own, CALLER_NAME)
        cache = os.path.join(sb.root, "name-cache")
        # The book's entry is Ann Lee, the network says another name: the
        # user's recording of the number beats both, and nothing is
        # synthesized.
        run, heard, args = self.call(sb, "modem", ANN, "JOHN DOE", ["--say-names", "--name-cache", cache])
        self.assertIn(b"/N:" + os.fsencode(own), args)
        words = self.words_of(heard)
        self.assertEqual([i for i in heard if isinstance(i, CapturedSound)], [])
        self.assertGreaterEqual(self.full_cycles(ANN, words, run.t_start, run.t_end, name=[CALLER_NAME]), 2, words)
        openings = [i for i, w in enumerate(words) if w == SEPARATOR][::2]
        self.assertEqual(words.count(CALLER_NAME), len(openings), words)
        for at in openings:
            self.assertEqual(words[at:at + 3], [SEPARATOR, CALLER_NAME, ANN_FIRST][:len(words) - at], words)
        self.assertEqual(self.cache_files(cache), [])
        self.assertEqual(self.calls_logged(sb), [b"5551234 - Ann Lee"])

    def test_network_name_is_synthesized_once_into_the_cache(self):
        for source, name in (("modem", "JOHN DOE"), ("ncid", "MARY SMITH")):
            with self.subTest(source=source):
                sb = self.sandbox()
                cache = os.path.join(sb.root, "cache", "names")     # made when needed
                run, heard, args = self.call(sb, source, STRANGER, name, ["--say-names", "--name-cache", cache])
                cached = self.assertSynthesizedName(run, heard, STRANGER, name, cache)
                files = self.cache_files(cache)
                self.assertIn(b"/N:" + os.fsencode(os.path.join(cache, files[0])), args)
                self.assertEqual(cached.rate, 22050)

    def test_book_name_beats_the_network_name_and_the_cache_is_used_again(self):
        sb = self.sandbox()
        cache = os.path.join(sb.root, "cache")
        run, heard, _ = self.call(sb, "modem", ANN, "JOHN DOE", ["--say-names", "--name-cache", cache])
        self.assertSynthesizedName(run, heard, ANN, "Ann Lee", cache)
        [kept] = self.cache_files(cache)
        before = os.stat(os.path.join(cache, kept))
        # The same caller again: the recording in the cache is played, not
        # made again (a new synthesis would rename a new file into place).
        for f in os.listdir(sb.capture_dir):
            os.remove(os.path.join(sb.capture_dir, f))
        run, heard, args = self.call(sb, "modem", ANN, "JOHN DOE", ["--say-names", "--name-cache", cache])
        self.assertEqual(self.cache_files(cache), [kept])
        self.assertEqual(os.stat(os.path.join(cache, kept)).st_ino, before.st_ino)
        stretches = self.name_stretches(heard)
        self.assertTrue(all(s is not None for s in stretches), stretches)

    def test_placeholder_name_gives_no_name(self):
        for source, name in (("modem", "O"), ("ncid", "PRIVATE"), ("modem", None)):
            with self.subTest(source=source, name=name):
                sb = self.sandbox()
                cache = os.path.join(sb.root, "cache")
                run, heard, args = self.call(sb, source, STRANGER, name, ["--say-names", "--name-cache", cache])
                self.assertEqual([a for a in args if a[:3].upper() in (b"/N:", b"-N:")], [])
                self.assertCyclesWithoutName(run, heard, STRANGER, STRANGER_FIRST)
                self.assertEqual(self.cache_files(cache), [])

    def assertSynthesizedText(self, cache, text):
        """The cache's one recording is the very text: espeak-ng's
        recording of it is the cached one followed by the program's
        closing pause."""
        [name] = self.cache_files(cache)
        cached = WavFile(os.path.join(cache, name))
        reference = espeak(text)
        self.assertEqual(reference.samples[:len(cached.samples)], cached.samples,
                         "the cached recording is not espeak-ng's %r" % text)
        self.assertFalse(any(reference.samples[len(cached.samples):]))

    def test_escape_sequences_and_10_kb_reach_the_synthesizer_cleaned_and_cut(self):
        sb = self.sandbox()
        cache = os.path.join(sb.root, "cache")
        raw = ("Zoe\x1b[1;31m Quinn\x1b[0m\x1b]0;caller\x07\t[[h@l'oU]] <voice gender='male'>"
               + "Mary Ann Lee " * 800)
        self.assertGreater(len(raw), 10000)
        # Escape sequences gone whole, the tab and the brackets blanks, one
        # blank of each run, 64 characters.
        cleaned = "Zoe Quinn h@l'oU voice gender='male' Mary Ann Lee Mary Ann Lee M"
        self.assertEqual(len(cleaned), 64)
        run, heard, _ = self.call(sb, "modem", STRANGER, raw, ["--say-names", "--name-cache", cache])
        self.assertSynthesizedName(run, heard, STRANGER, cleaned, cache)
        self.assertSynthesizedText(cache, cleaned)

    # An escape sequence at the very start of a modem's NAME value is
    # removed whole: nothing of it is spoken.
    def test_escape_sequence_opening_a_modem_name_is_removed_whole(self):
        sb = self.sandbox()
        cache = os.path.join(sb.root, "cache")
        run, heard, _ = self.call(sb, "modem", STRANGER, "\x1b[1;31mZoe\x1b[0m Quinn",
                                  ["--say-names", "--name-cache", cache], cycles=2)
        self.assertSynthesizedText(cache, "Zoe Quinn")

    def test_without_say_names_no_name(self):
        sb = self.sandbox()
        os.mkdir(os.path.join(sb.sound_dir, "names"))
        own = os.path.join(sb.sound_dir, "names", ANN + ".wav")
        sb.word_samples[CALLER_NAME] = write_word_wav(own, CALLER_NAME)
        cache = os.path.join(sb.root, "cache")
        for number, name in ((ANN, "ANN LEE"), (STRANGER, "JOHN DOE")):
            with self.subTest(number=number):
                for f in os.listdir(sb.capture_dir):
                    os.remove(os.path.join(sb.capture_dir, f))
                run, heard, args = self.call(sb, "modem", number, name, ["--name-cache", cache])
                self.assertEqual(args[:2], [os.fsencode(sb.exe), number.encode()])
                self.assertEqual([a for a in args if a[:3].upper() in (b"/N:", b"-N:")], [])
                self.assertCyclesWithoutName(run, heard, number, "500")
                self.assertFalse(os.path.exists(cache))


if __name__ == "__main__":
    unittest.main()
