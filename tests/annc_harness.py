"""Runs the real annc binary end to end and observes everything it does.

What the harness sets up for every run (all inside one temporary folder):

* ``annc``: a copy of the binary under test.  annc finds its sound folder
  beside its own executable (through /proc/self/exe), so a symbolic link
  would lead it back to the build folder; the file is copied instead.
* ``Numvoice/``: small synthetic recordings, one per word.  Each recording
  starts with one marker sample (-32768) followed by a body of a constant
  value that belongs to that word alone.  The value survives every plain
  PCM encoding (it is a multiple of 256), so a word can also be written as
  8-bit, 32-bit or stereo PCM and still be recognised.  Two equal words in a
  row stay two words, since each starts with its own marker.
* ``Numvoice/aon.db``: the phone book the test asks for (or none).
* ``home/.asoundrc``: redirects ALSA's "default" PCM to the file plugin over
  the null plugin, so that every sample annc plays lands in
  ``capture/CAPTURE`` (and ``CAPTURE.0001``, ... for later openings of the
  device), or makes the default device one that cannot be opened.
* ``cwd/``: an empty working folder, so that stray files can be noticed.

Observations: exit code, the bytes of standard output and standard error
(a BEL byte on standard error is annc's beep), the captured samples decoded
back into the list of words played, and the log files.

Independently of annc the harness also computes which words a cycle must
play for a number at a given time, so that tests compare against rules and
not against recorded output.
"""

import datetime
import errno
import itertools
import os
import re
import select
import shutil
import struct
import subprocess
import tempfile
import termios
import threading
import time
import tty
import unittest
import wave

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

BANNER = b"Press ANY KEY to exit.\r\n" + b"=" * 20 + b"\r\n"
SERIAL_CONFIRMATIONS = (b" GetCommTimeouts \r\n"
                        b" SetCommTimeouts \r\n"
                        b" PurgeComm \r\n")
BEL = b"\x07"
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun",
          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]

SEPARATOR = "InterDigit"
NOPHONE = "nophone"

# Every recording annc's sound folder holds, by word name.
NUMBER_WORDS = ([str(n) for n in range(0, 20)]
                + [str(n) for n in range(20, 100, 10)]
                + [str(n) for n in range(100, 1000, 100)])
STANDARD_WORDS = NUMBER_WORDS + [SEPARATOR, NOPHONE]

# Words that a normal sound folder lacks but that a test may add, to see
# that annc asks for exactly these file names (negative values, 1000+).
EXTRA_WORDS = ([str(-n) for n in range(1, 10)]
               + [str(-n) for n in range(10, 100, 10)]
               + [str(-n) for n in range(100, 1000, 100)]
               + [str(n) for n in range(1000, 2100, 100)])

MARKER = -32768
SAMPLE_RATE = 8000
WORD_FRAMES = 64          # frames per synthetic recording (8 ms at 8 kHz)

_ALL_WORDS = STANDARD_WORDS + EXTRA_WORDS
assert len(_ALL_WORDS) <= 127, "word codes must stay below 32768"
WORD_CODE = {name: 256 * (i + 1) for i, name in enumerate(_ALL_WORDS)}
CODE_WORD = {code: name for name, code in WORD_CODE.items()}

DEFAULT_PHONE_BOOK = b"5551234=Ann Lee\r\n5559876=Bob\r\n"
DEFAULT_TIMEOUT = 30.0


def annc_binary():
    """Path of the binary under test: $ANNC_BINARY or build/annc."""
    return os.environ.get("ANNC_BINARY") or os.path.join(
        REPO_ROOT, "build", "annc")


def file_name(word):
    """The file name annc looks for when it plays the given word."""
    if word == SEPARATOR:
        return "InterDigit.Wav"
    if word == NOPHONE:
        return "nophone.wav"
    return word + ".wav"


def to_bytes(text):
    return text if isinstance(text, bytes) else os.fsencode(text)


# ---------------------------------------------------------------------------
# Synthetic recordings


