"""The run folder: everything one run of annc sees, in a temporary folder.

* ``annc``: a copy of the binary under test.  annc finds its sound folder
  beside its own executable (through /proc/self/exe), so a symbolic link
  would lead it back to the build folder; the file is copied instead.
* ``Numvoice/``: one synthetic recording per word (see audio).
* ``Numvoice/aon.db``: the phone book the test asks for (or none).
* ``home/.asoundrc``: redirects ALSA's "default" PCM to the file plugin over
  the null plugin, so that every sample annc plays lands in
  ``capture/CAPTURE`` (and ``CAPTURE.0001``, ... for later openings of the
  device), or makes the default device one that cannot be opened.
* ``cwd/``: an empty working folder, so that stray files can be noticed.
"""

import os
import shutil
import tempfile

from .audio import decode_samples, read_capture_files, write_word_wav
from .launch import DEFAULT_TIMEOUT, Launch
from .rules import STANDARD_WORDS, file_name, to_bytes, tz_setting

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))

DEFAULT_PHONE_BOOK = b"5551234=Ann Lee\r\n5559876=Bob\r\n"


def annc_binary():
    """Path of the binary under test: $ANNC_BINARY or build/annc."""
    return os.environ.get("ANNC_BINARY") or os.path.join(
        REPO_ROOT, "build", "annc")


def capture_asoundrc(path, truncate=False):
    """An ALSA set-up whose default device writes every sample played, raw,
    into path (appending to what is there unless truncate)."""
    return ('pcm.!default {\n'
            '  type file\n'
            '  slave.pcm { type null }\n'
            '  file "%s"\n'
            '  format "raw"\n'
            '  truncate %s\n'
            '}\n' % (path, "true" if truncate else "false"))


class Sandbox:
    """A temporary folder holding a copy of annc, its sound folder, a HOME
    whose ALSA set-up captures or fails, and an empty working folder.

    phone_book: bytes of Numvoice/aon.db, or None for no file.
    omit:       word names whose recordings are left out.
    extra:      extra word names to record (e.g. "-5", "1200").
    formats:    {word: format} for recordings in another PCM format.
    device:     "capture" (file plugin) or "none" (cannot be opened).
    """

    def __init__(self, phone_book=DEFAULT_PHONE_BOOK, omit=(), extra=(),
                 formats=None, device="capture", exe_name="annc"):
        binary = annc_binary()
        if not os.path.isfile(binary):
            raise FileNotFoundError(
                "annc binary not found at %s (set ANNC_BINARY)" % binary)
        self._tmp = tempfile.TemporaryDirectory(prefix="annc-e2e-")
        self.root = os.path.realpath(self._tmp.name)
        self.exe = os.path.join(self.root, exe_name)
        shutil.copyfile(binary, self.exe)
        os.chmod(self.exe, 0o755)
        self.sound_dir = os.path.join(self.root, "Numvoice")
        os.mkdir(self.sound_dir)
        self.home = os.path.join(self.root, "home")
        os.mkdir(self.home)
        self.cwd = os.path.join(self.root, "cwd")
        os.mkdir(self.cwd)
        self.capture_dir = os.path.join(self.root, "capture")
        os.mkdir(self.capture_dir)
        self.capture_path = os.path.join(self.capture_dir, "CAPTURE")
        self.default_log = os.path.splitext(self.exe)[0] + ".log"

        self.word_samples = {}
        formats = dict(formats or {})
        for word in list(STANDARD_WORDS) + list(extra):
            if word in omit:
                continue
            self.word_samples[word] = write_word_wav(
                os.path.join(self.sound_dir, file_name(word)), word,
                formats.get(word, "pcm16"))
        if phone_book is not None:
            self.write_phone_book(phone_book)

        if device == "capture":
            asoundrc = capture_asoundrc(self.capture_path)
        elif device == "none":
            asoundrc = 'pcm.!default { type hw; card 97 }\n'
        else:
            raise ValueError("unknown device %r" % device)
        with open(os.path.join(self.home, ".asoundrc"), "w") as f:
            f.write(asoundrc)

    def write_phone_book(self, data):
        with open(os.path.join(self.sound_dir, "aon.db"), "wb") as f:
            f.write(to_bytes(data))

    def remove_recording(self, word):
        os.remove(os.path.join(self.sound_dir, file_name(word)))
        self.word_samples.pop(word, None)

    def env(self, tz_offset=0, extra=None):
        """The environment annc runs in: the test HOME (for ALSA), the C
        locale (colon as time separator, English error texts) and a fixed
        time zone."""
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("ALSA", "LC_")) and k not in (
                   "LANG", "LANGUAGE", "TZ", "XDG_CONFIG_HOME", "XDG_STATE_HOME",
                   "XDG_CACHE_HOME", "STATE_DIRECTORY", "CACHE_DIRECTORY")}
        env["HOME"] = self.home
        env["XDG_CONFIG_HOME"] = os.path.join(self.home, ".config")
        env["LC_ALL"] = "C"
        env["TZ"] = tz_setting(tz_offset)
        if extra:
            env.update(extra)
        return env

    # What annc left behind.

    def captured_raw(self):
        return read_capture_files(self.capture_path)

    def captured(self):
        return decode_samples(self.captured_raw(), self.word_samples)

    def captured_words(self):
        """Word labels played so far; a word not played whole carries a
        mark in its label, so it never equals a plain word name."""
        return [w.label() for w in self.captured()]

    def read_file(self, path):
        try:
            with open(path, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def log_bytes(self, path=None):
        return self.read_file(path or self.default_log)

    def launch(self, args, **kw):
        return Launch(self, args, **kw)

    def run(self, args, timeout=DEFAULT_TIMEOUT, **kw):
        """Starts annc and waits for its end."""
        return self.launch(args, **kw).wait(timeout)

    def cleanup(self):
        self._tmp.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.cleanup()
