"""End-to-end: the call history the real annc-line keeps in SQLite, read back
with Python's sqlite3 module.

Calls come from the emulated modem or the fake FRITZ!Box and are announced
by the real annc; each test looks at the rows the calls left in the file
(--history, in the sandbox), at annc-line's status lines and at when annc's
sound began.  The history is also held by another writer, made immutable
while annc-line runs, filled from a calls log by --import-log, and written
by a "newer" annc-line.

The sandbox's time zone is put 90 minutes east of UTC here, so that the
rows' times must carry that offset.
"""

import datetime
import os
import re
import sqlite3
import subprocess
import time
import unittest
from contextlib import closing

from harness import capture_file, wait_until
from line_harness import LineTestCase, annc_line_binary
from fritz_box import connect_line, disconnect_line, ring_line
from modem_emulator import north_american_block

TZ_MINUTES = 90
TZ_OFFSET = datetime.timedelta(minutes=TZ_MINUTES)
# annc notices the end of the call at its next look at the line (see
# test_e2e_line_calls).
END_MARGIN = 3.0
# Rows that wait are tried again this often, and this much later is late.
RETRY_S = 2.0
RETRY_MARGIN = 1.5
# How long the other writer holds the history.
LOCK_S = 5.0
# annc's first sound with the history held may come this much later than
# without (the existing tests give an announcer 1.5 s past its due time;
# a write that waited for the lock would take seconds).
LOCKED_SOUND_MARGIN = 1.0
OUTAGE = "cannot write the call history "
CAUGHT_UP = " written again ("


def iso(text):
    """An ISO 8601 time with its offset, as a datetime; fails the test on
    another shape (a time without an offset)."""
    value = datetime.datetime.fromisoformat(text)
    if value.tzinfo is None:
        raise AssertionError("no offset in %r" % text)
    return value


class HistoryCase(LineTestCase):

    def history_path(self, sb):
        return os.path.join(sb.root, "history", "calls.db")

    def run_line(self, sb, device, args=(), **kw):
        """annc-line with the history in the sandbox and the time zone
        TZ_MINUTES east of UTC."""
        kw.setdefault("env", sb.env(tz_offset=TZ_MINUTES))
        return self.start(sb, device,
                          ["--history", self.history_path(sb)] + list(args),
                          **kw)

    def rows(self, path):
        """Every row of the calls table, as dicts, in id order."""
        with closing(sqlite3.connect(path, timeout=0.5)) as db:
            db.row_factory = sqlite3.Row
            return [dict(r) for r in db.execute(
                "SELECT * FROM calls ORDER BY id")]

    def wait_rows(self, path, count, ended=True, timeout=10.0):
        """Waits for `count` rows (each completed, unless not `ended`)."""
        def there():
            try:
                rows = self.rows(path)
            except sqlite3.Error:
                return None
            done = [r for r in rows if r["ended"] is not None or not ended]
            return rows if len(done) >= count else None
        return wait_until(there, timeout, "%d rows in %s" % (count, path),
                          describe=lambda: repr(self.rows(path)))

    def assertTimes(self, row, t_start, t_end):
        """time and ended in the sandbox's zone, within the run, and
        duration their difference."""
        began, ended = iso(row["time"]), iso(row["ended"])
        self.assertEqual(began.utcoffset(), TZ_OFFSET, row)
        self.assertEqual(ended.utcoffset(), TZ_OFFSET, row)
        self.assertEqual(row["started_at"], int(began.timestamp()), row)
        self.assertGreaterEqual(began.timestamp(), int(t_start) - 1, row)
        self.assertLessEqual(ended.timestamp(), t_end + 1, row)
        self.assertIsInstance(row["duration"], int, row)
        self.assertGreaterEqual(row["duration"], 0, row)
        self.assertEqual(row["duration"],
                         int(ended.timestamp() - began.timestamp()), row)

    def first_sound(self, sb, index, start, timeout=10.0):
        """Seconds from `start` (time.monotonic) until announcer number
        `index` played its first sample."""
        path = capture_file(sb.capture_path, index)

        def sounded():
            try:
                return os.path.getsize(path) > 0
            except OSError:
                return False
        wait_until(sounded, timeout, "sound in %s" % path, interval=0.002)
        return time.monotonic() - start

    def modem_call(self, sb, emu, run, number, name, index):
        """A call announced on the emulated modem and ended by NO CARRIER
        once annc has spoken a few words; returns the seconds from the
        end of its caller-ID block to annc's first sound."""
        sound = self.call_comes(sb, emu, number, name, index)
        self.call_ends(sb, emu, run, index)
        return sound

    def call_comes(self, sb, emu, number, name, index):
        """The caller-ID block of call number `index` (0: the first of the
        run); the seconds from its end to annc's first sound."""
        block_end = emu.play(north_american_block(number, name))
        return self.first_sound(sb, index, block_end)

    def call_ends(self, sb, emu, run, index):
        """Call number `index` ended by NO CARRIER once annc has spoken a
        few words; waits for its end and its announcer's."""
        run.wait_for(lambda: len(self.calls_played(sb)) > index
                     and len(self.calls_played(sb)[index]) >= 3,
                     "3 words of announcement %d" % index)
        emu.send_line("NO CARRIER")
        run.wait_status("call ended", index + 1, timeout=END_MARGIN + 2)
        run.wait_for(lambda: run.announcers() == [], "the announcer's end",
                     END_MARGIN)


