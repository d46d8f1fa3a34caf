"""Synthetic recordings, and the captured sound decoded back into words.

Each recording starts with one marker sample (-32768) followed by a body
of a constant value that belongs to that word alone.  The value survives
every plain PCM encoding (it is a multiple of 256), so a word can also be
written as 8-bit, 32-bit or stereo PCM and still be recognised.  Two equal
words in a row stay two words, since each starts with its own marker.
"""

import os
import struct
import wave

from .rules import EXTRA_WORDS, STANDARD_WORDS

MARKER = -32768
SAMPLE_RATE = 8000
WORD_FRAMES = 64          # frames per synthetic recording (8 ms at 8 kHz)

_ALL_WORDS = STANDARD_WORDS + EXTRA_WORDS
assert len(_ALL_WORDS) <= 127, "word codes must stay below 32768"
WORD_CODE = {name: 256 * (i + 1) for i, name in enumerate(_ALL_WORDS)}
CODE_WORD = {code: name for name, code in WORD_CODE.items()}


# ---------------------------------------------------------------------------
# Writing


def write_wav(path, samples, rate=SAMPLE_RATE, channels=1, width=2):
    """Writes 16-bit sample values (interleaved when channels > 1) as a
    PCM WAV file whose samples are width bytes wide (1, 2 or 4)."""
    if width == 2:
        data = struct.pack("<%dh" % len(samples), *samples)
    elif width == 1:
        data = bytes((v >> 8) + 128 for v in samples)
    elif width == 4:
        data = struct.pack("<%di" % len(samples), *[v << 16 for v in samples])
    else:
        raise ValueError("unsupported sample width %r" % width)
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(width)
        w.setframerate(rate)
        w.writeframes(data)


def write_float_wav(path, values, rate=SAMPLE_RATE):
    """A mono WAV of 32-bit IEEE floats (format 3, with the fact chunk
    such files carry), full scale at 1.0."""
    data = struct.pack("<%df" % len(values), *values)
    fmt = struct.pack("<HHIIHH", 3, 1, rate, rate * 4, 4, 32)
    body = (b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
            + b"fact" + struct.pack("<II", 4, len(values))
            + b"data" + struct.pack("<I", len(data)) + data)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


class WavFile:
    """What a PCM WAV file holds: its format and its 16-bit samples
    (interleaved when channels > 1)."""

    def __init__(self, path):
        with wave.open(path, "rb") as w:
            self.channels = w.getnchannels()
            self.width = w.getsampwidth()
            self.rate = w.getframerate()
            self.frames = w.getnframes()
            data = w.readframes(self.frames)
        self.samples = (struct.unpack("<%dh" % (len(data) // 2), data)
                        if self.width == 2 else None)

    @property
    def seconds(self):
        return self.frames / float(self.rate)


def write_word_wav(path, word, fmt="pcm16", frames=WORD_FRAMES):
    """Writes the recording of a word; returns the number of 16-bit samples
    it becomes once decoded (frames times channels).

    fmt: "pcm16" (8 kHz mono), "pcm8" (unsigned 8-bit), "pcm32",
    "stereo" (16-bit, both channels equal), "rate16k" (16-bit at 16 kHz).
    """
    values = [MARKER] + [WORD_CODE[word]] * (frames - 1)
    channels, width, rate = 1, 2, SAMPLE_RATE
    if fmt == "rate16k":
        rate = 16000
    elif fmt == "stereo":
        channels = 2
        values = [v for v in values for _ in range(2)]
    elif fmt == "pcm8":
        width = 1
    elif fmt == "pcm32":
        width = 4
    elif fmt != "pcm16":
        raise ValueError("unknown recording format %r" % fmt)
    write_wav(path, values, rate, channels, width)
    return len(values)


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


def capture_files(capture_path):
    """Paths of CAPTURE, CAPTURE.0001, ... in the order written: the file
    plugin opens a file of its own each time the device is opened, so
    with one opening a run each file holds one run's sound."""
    folder = os.path.dirname(capture_path)
    base = os.path.basename(capture_path)
    found = []
    try:
        names = os.listdir(folder)
    except FileNotFoundError:
        return []
    for name in names:
        if name == base:
            found.append((0, name))
        elif name.startswith(base + ".") and name[len(base) + 1:].isdigit():
            found.append((int(name[len(base) + 1:]), name))
    return [os.path.join(folder, name) for _, name in sorted(found)]


def capture_file(capture_path, index):
    """The path the index-th opening of the device writes to (0: the
    first)."""
    return capture_path if index == 0 else "%s.%04d" % (capture_path, index)


def read_capture_chunks(capture_path):
    """Raw bytes of each capture file, in the order written."""
    chunks = []
    for path in capture_files(capture_path):
        with open(path, "rb") as f:
            chunk = f.read()
        chunks.append(chunk[:len(chunk) & ~1])  # a sample may be half written
    return chunks


def read_capture_files(capture_path):
    """Raw bytes of CAPTURE, CAPTURE.0001, ... in the order written."""
    return b"".join(read_capture_chunks(capture_path))


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


class CapturedSound:
    """A stretch of captured samples between two words that is no word of
    the synthetic recordings (a real recording, such as a synthesized
    name)."""

    def __init__(self, samples):
        self.samples = samples      # the 16-bit values, in order

    def non_silent(self):
        """How many samples lie from the first to the last one that is not
        zero (leading and trailing silence left out)."""
        loud = [i for i, v in enumerate(self.samples) if v != 0]
        return loud[-1] - loud[0] + 1 if loud else 0

    def label(self):
        return "~sound[%d samples]" % len(self.samples)

    def __repr__(self):
        return self.label()


# A run this long of one word's value after a marker is a synthetic word:
# real sound never holds a value that still.
_WORD_MIN_RUN = 8


def decode_words_and_sound(raw, expected_samples):
    """Like decode_samples, for a stream that also holds real recordings:
    CapturedWords for the synthetic words, and one CapturedSound for each
    stretch of other samples between them (a stretch of zeros alone, the
    silence of a pause, is left out)."""
    samples = struct.unpack("<%dh" % (len(raw) // 2), raw)
    items, other = [], []

    def flush():
        if any(other):
            items.append(CapturedSound(tuple(other)))
        other.clear()

    i, n = 0, len(samples)
    while i < n:
        if samples[i] == MARKER:
            j = i
            while j < n and samples[j] == MARKER:
                j += 1
            code = samples[j] if j < n else None
            k = j
            while k < n and samples[k] == code:
                k += 1
            if code in CODE_WORD and k - j >= min(_WORD_MIN_RUN, n - j):
                flush()
                name = CODE_WORD[code]
                items.append(CapturedWord(name, k - i,
                                          expected_samples.get(name)))
                i = k
                continue
        other.append(samples[i])
        i += 1
    flush()
    return items