def write_word_wav(path, word, fmt="pcm16"):
    """Writes the recording of a word; returns the number of 16-bit samples
    it becomes once decoded (frames times channels).

    fmt: "pcm16" (8 kHz mono), "pcm8" (unsigned 8-bit), "pcm32",
    "stereo" (16-bit, both channels equal), "rate16k" (16-bit at 16 kHz).
    """
    code = WORD_CODE[word]
    values = [MARKER] + [code] * (WORD_FRAMES - 1)
    channels, width, rate = 1, 2, SAMPLE_RATE
    if fmt == "pcm16":
        data = struct.pack("<%dh" % len(values), *values)
    elif fmt == "rate16k":
        rate = 16000
        data = struct.pack("<%dh" % len(values), *values)
    elif fmt == "stereo":
        channels = 2
        doubled = [v for v in values for _ in range(2)]
        data = struct.pack("<%dh" % len(doubled), *doubled)
    elif fmt == "pcm8":
        width = 1
        data = bytes((v >> 8) + 128 for v in values)
    elif fmt == "pcm32":
        width = 4
        data = struct.pack("<%di" % len(values), *[v << 16 for v in values])
    else:
        raise ValueError("unknown recording format %r" % fmt)
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(width)
        w.setframerate(rate)
        w.writeframes(data)
    return len(values) * channels


# ---------------------------------------------------------------------------
# Decoding what was played


class CapturedWord:
    """One word found in the captured stream."""

    def __init__(self, name, samples, expected):
        self.name = name            # word name, or "?<value>" when unknown
        self.samples = samples      # samples found, marker included
        self.expected = expected    # samples its recording holds, or None

    @property
    def whole(self):
        return self.expected is not None and self.samples == self.expected

    def label(self):
        """The name, marked when the word was not played whole."""
        if self.whole:
            return self.name
        return "%s[%d/%s samples]" % (self.name, self.samples, self.expected)

    def __repr__(self):
        return self.label()


def read_capture_files(capture_path):
    """Raw bytes of CAPTURE, CAPTURE.0001, ... in the order written."""
    folder = os.path.dirname(capture_path)
    base = os.path.basename(capture_path)
    found = []
    try:
        names = os.listdir(folder)
    except FileNotFoundError:
        return b""
    for name in names:
        if name == base:
            found.append((0, name))
        elif name.startswith(base + ".") and name[len(base) + 1:].isdigit():
            found.append((int(name[len(base) + 1:]), name))
    data = []
    for _, name in sorted(found):
        with open(os.path.join(folder, name), "rb") as f:
            chunk = f.read()
        data.append(chunk[:len(chunk) & ~1])   # a sample may be half written
    return b"".join(data)


