#!/usr/bin/env python3
"""A sound sink that takes samples no faster than they would be heard.

    python3 bench/paced_sink.py FIFO BYTES_PER_SECOND LOG

ALSA's file plugin writes everything annc plays into FIFO (a named pipe).
This reader empties the pipe at BYTES_PER_SECOND, so a word of 0.5 s takes
0.5 s to write and annc's drain returns when its last bytes are taken, as on
a sound card.  What the writer can be ahead of the sound is what the pipe
holds plus one read: the pipe is shrunk to one page before the writer opens
it (so nothing is queued at the old 64 KiB size), and reads are of one page.

LOG gets one line per event, times in CLOCK_MONOTONIC seconds (Python's
time.monotonic and time.perf_counter use the same clock):
  ready PID PIPE_BYTES   the pipe is shrunk; the writer may open it now
  sound START END        a stretch of sound without a break: START when its
                         first bytes were taken, END when its last would
                         have been heard
  end TIME TOTAL_BYTES   the writer closed the pipe
A stretch ends when the sink finds the pipe empty after the sound taken so
far has run out (the device runs dry); it starts again with the next bytes.
"""

import fcntl
import os
import select
import sys
import time

F_SETPIPE_SZ = 1031                     # Linux, <linux/fcntl.h>
PAGE = os.sysconf("SC_PAGE_SIZE")


def main():
    fifo, rate, log_path = sys.argv[1], float(sys.argv[2]), sys.argv[3]
    log = open(log_path, "w", buffering=1)
    # Open without waiting for a writer, shrink, then hold a write end of
    # our own so that the read side sees no end of file before annc comes.
    fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    size = fcntl.fcntl(fd, F_SETPIPE_SZ, PAGE)
    own_writer = os.open(fifo, os.O_WRONLY)
    os.set_blocking(fd, True)
    log.write("ready %d %d\n" % (os.getpid(), size))

    total = 0
    start = None                        # of the stretch being heard
    heard = 0.0                         # when what was taken has been heard
    while True:
        if start is not None and not select.select([fd], [], [], 0)[0]:
            # Nothing queued: wait out the sound already taken, then, if
            # still nothing, the stretch is over.
            left = heard - time.monotonic()
            if left > 0:
                time.sleep(left)
            if not select.select([fd], [], [], 0)[0]:
                log.write("sound %.6f %.6f\n" % (start, heard))
                start = None
        data = os.read(fd, PAGE)
        if not data:
            break
        if own_writer is not None:
            os.close(own_writer)        # annc holds the pipe open now
            own_writer = None
        now = time.monotonic()
        if start is None:
            start = heard = now
        heard += len(data) / rate
        total += len(data)
        # Take the next page only once this one has been heard (a late
        # wake-up is made up for: the device's clock does not wait).
        left = heard - time.monotonic()
        if left > 0:
            time.sleep(left)
    if start is not None:
        log.write("sound %.6f %.6f\n" % (start, heard))
    log.write("end %.6f %d\n" % (time.monotonic(), total))
    log.close()


if __name__ == "__main__":
    main()
