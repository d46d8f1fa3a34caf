"""annc-web changing what the real annc-line and annc do: a caller blocked
from the caller page is hung up on by annc-line on the emulated modem, and
a name given from the page is the one annc announces and logs."""

import os
import sqlite3
import time
import unittest
import urllib.parse
from contextlib import closing

import test_e2e_web as base
from line_harness import LineTestCase, annc_line_binary
from modem_emulator import north_american_block
from test_e2e_web_pages import forms_of

LOG = "calls.log"


@unittest.skipUnless(base.BINARY and os.path.isfile(annc_line_binary()),
                     "ANNC_WEB_BINARY and ANNC_LINE_BINARY name no programs")
class WebLineTest(LineTestCase):
    request = base.WebTest.request

    def web(self, sb, history, block, book):
        deadline = time.monotonic() + 10
        while not os.path.exists(history) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.work = sb.root
        self.history = history
        self.process = None
        self.addCleanup(self.stop_web)
        base.WebTest.start(self, "--block", block, "--book", book)

    def stop_web(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)
        if self.process is not None:
            self.process.stderr.close()

    def submit(self, cookie, number, action, **values):
        response, body = self.request("GET", "/caller?number=" + number, cookie=cookie)
        self.assertEqual(response.status, 200)
        form, = [f for f in forms_of(body).forms if f["action"] == action]
        fields = dict(form["fields"])
        fields.update(values)
        response, _ = self.request("POST", action, body=urllib.parse.urlencode(fields), cookie=cookie,
                                   headers={"Origin": "http://127.0.0.1:%d" % self.port})
        self.assertEqual(response.status, 303)

    def test_block_and_name_from_the_page(self):
        sb = self.sandbox()
        emu = self.modem(sb)
        block = os.path.join(sb.cwd, "calls.block")
        with open(block, "wb") as f:
            f.write(b"# junk\n")
        book = os.path.join(sb.sound_dir, "aon.db")
        history = os.path.join(sb.root, "calls.db")
        run = self.start(sb, emu, ["--block", block, "--history", history, "--log", LOG])
        self.web(sb, history, block, book)
        cookie, _ = base.WebTest.session(self)

        self.submit(cookie, "5550123", "/caller/block", label="Car warranty")
        emu.play(north_american_block("5550123", "SOMEONE"))
        emu.ring_until(lambda: False, gap=0.4, limit=3.0)
        emu.wait_command("ATH1")
        run.wait_status("; hung up")
        self.assertIn("call from 5550123 (Car warranty): blocked by %s line 2; hung up\n" % block, run.stderr())
        deadline = time.monotonic() + 10
        rows = []
        while time.monotonic() < deadline:
            with closing(sqlite3.connect(history)) as db:
                rows = db.execute("SELECT number, decision FROM calls").fetchall()
            if rows:
                break
            time.sleep(0.05)
        self.assertEqual(rows, [("5550123", "block")])
        self.assertEqual(self.calls_played(sb), [])

        self.submit(cookie, "5557777", "/caller/name", name="Zed Quill")
        time.sleep(2.5)  # the hang-up's hold ends and the modem is ready again
        emu.play(north_american_block("5557777", "O"))
        self.ring_until_spoken(emu, sb, 0)
        self.assertEqual(self.calls_logged(sb, os.path.join(sb.cwd, LOG))[-1:], [b"5557777 - Zed Quill"])


if __name__ == "__main__":
    unittest.main()