def decode_samples(raw, expected_samples):
    """Turns captured 16-bit little-endian samples into CapturedWords.

    Zero samples (silence, padding) are skipped.  A word is a run of marker
    samples followed by a run of one word's value.  Samples of a value that
    has no marker before it are reported as a word named "?<value>".
    """
    samples = struct.unpack("<%dh" % (len(raw) // 2), raw)
    words = []
    i, n = 0, len(samples)
    while i < n:
        v = samples[i]
        if v == 0:
            i += 1
            continue
        start = i
        if v == MARKER:
            while i < n and samples[i] == MARKER:
                i += 1
            code = samples[i] if i < n else None
            if code in CODE_WORD:
                while i < n and samples[i] == code:
                    i += 1
                name = CODE_WORD[code]
            else:
                name = "?marker"
        else:
            while i < n and samples[i] == v:
                i += 1
            name = "?%d" % v
        words.append(CapturedWord(name, i - start,
                                  expected_samples.get(name)))
    return words


# ---------------------------------------------------------------------------
# The words a cycle must play, computed from the rules (not from annc)


def parse_integer(text):
    """The integer a group stands for, or None when it is not an integer.

    Leading blanks (code 32) are skipped; then either a signed decimal in
    the 32-bit range, or, without a sign, one of the prefixes $, x, X, 0x,
    0X and hexadecimal digits whose value fits in 32 bits, taken as a
    32-bit pattern.
    """
    text = to_bytes(text).lstrip(b" ")
    m = re.fullmatch(rb"[+-]?[0-9]+", text)
    if m:
        value = int(text)
        return value if -2 ** 31 <= value < 2 ** 31 else None
    m = re.fullmatch(rb"(?:\$|0x|0X|x|X)([0-9A-Fa-f]+)", text)
    if m:
        value = int(m.group(1), 16)
        if value >= 2 ** 32:
            return None
        return value - 2 ** 32 if value >= 2 ** 31 else value
    return None


def _trunc_div(a, b):
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b > 0) else -q


def say_number(n):
    """Names of the recordings spoken for the integer n, in order."""
    words = []
    if n >= 100:
        hundreds = _trunc_div(n, 100) * 100
        words.append(str(hundreds))
        rest = n - hundreds
        if rest == 0:
            return words
        tens = _trunc_div(rest, 10)
        if tens >= 2:
            words.append(str(tens * 10))
    else:
        rest = n
        tens = _trunc_div(rest, 10)
        if tens != 1:
            words.append(str(tens * 10))      # 0..9 read "zero five"
    if _trunc_div(rest, 10) == 1:
        words.append(str(rest))               # ten .. nineteen
        return words
    if rest == 0:
        words.append("0")
    units = rest - _trunc_div(rest, 10) * 10
    if units != 0:
        words.append(str(units))
    return words


def trim_number(number):
    """The number as announced: bytes of code 32 or less cut at both ends."""
    number = to_bytes(number)
    start, end = 0, len(number)
    while start < end and number[start] <= 32:
        start += 1
    while end > start and number[end - 1] <= 32:
        end -= 1
    return number[start:end]


def is_unknown_number(trimmed):
    return trimmed == b"Unknown" or b"X" in trimmed or b"?" in trimmed


def number_groups(number):
    """The groups a (trimmed) number is cut into: three characters first
    when the length is odd, then pairs."""
    rest = to_bytes(number)
    groups = []
    while rest:
        size = 3 if len(rest) % 2 else 2
        groups.append(rest[:size])
        rest = rest[size:]
    return groups


def number_words(number):
    """Words for the number part of a cycle (between the separators)."""
    trimmed = trim_number(number)
    if is_unknown_number(trimmed):
        return [NOPHONE]
    words = []
    for group in number_groups(trimmed):
        value = parse_integer(group)
        words += say_number(0 if value is None else value)
    return words


def expected_cycle(number, hour, minute):
    """Every word of one announcement cycle, separators included."""
    return (say_number(hour) + say_number(minute) + [SEPARATOR]
            + number_words(number) + [SEPARATOR])


def tz_setting(offset_minutes):
    """A POSIX TZ value for a fixed offset east of UTC."""
    sign = "-" if offset_minutes >= 0 else "+"    # POSIX counts westwards
    h, m = divmod(abs(offset_minutes), 60)
    return "ANN%s%02d:%02d" % (sign, h, m)


def local_time(epoch, offset_minutes):
    zone = datetime.timezone(datetime.timedelta(minutes=offset_minutes))
    return datetime.datetime.fromtimestamp(epoch, zone)


def clock_readings(t_start, t_end, offset_minutes):
    """(hour, minute) pairs a cycle between t_start and t_end may speak.

    The hour and the minute are read from the clock one after the other,
    so the hour may come from an earlier minute than the minute does."""
    minutes = []
    t = int(t_start) // 60 * 60
    while t <= t_end:
        lt = local_time(t, offset_minutes)
        minutes.append((lt.hour, lt.minute))
        t += 60
    pairs = []
    for i, (h, _) in enumerate(minutes):
        for _, m in minutes[i:]:
            if (h, m) not in pairs:
                pairs.append((h, m))
    return pairs


def candidate_cycles(number, t_start, t_end, offset_minutes=0):
    return [expected_cycle(number, h, m)
            for h, m in clock_readings(t_start, t_end, offset_minutes)]


# ---------------------------------------------------------------------------
# Log lines

LOG_LINE = re.compile(
    rb"(?P<prefix>[ ?]) (?P<day>\d\d)-(?P<mon>[A-Z][a-z]{2})-(?P<year>\d{4}) "
    rb"(?P<hour>\d\d):(?P<min>\d\d):(?P<sec>\d\d) (?P<msg>.*)", re.S)


def parse_log_line(line):
    """Splits one log line (without CR LF) into prefix, time and message;
    None when the line does not have the log line format."""
    m = LOG_LINE.fullmatch(line)
    if not m or m.group("mon").decode() not in MONTHS:
        return None
    return {
        "prefix": m.group("prefix"),
        "time": (int(m.group("year")), MONTHS.index(m.group("mon").decode())
                 + 1, int(m.group("day")), int(m.group("hour")),
                 int(m.group("min")), int(m.group("sec"))),
        "message": m.group("msg"),
    }


def log_time_in_window(parsed_time, t_start, t_end, offset_minutes=0):
    """Whether a log timestamp lies between two epoch times (whole
    seconds, the zone given)."""
    lo = local_time(int(t_start), offset_minutes).replace(microsecond=0)
    hi = local_time(int(t_end) + 1, offset_minutes).replace(microsecond=0)
    zone = datetime.timezone(datetime.timedelta(minutes=offset_minutes))
    try:
        stamp = datetime.datetime(*parsed_time, tzinfo=zone)
    except ValueError:
        return False
    return lo <= stamp <= hi


# ---------------------------------------------------------------------------
# Terminal text


def title_sequence(text):
    """The terminal title sequence for text, control bytes dropped."""
    clean = bytes(c for c in to_bytes(text) if c >= 32 and c != 127)
    return b"\x1b]0;" + clean + b"\x07"


def caller_line(number, name=b""):
    return to_bytes(number) + b" - " + to_bytes(name) + b"\r\n"


# ---------------------------------------------------------------------------
# Pseudo-terminals


def open_pty(output_raw=True):
    """A pseudo-terminal pair (master, slave).  With output_raw the slave's
    output processing is off, so bytes written to it reach the master
    unchanged (no LF to CR LF).  Its input side keeps the usual line
    discipline, as a terminal a person uses would."""
    master, slave = os.openpty()
    if output_raw:
        attrs = termios.tcgetattr(slave)
        attrs[1] &= ~termios.OPOST
        termios.tcsetattr(slave, termios.TCSANOW, attrs)
    return master, slave


class SerialLine:
    """A pseudo-terminal pair standing in for the modem's serial port: the
    test is the modem on the master side; annc inherits the slave."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        # A launcher hands over a port set up for binary data: no echo, no
        # line editing, no CR/LF translation.
        tty.setraw(self.slave, termios.TCSANOW)
        self._reader = _FdReader(self.master)   # what annc sends, if any

    @property
    def fd(self):
        return self.slave

    def send(self, data):
        os.write(self.master, to_bytes(data))

    def received(self, settle=0.1):
        """What annc has written to the line, after giving the reader
        a moment to pick up the last bytes."""
        time.sleep(settle)
        return self._reader.snapshot()

    def close_master(self):
        if self.master is not None:
            self._reader.stop()
            os.close(self.master)
            self.master = None

    def close(self):
        self.close_master()
        if self.slave is not None:
            os.close(self.slave)
            self.slave = None


class _FdReader:
    """Collects everything readable from an fd on a background thread."""

    def __init__(self, fd):
        self.fd = fd
        self.data = bytearray()
        self.lock = threading.Lock()
        self._stop = threading.Event()
        self._done = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        try:
            while True:
                try:
                    ready, _, _ = select.select([self.fd], [], [], 0.05)
                except (OSError, ValueError):
                    break
                if not ready:
                    if self._stop.is_set():
                        break
                    continue
                try:
                    chunk = os.read(self.fd, 65536)
                except OSError as e:
                    if e.errno in (errno.EIO, errno.EBADF):
                        break           # pty master after the slave closed
                    raise
                if not chunk:
                    break
                with self.lock:
                    self.data += chunk
        finally:
            self._done.set()

    def snapshot(self):
        with self.lock:
            return bytes(self.data)

    def stop(self, timeout=5.0):
        """Stops after reading what is already there."""
        self._stop.set()
        self._done.wait(timeout)

    def wait_eof(self, timeout):
        return self._done.wait(timeout)


# ---------------------------------------------------------------------------
# The run folder


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
            asoundrc = ('pcm.!default {\n'
                        '  type file\n'
                        '  slave.pcm { type null }\n'
                        '  file "%s"\n'
                        '  format "raw"\n'
                        '  truncate false\n'
                        '}\n' % self.capture_path)
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
                   "LANG", "LANGUAGE", "TZ", "XDG_CONFIG_HOME")}
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


# ---------------------------------------------------------------------------
# Running annc


class Result:
    def __init__(self, launch, returncode, timed_out):
        self.returncode = returncode
        self.timed_out = timed_out
        self.stdout = launch.stdout_bytes()
        self.stderr = launch.stderr_bytes()
        self.t_start = launch.t_start
        self.t_end = launch.t_end
        self.tz_offset = launch.tz_offset
        self.args = launch.args
        self.sandbox = launch.sandbox
        self.termios_before = launch.termios_before
        self.termios_after = launch.termios_after
        self.words = launch.sandbox.captured_words()

    @property
    def beeps(self):
        return self.stderr.count(BEL)

    def describe(self):
        return ("annc %r: exit %r%s\n  stdout=%r\n  stderr=%r\n  words=%r"
                % (self.args, self.returncode,
                   " (timed out, killed)" if self.timed_out else "",
                   self.stdout[:600], self.stderr[:300], self.words[:60]))


class Launch:
    """A running annc.

    stdin:  "pipe" (the test writes keys into it), "pty", "devnull",
            "eof" (a pipe already closed by its writer), or bytes written
            into a pipe at once (the pipe stays open).
    stdout: "pipe", "pty" (the same pseudo-terminal as stdin when stdin is
            "pty"), "closed" (file descriptor 1 not open at all), or
            "broken" (a pipe whose reading end is already closed).
    serial: a SerialLine whose slave annc inherits (pass its fd in args).
    """

    def __init__(self, sandbox, args, stdin="pipe", stdout="pipe",
                 serial=None, cwd=None, tz_offset=0, env=None,
                 pass_fds=()):
        self.sandbox = sandbox
        self.args = [to_bytes(a) for a in args]
        self.tz_offset = tz_offset
        self.termios_before = self.termios_after = None
        self._pty_master = self._pty_slave = None
        self._stdin_w = None
        self._stdout_reader = None
        self.proc = None

        fds = list(pass_fds)
        if serial is not None:
            fds.append(serial.fd)
        if stdin == "pty" or stdout == "pty":
            self._pty_master, self._pty_slave = open_pty()
            self.termios_before = termios.tcgetattr(self._pty_slave)

        close_after = []
        if stdin == "pty":
            child_stdin = self._pty_slave
        elif stdin == "devnull":
            child_stdin = subprocess.DEVNULL
        else:
            r, w = os.pipe()
            child_stdin = r
            close_after.append(r)
            self._stdin_w = w
            if isinstance(stdin, (bytes, bytearray)):
                os.write(w, stdin)
            elif stdin == "eof":
                self.close_stdin()
            elif stdin != "pipe":
                raise ValueError("unknown stdin %r" % stdin)

        cmd = [sandbox.exe] + self.args
        if stdout == "pty":
            child_stdout = self._pty_slave
        elif stdout == "pipe":
            child_stdout = subprocess.PIPE
        elif stdout == "closed":
            child_stdout = None
            # Close descriptor 1 in the child right before annc starts.
            cmd = ["/bin/sh", "-c", 'exec "$0" "$@" >&-'] + cmd
        elif stdout == "broken":
            r, w = os.pipe()
            os.close(r)
            child_stdout = w
            close_after.append(w)
        else:
            raise ValueError("unknown stdout %r" % stdout)

        self.t_start = time.time()
        self.t_end = None
        self.proc = subprocess.Popen(
            cmd, stdin=child_stdin, stdout=child_stdout,
            stderr=subprocess.PIPE, cwd=cwd or sandbox.cwd,
            env=env or sandbox.env(tz_offset), pass_fds=fds,
            start_new_session=True)
        for fd in close_after:
            os.close(fd)
        if stdout == "pty":
            self._stdout_reader = _FdReader(self._pty_master)
        elif stdout == "pipe":
            self._stdout_reader = _FdReader(self.proc.stdout.fileno())
        self._stderr_reader = _FdReader(self.proc.stderr.fileno())

    @property
    def pid(self):
        return self.proc.pid

    # Input.

    def press_key(self, key=b"k"):
        """Writes one key into standard input (pipe or terminal)."""
        if self._stdin_w is not None:
            os.write(self._stdin_w, key)
        elif self._pty_master is not None:
            os.write(self._pty_master, key)
        else:
            raise RuntimeError("standard input takes no keys in this run")

    def close_stdin(self):
        if self._stdin_w is not None:
            os.close(self._stdin_w)
            self._stdin_w = None

    # Observation while running.

    def stdout_bytes(self):
        return self._stdout_reader.snapshot() if self._stdout_reader else b""

    def stderr_bytes(self):
        return self._stderr_reader.snapshot()

    def running(self):
        return self.proc.poll() is None

    def wait_until(self, condition, timeout=15.0, what="condition"):
        """Polls condition() until it holds; fails when annc ends first or
        the time runs out."""
        deadline = time.monotonic() + timeout
        while True:
            if condition():
                return
            if not self.running():
                # One last look: the condition may have come true on exit.
                time.sleep(0.1)
                if condition():
                    return
                raise AssertionError(
                    "annc ended (exit %r) before %s; stdout=%r stderr=%r "
                    "words=%r" % (self.proc.returncode, what,
                                  self.stdout_bytes()[:400],
                                  self.stderr_bytes()[:200],
                                  self.sandbox.captured_words()[:40]))
            if time.monotonic() > deadline:
                raise AssertionError(
                    "timed out waiting for %s; stdout=%r stderr=%r words=%r"
                    % (what, self.stdout_bytes()[:400],
                       self.stderr_bytes()[:200],
                       self.sandbox.captured_words()[:40]))
            time.sleep(0.02)

    def wait_stdout_count(self, needle, count=1, timeout=15.0):
        needle = to_bytes(needle)
        self.wait_until(lambda: self.stdout_bytes().count(needle) >= count,
                        timeout, "%d x %r on stdout" % (count, needle))

    def wait_words(self, count=1, timeout=15.0):
        """Until at least count words have been captured."""
        self.wait_until(lambda: len(self.sandbox.captured()) >= count,
                        timeout, "%d captured words" % count)

    def wait_word(self, word, count=1, timeout=15.0):
        """Until the count-th playing of word has been captured."""
        self.wait_until(
            lambda: [w.name for w in self.sandbox.captured()].count(word)
            >= count, timeout, "%d x word %r captured" % (count, word))

    def wait_cycle_started(self, n=1, timeout=15.0):
        """Until a word of cycle n has been captured (cycle n has begun)."""
        def started():
            seps = 0
            for word in self.sandbox.captured():
                if seps == 2 * (n - 1):
                    return True     # a word after the last cycle's end
                if word.name == SEPARATOR:
                    seps += 1
            return False
        self.wait_until(started, timeout, "start of cycle %d" % n)

    def cpu_ticks(self):
        """User plus system CPU time of annc so far, in clock ticks."""
        with open("/proc/%d/stat" % self.proc.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])

    # The end.

    def signal(self, sig):
        if self.running():
            self.proc.send_signal(sig)

    def wait(self, timeout=DEFAULT_TIMEOUT):
        timed_out = False
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            timed_out = True
            self.proc.kill()
            self.proc.wait()
        self.t_end = time.time()
        if self._stdout_reader is not None:
            if self._pty_master is not None and \
                    self._stdout_reader.fd == self._pty_master:
                self._stdout_reader.stop()
            else:
                self._stdout_reader.wait_eof(5.0)
        self._stderr_reader.wait_eof(5.0)
        if self._pty_slave is not None:
            self.termios_after = termios.tcgetattr(self._pty_slave)
        result = Result(self, self.proc.returncode, timed_out)
        self._close()
        return result

    def _close(self):
        self.close_stdin()
        for fd in (self._pty_master, self._pty_slave):
            if fd is not None:
                try:
                    os.close(fd)
                except OSError:
                    pass
        self._pty_master = self._pty_slave = None
        for stream in (self.proc.stdout, self.proc.stderr):
            if stream is not None:
                stream.close()

    def kill(self):
        if self.running():
            self.proc.kill()
        return self.wait(5.0)


def run_cycles(sandbox, args, cycles=1, stdin="pty", stdout="pty",
               timeout=DEFAULT_TIMEOUT, **kw):
    """Runs annc for exactly `cycles` announcement cycles: the key is pressed
    while the last wanted cycle is being spoken, so annc ends after it.

    With stdout on a terminal the caller lines show each cycle's start;
    otherwise the captured sound does (needs the capture device)."""
    launch = sandbox.launch(args, stdin=stdin, stdout=stdout, **kw)
    try:
        if stdout == "pty":
            # The caller line ends with CR LF; the banner's two lines and
            # the serial confirmations come first.
            def lines_after_banner():
                out = launch.stdout_bytes()
                at = out.find(BANNER)
                return -1 if at < 0 else out[at + len(BANNER):].count(b"\r\n")
            launch.wait_until(lambda: lines_after_banner() >= cycles,
                              timeout / 2, "caller line %d" % cycles)
        else:
            launch.wait_cycle_started(cycles, timeout / 2)
        launch.press_key()
    except BaseException:
        launch.kill()
        raise
    return launch.wait(timeout)


def run_parallel(jobs, workers=6):
    """Runs callables on threads; returns their results in order.  An
    exception in a job is re-raised here."""
    from concurrent.futures import ThreadPoolExecutor
    with ThreadPoolExecutor(max_workers=workers) as pool:
        futures = [pool.submit(job) for job in jobs]
        return [f.result() for f in futures]


# ---------------------------------------------------------------------------
# Assertions shared by the test files


class AnncTestCase(unittest.TestCase):
    maxDiff = None

    def sandbox(self, **kw):
        sb = Sandbox(**kw)
        self.addCleanup(sb.cleanup)
        return sb

    def assertExit(self, result, code):
        self.assertFalse(result.timed_out, "annc did not end in time:\n"
                         + result.describe())
        self.assertEqual(result.returncode, code, result.describe())

    def assertNothingPlayed(self, result):
        self.assertEqual(result.words, [], result.describe())
        self.assertEqual(result.beeps, 0, result.describe())

    def assertCycles(self, result, number, count=1, device_ok=True):
        """The run spoke exactly `count` whole cycles for number, at a time
        between its start and its end.  Words whose recordings are missing
        must have beeped instead (one BEL each); with device_ok False every
        word must have beeped and nothing may have been played."""
        present = result.sandbox.word_samples if device_ok else {}
        options = candidate_cycles(number, result.t_start, result.t_end,
                                   result.tz_offset)
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
