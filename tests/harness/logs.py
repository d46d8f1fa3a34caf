"""Log lines: "<prefix> dd-Mon-yyyy hh:mm:ss <message>", CR LF ended."""

import datetime
import re

from .rules import local_time

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun",
          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
MONTH_RE = b"(?:" + b"|".join(m.encode() for m in MONTHS) + b")"


def timestamp_re(separator=b":"):
    """The time stamp of a log line as a pattern source; the separator
    between hour, minute and second is the locale's."""
    sep = re.escape(separator)
    return rb"\d\d-" + MONTH_RE + rb"-\d{4} \d\d" + sep + rb"\d\d" + sep \
        + rb"\d\d"


TIMESTAMP_RE = timestamp_re()


def log_line_re(prefix, separator, message):
    """One whole log line, CR LF included, as a pattern."""
    return re.compile(re.escape(prefix) + b" " + timestamp_re(separator)
                      + b" " + re.escape(message) + b"\r\n")


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


def log_lines(data):
    """Every line of a log (None or empty: no lines), parsed; a line
    without the log line format is None.  A log that does not end with
    CR LF fails the test."""
    if not data:
        return []
    if not data.endswith(b"\r\n"):
        raise AssertionError("log does not end with CR LF: %r" % data[-80:])
    return [parse_log_line(line) for line in data.split(b"\r\n")[:-1]]


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
