"""The text annc writes to its console: banner, serial confirmations,
terminal title, caller lines, and the BEL byte that is its beep."""

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
