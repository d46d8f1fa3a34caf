"""Runs the real annc binary end to end and observes everything it does.

Each run gets a folder of its own (sandbox): a copy of the binary, a sound
folder of synthetic recordings (audio), a phone book, and an ALSA set-up
that captures every sample played into a file.  Observations: exit code,
the bytes of standard output and standard error (a BEL byte on standard
error is annc's beep; console), the captured samples decoded back into the
list of words played (audio), and the log files (logs).

Independently of annc the package also computes which words a cycle must
play for a number at a given time (rules), so that tests compare against
rules and not against recorded output.

Modules: rules, audio, console, logs, ptys, launch, sandbox, case, and for
every test, tool and benchmark alike: waiting (the one polling loop) and
procfs (the one reader of /proc).
"""

from .audio import (CODE_WORD, MARKER, SAMPLE_RATE, WORD_CODE, WORD_FRAMES,
                    CapturedSound, CapturedWord, WavFile, capture_file,
                    capture_files, decode_samples, decode_words_and_sound,
                    read_capture_chunks, read_capture_files,
                    write_float_wav, write_wav, write_word_wav)
from .case import AnncTestCase
from .console import (BANNER, BEL, SERIAL_CONFIRMATIONS, TITLE_RESTORE,
                      TITLE_SAVE, caller_line, report_re, title_sequence)
from .launch import (DEFAULT_TIMEOUT, Launch, Result, kill_group, run_cycles,
                     run_parallel)
from .logs import (LOG_LINE, MONTH_RE, MONTHS, TIMESTAMP_RE, log_line_re,
                   log_lines, log_time_in_window, parse_log_line,
                   timestamp_re)
from .procfs import (alive, bytes_read, children_of, command_line,
                     cpu_model, cpu_seconds, cpu_ticks, load_average,
                     open_files, rss_kib, stat_fields)
from .ptys import FdReader, SerialLine, open_pty
from .rules import (CALLER_NAME, CLOSING_PAUSE_MS, EXTRA_WORDS, GROUP_PAUSE_MS, NOPHONE,
                    NUMBER_WORDS, OPENING_PAUSE_MS, SEPARATOR, STANDARD_WORDS,
                    candidate_cycles, clock_readings, cycle_pause_ms,
                    expected_cycle, file_name, is_unknown_number,
                    local_time, number_groups, number_words, parse_integer,
                    say_number, to_bytes, trim_number, tz_setting)
from .sandbox import (DEFAULT_PHONE_BOOK, REPO_ROOT, Sandbox, annc_binary,
                      capture_asoundrc)
from .waiting import wait_until

__all__ = [
    "AnncTestCase", "BANNER", "BEL", "CALLER_NAME", "CLOSING_PAUSE_MS", "CODE_WORD",
    "CapturedSound", "CapturedWord", "DEFAULT_PHONE_BOOK", "DEFAULT_TIMEOUT", "EXTRA_WORDS",
    "FdReader", "GROUP_PAUSE_MS", "LOG_LINE", "Launch", "MARKER", "MONTHS",
    "MONTH_RE", "NOPHONE", "NUMBER_WORDS", "OPENING_PAUSE_MS", "REPO_ROOT",
    "Result", "SAMPLE_RATE", "SEPARATOR", "SERIAL_CONFIRMATIONS",
    "STANDARD_WORDS", "Sandbox", "SerialLine", "TIMESTAMP_RE",
    "TITLE_RESTORE", "TITLE_SAVE", "WORD_CODE", "WORD_FRAMES", "WavFile",
    "alive", "annc_binary", "bytes_read", "caller_line", "candidate_cycles",
    "capture_asoundrc", "capture_file", "capture_files", "children_of",
    "clock_readings", "command_line", "cpu_model", "cpu_seconds",
    "cpu_ticks", "cycle_pause_ms", "decode_samples",
    "decode_words_and_sound", "expected_cycle",
    "file_name", "is_unknown_number", "kill_group", "load_average", "local_time",
    "log_line_re", "log_lines", "log_time_in_window", "number_groups",
    "number_words", "open_files", "open_pty", "parse_integer",
    "parse_log_line", "read_capture_chunks", "read_capture_files",
    "report_re", "rss_kib", "run_cycles", "run_parallel", "say_number",
    "stat_fields", "timestamp_re", "title_sequence", "to_bytes",
    "trim_number", "tz_setting", "wait_until", "write_float_wav",
    "write_wav", "write_word_wav",
]
