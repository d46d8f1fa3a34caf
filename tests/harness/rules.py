"""The words and pauses of an announcement, computed from the rules and
not from annc: which recordings a cycle plays for a number at a given
time, what they are called, and how long a cycle pauses."""

import datetime
import os
import re

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
               + [str(n) for n in range(1000, 2100, 100)]
               + ["caller-name"])

# The word a test records as the caller's name (annc's /N:FILE).
CALLER_NAME = "caller-name"

# Pauses of one cycle, in milliseconds: after the opening separator, after
# each digit group, after the closing separator.
OPENING_PAUSE_MS = 250
GROUP_PAUSE_MS = 250
CLOSING_PAUSE_MS = 450


def to_bytes(text):
    return text if isinstance(text, bytes) else os.fsencode(text)


def file_name(word):
    """The file name annc looks for when it plays the given word."""
    if word == SEPARATOR:
        return "InterDigit.Wav"
    if word == NOPHONE:
        return "nophone.wav"
    return word + ".wav"


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


def expected_cycle(number, hour, minute, name=()):
    """Every word of one announcement cycle, separators included; `name`,
    the words of a name recording, stands after the opening separator."""
    return (say_number(hour) + say_number(minute) + [SEPARATOR]
            + list(name) + number_words(number) + [SEPARATOR])


def cycle_pause_ms(number):
    """The pauses one cycle for number holds, in milliseconds: none after
    the recording of an unknown number, one after each digit group."""
    trimmed = trim_number(number)
    groups = 0 if is_unknown_number(trimmed) else len(number_groups(trimmed))
    return OPENING_PAUSE_MS + GROUP_PAUSE_MS * groups + CLOSING_PAUSE_MS


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


def candidate_cycles(number, t_start, t_end, offset_minutes=0, name=()):
    return [expected_cycle(number, h, m, name)
            for h, m in clock_readings(t_start, t_end, offset_minutes)]