class ModemHistoryTest(HistoryCase):

    def test_announced_call_gives_one_complete_row(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        run = self.run_line(sb, emu, ["--once"])
        # 5551234 is in the sandbox's phone book as Ann Lee.
        emu.play(north_american_block("5551234", "ANN LEE"))
        emu.ring_until(lambda: sum(map(len, self.calls_played(sb))) >= 12,
                       gap=0.4, limit=30)
        self.assertExitCode(run, 0)
        rows = self.rows(self.history_path(sb))
        self.assertEqual(len(rows), 1, rows)
        row = rows[0]
        self.assertEqual(row["source"], "modem:" + emu.link)
        self.assertEqual(row["number"], "5551234")
        self.assertEqual(row["withheld"], 0)
        self.assertEqual(row["network_name"], "ANN LEE")
        self.assertEqual(row["name"], "Ann Lee")
        self.assertEqual(row["name_source"], "book")
        self.assertEqual(row["decision"], "announce")
        self.assertEqual(row["rule"], "")
        self.assertEqual(row["announced"], 1)
        self.assertEqual(row["hung_up"], 0)
        self.assertEqual(row["stopped_by_key"], 0)
        # Every ring the modem sent, the first before the block.
        self.assertGreater(row["rings"], 0)
        self.assertEqual(row["rings"], len(emu.ring_times()), row)
        # A modem cannot tell whether somebody answered.
        self.assertIsNone(row["answered"])
        self.assertIsNone(row["log_line"])
        self.assertTimes(row, run.t_start, run.t_end)
        self.assertEqual(len(self.calls_played(sb)), 1)

    def test_network_name_of_a_number_in_no_book(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        run = self.run_line(sb, emu)
        self.modem_call(sb, emu, run, "5550000", "JOHN DOE", 0)
        row, = self.wait_rows(self.history_path(sb), 1)
        self.assertEqual((row["number"], row["network_name"], row["name"],
                          row["name_source"], row["announced"]),
                         ("5550000", "JOHN DOE", "JOHN DOE", "network", 1))
        self.assertTimes(row, run.t_start, time.time())

    def test_blocked_call_row_names_the_rule(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        with open(os.path.join(sb.cwd, "calls.block"), "w") as f:
            f.write("# junk callers\n\n5551234 #= Car warranty\n")
        run = self.run_line(sb, emu, ["--once", "--block", "calls.block"])
        emu.play(north_american_block("5551234", "ANN LEE"))
        emu.ring_until(lambda: False, gap=0.4, limit=4.0)
        self.assertExitCode(run, 0)
        said = re.search(r"blocked by (.+); hung up\n", run.stderr())
        self.assertIsNotNone(said, run.stderr())
        rows = self.rows(self.history_path(sb))
        self.assertEqual(len(rows), 1, rows)
        row = rows[0]
        self.assertEqual(row["decision"], "block")
        self.assertEqual(row["rule"], said.group(1))
        self.assertEqual(row["rule"], "calls.block line 3")
        self.assertEqual(row["hung_up"], 1)
        self.assertEqual(row["announced"], 0)
        self.assertEqual(row["number"], "5551234")
        self.assertGreater(row["rings"], 0)
        self.assertIsNone(row["answered"])
        self.assertTimes(row, run.t_start, run.t_end)
        self.assertEqual(self.calls_played(sb), [])


class FritzHistoryTest(HistoryCase):

    def test_answered_and_unanswered_calls(self):
        sb = self.sandbox()
        box = self.fritz_box()
        run = self.run_line(sb, box, ring_timeout=None)
        box.wait_clients(1)
        path = self.history_path(sb)
        # Answered on an extension, then a second of talk.
        box.send_line(ring_line(2, "5551234", "5559876", "SIP0"))
        run.wait_for(run.announcers, "an announcer")
        box.send_line(connect_line(2, extension=1))
        run.wait_status("call answered on line 2")
        time.sleep(1.0)
        box.send_line(disconnect_line(2, 1))
        answered, = self.wait_rows(path, 1)
        # Never answered: ended by the caller.
        box.send_line(ring_line(3, "5550000", "5551111", "SIP1"))
        run.wait_for(run.announcers, "an announcer")
        box.send_line(disconnect_line(3, 0))
        run.wait_status("call ended on line 3")
        rows = self.wait_rows(path, 2)
        self.assertEqual(rows[0], answered)
        unanswered = rows[1]
        source = "fritz:127.0.0.1:%d" % box.port
        self.assertEqual(
            (answered["source"], answered["line"], answered["called"],
             answered["number"], answered["decision"], answered["announced"],
             answered["answered"]),
            (source, "SIP0", "5559876", "5551234", "announce", 1, 1))
        self.assertEqual(
            (unanswered["source"], unanswered["line"], unanswered["called"],
             unanswered["number"], unanswered["announced"],
             unanswered["answered"]),
            (source, "SIP1", "5551111", "5550000", 1, 0))
        self.assertGreaterEqual(answered["duration"], 1, answered)
        for row in rows:
            self.assertTimes(row, run.t_start, time.time())


class OutageTest(HistoryCase):

    def test_history_held_by_another_writer(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        run = self.run_line(sb, emu)
        path = self.history_path(sb)
        free = self.modem_call(sb, emu, run, "5551234", "ANN LEE", 0)
        self.wait_rows(path, 1)
        with closing(sqlite3.connect(path, isolation_level=None)) as other:
            other.execute("BEGIN EXCLUSIVE")
            locked_at = time.monotonic()
            try:
                held = self.call_comes(sb, emu, "5559876", "BOB", 1)
                self.assertLess(held, free + LOCKED_SOUND_MARGIN,
                                "first sound %.3f s after the block, %.3f s "
                                "without the lock" % (held, free))
                self.call_ends(sb, emu, run, 1)
                # The call went on and ended while the history was held:
                # nothing waited for the lock.
                self.assertLess(time.monotonic() - locked_at, LOCK_S,
                                "the call took the whole lock time")
                self.assertEqual(len(self.rows(path)), 1)
                self.assertEqual(run.stderr().count(OUTAGE), 1, run.stderr())
                time.sleep(max(0.0, locked_at + LOCK_S - time.monotonic()))
                self.assertEqual(len(self.rows(path)), 1)
            finally:
                other.execute("ROLLBACK")
            released = time.monotonic()
        rows = self.wait_rows(path, 2, timeout=RETRY_S + RETRY_MARGIN)
        self.assertLess(time.monotonic() - released, RETRY_S + RETRY_MARGIN)
        self.assertEqual(rows[1]["number"], "5559876")
        self.assertEqual(rows[1]["announced"], 1)
        self.assertTimes(rows[1], run.t_start, time.time())
        run.wait_status(CAUGHT_UP)
        status = run.stderr()
        self.assertEqual(status.count(OUTAGE), 1, status)
        self.assertIn("annc-line: cannot write the call history %s: database "
                      "is locked; its calls are kept until it can be "
                      "written\n" % path, status)
        self.assertEqual(status.count(CAUGHT_UP), 1, status)
        self.assertIn("annc-line: call history %s written again (1 row caught "
                      "up)\n" % path, status)
        self.assertEqual(len(self.calls_played(sb)), 2)

    def test_history_made_immutable_while_running(self):
        # In WAL mode the rows go to calls.db-wal, through a descriptor
        # annc-line holds open: with only calls.db immutable the writes go
        # on as before (calls.db is written at a checkpoint, after 1000
        # pages). The write fails (EPERM, SQLite's "disk I/O error") once
        # calls.db-wal is immutable too, so both are made immutable.
        sb = self.sandbox()
        emu = self.modem(sb)
        run = self.run_line(sb, emu)
        path = self.history_path(sb)
        self.modem_call(sb, emu, run, "5551234", "ANN LEE", 0)
        self.wait_rows(path, 1)
        files = [path, path + "-wal"]
        self.assertTrue(os.path.exists(files[1]), os.listdir(
            os.path.dirname(path)))
        made = []

        def writable():
            for name in made:
                subprocess.run(["chattr", "-i", name], check=False)
            del made[:]
        self.addCleanup(writable)
        for name in files:
            done = subprocess.run(["chattr", "+i", name], capture_output=True,
                                  text=True)
            if done.returncode != 0:
                writable()
                self.skipTest("chattr +i %s failed (root and a file system "
                              "with the immutable flag needed): %s"
                              % (name, done.stderr.strip()))
            made.append(name)
        self.modem_call(sb, emu, run, "5559876", "BOB", 1)
        run.wait_status(OUTAGE)
        self.assertEqual(len(self.rows(path)), 1)
        # Still immutable over a few retries: said once.
        time.sleep(RETRY_S + 0.5)
        self.assertEqual(len(self.rows(path)), 1)
        writable()
        released = time.monotonic()
        rows = self.wait_rows(path, 2, timeout=RETRY_S + RETRY_MARGIN)
        self.assertLess(time.monotonic() - released, RETRY_S + RETRY_MARGIN)
        self.assertEqual(rows[1]["number"], "5559876")
        self.assertEqual(rows[1]["announced"], 1)
        run.wait_status(CAUGHT_UP)
        status = run.stderr()
        self.assertEqual(status.count(OUTAGE), 1, status)
        # The cause SQLite gave for the failed write, not what the
        # rollback after it said.
        self.assertIn("annc-line: cannot write the call history %s: disk I/O "
                      "error; its calls are kept until it can be written\n"
                      % path, status)
        self.assertEqual(status.count(CAUGHT_UP), 1, status)
        self.assertIn("call history %s written again (1 row caught up)\n"
                      % path, status)
        # The next call is written at once.
        self.modem_call(sb, emu, run, "5550000", "JOHN DOE", 2)
        rows = self.wait_rows(path, 3, timeout=1.0)
        self.assertEqual(rows[2]["number"], "5550000")
        self.assertEqual(len(self.calls_played(sb)), 3)
        status = run.stderr()
        self.assertEqual(status.count(OUTAGE), 1, status)
        self.assertEqual(status.count(CAUGHT_UP), 1, status)


MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep",
          "Oct", "Nov", "Dec"]
UNREADABLE = ["hello", "X 08-Dec-2026 05:08:56 5551234",
              "  31-Feb-2026 05:08:56 5551234"]
NO_CALL = "? 08-Dec-2026 05:08:57  GetCommTimeouts Bad file descriptor"


def calls_log(count):
    """A calls log of `count` calls a minute apart, as annc and annc-line
    write it (CR LF line ends), with the marks ' ', 'B' and 'Q' in turn,
    some calls without a name and some withheld; then the lines that are
    no calls. Returns (bytes, {decision: count})."""
    lines, decisions = [], {"announce": 0, "block": 0, "quiet": 0}
    start = datetime.datetime(2026, 1, 1, 8, 0, 0)
    for i in range(count):
        when = start + datetime.timedelta(minutes=i)
        mark = " BQ"[i % 3]
        decisions[{" ": "announce", "B": "block", "Q": "quiet"}[mark]] += 1
        number = "Unknown" if i % 7 == 0 else "555%04d" % (i % 10000)
        message = number if i % 5 == 0 else "%s - Caller %d" % (number, i)
        lines.append("%s %02d-%s-%d %02d:%02d:%02d %s" % (
            mark, when.day, MONTHS[when.month - 1], when.year, when.hour,
            when.minute, when.second, message))
    lines[100:100] = UNREADABLE
    lines.append(NO_CALL)
    return ("\r\n".join(lines) + "\r\n").encode("latin-1"), decisions


class ImportTest(HistoryCase):

    def import_log(self, sb, log, history):
        done = subprocess.run(
            [annc_line_binary(), "--import-log", log, "--history", history],
            cwd=sb.cwd, env=sb.env(tz_offset=TZ_MINUTES), capture_output=True,
            timeout=60)
        return done.returncode, done.stderr.decode("latin-1")

    def test_log_imported_twice_gives_each_call_once(self):
        sb = self.sandbox()
        data, decisions = calls_log(10000)
        with open(os.path.join(sb.cwd, "calls.log"), "wb") as f:
            f.write(data)
        history = self.history_path(sb)
        tail = "; 3 lines unreadable, left out; 1 lines of no call\n"
        code, err = self.import_log(sb, "calls.log", history)
        self.assertEqual((code, err), (0, "annc-line: imported 10000 of 10000 "
                                       "calls from calls.log (0 there "
                                       "already)" + tail))
        code, err = self.import_log(sb, "calls.log", history)
        self.assertEqual((code, err), (0, "annc-line: imported 0 of 10000 "
                                       "calls from calls.log (10000 there "
                                       "already)" + tail))
        with closing(sqlite3.connect(history)) as db:
            self.assertEqual(db.execute("SELECT COUNT(*) FROM calls")
                             .fetchone()[0], 10000)
            self.assertEqual(dict(db.execute(
                "SELECT decision, COUNT(*) FROM calls GROUP BY decision")),
                decisions)
            self.assertEqual(db.execute(
                "SELECT COUNT(*) FROM calls WHERE withheld = 1").fetchone()[0],
                len(range(0, 10000, 7)))
            first = db.execute(
                "SELECT time, number, withheld, log_line FROM calls WHERE "
                "log_line LIKE '% 01-Jan-2026 08:01:00 %'").fetchall()
        # The log's times are local times, kept with the zone's offset.
        self.assertEqual(first, [("2026-01-01T08:01:00+01:30", "5550001", 0,
                                  "B 01-Jan-2026 08:01:00 5550001 - Caller 1")])

    def test_missing_log(self):
        sb = self.sandbox()
        code, err = self.import_log(sb, "missing.log", self.history_path(sb))
        self.assertEqual(code, 1, err)
        self.assertEqual(len(err.splitlines()), 1, err)
        self.assertIn("missing.log", err)


class NewerHistoryTest(HistoryCase):

    def test_history_of_a_newer_annc_line_is_refused(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        path = self.history_path(sb)
        os.makedirs(os.path.dirname(path))
        with closing(sqlite3.connect(path)) as db:
            db.execute("CREATE TABLE calls (id INTEGER PRIMARY KEY, what TEXT)")
            db.execute("PRAGMA user_version=99")
            db.commit()
        run = self.run_line(sb, emu, wait_ready=False)
        self.assertExitCode(run, 1)
        lines = run.status_lines()
        self.assertEqual(len(lines), 1, lines)
        self.assertIn(path, lines[0])
        self.assertIn("newer", lines[0])
        with closing(sqlite3.connect(path)) as db:
            self.assertEqual(db.execute("PRAGMA user_version").fetchone()[0],
                             99)
        self.assertEqual(self.calls_played(sb), [])


if __name__ == "__main__":
    unittest.main()
