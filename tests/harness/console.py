"""The text annc writes to its console: banner, serial confirmations,
terminal title, caller lines, the report of an error that ends it, and the
BEL byte that is its beep."""

import re

from .rules import to_bytes

BANNER = b"Press ANY KEY to exit.\r\n" + b"=" * 20 + b"\r\n"
SERIAL_CONFIRMATIONS = (b" GetCommTimeouts \r\n"
                        b" SetCommTimeouts \r\n"
                        b" PurgeComm \r\n")
BEL = b"\x07"


# Save the terminal's title on its title stack, and restore it from there:
# annc saves the user's title before it sets its own and restores it on its
# way out.
TITLE_SAVE = b"\x1b[22;0t"
TITLE_RESTORE = b"\x1b[23;0t"


def title_sequence(text):
    """What annc writes to set its title to text: the user's title saved,
    then the title sequence, control bytes dropped."""
    clean = bytes(c for c in to_bytes(text) if c >= 32 and c != 127)
    return TITLE_SAVE + b"\x1b]0;" + clean + b"\x07"


def caller_line(number, name=b""):
    return to_bytes(number) + b" - " + to_bytes(name) + b"\r\n"


def report_re(kind, message):
    """The two-line report annc writes on standard output when an error
    ends it, as a pattern: the error's kind, the place it was raised (eight
    hexadecimal digits, group 1) and its message.  Use fullmatch, or
    search for it inside more output."""
    return re.compile(rb"Exception " + to_bytes(kind) + rb" in module annc "
                      rb"at ([0-9A-F]{8})\.\n" + re.escape(to_bytes(message))
                      + rb"\.\r\n")
