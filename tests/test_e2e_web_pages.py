"""annc-web's lists, statistics and the caller page's changes over HTTP: the
real program on a free loopback port with a history made here and real
list and phone-book files."""

import html.parser
import os
import re
import sqlite3
import time
import unittest
import urllib.parse

import test_e2e_web as base

BINARY = base.BINARY
HOSTILE = base.HOSTILE_NAMES


class Forms(html.parser.HTMLParser):
    """The POST forms of a page: action, fields and the button's text; the
    elements with their classes; the text."""

    def __init__(self):
        super().__init__()
        self.forms = []
        self.form = None
        self.button = False
        self.elements = []
        self.text = []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.elements.append((tag, attrs))
        if tag == "form" and attrs.get("method") == "post":
            self.form = {"action": attrs["action"], "fields": {}, "button": ""}
            self.forms.append(self.form)
        elif tag == "input" and self.form is not None:
            self.form["fields"][attrs.get("name")] = attrs.get("value", "")
        elif tag == "button" and self.form is not None:
            self.button = True

    def handle_endtag(self, tag):
        if tag == "form":
            self.form = None
        if tag == "button":
            self.button = False

    def handle_data(self, data):
        self.text.append(data)
        if self.button and self.form is not None:
            self.form["button"] += data


def forms_of(body):
    parser = Forms()
    parser.feed(body.decode("utf-8"))
    return parser


class Cells(html.parser.HTMLParser):
    """The text of each <td class=...> cell per row of the tables with a
    given class."""

    def __init__(self, table_class):
        super().__init__()
        self.table_class = table_class
        self.depth = 0
        self.rows = []
        self.cell = None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "table" and attrs.get("class") == self.table_class:
            self.depth += 1
        elif self.depth and tag == "tr" and attrs.get("class") == "entry":
            self.rows.append({})
        elif self.depth and tag == "td" and self.rows and attrs.get("class"):
            self.cell = attrs["class"]
            self.rows[-1][self.cell] = ""

    def handle_endtag(self, tag):
        if tag == "table" and self.depth:
            self.depth -= 1
        if tag == "td":
            self.cell = None

    def handle_data(self, data):
        if self.cell is not None:
            self.rows[-1][self.cell] += data


def rows_of(body, table_class):
    parser = Cells(table_class)
    parser.feed(body.decode("utf-8"))
    return parser.rows


@unittest.skipUnless(BINARY, "ANNC_WEB_BINARY names no annc-web")
class PagesTest(unittest.TestCase):
    setUp = base.WebTest.setUp
    tearDown = base.WebTest.tearDown
    start = base.WebTest.start
    request = base.WebTest.request
    session = base.WebTest.session

    def files(self, block=b"# junk\n^0800 #= Freephone\n", allow=b"", book=None):
        self.block = os.path.join(self.work, "calls.block")
        self.allow = os.path.join(self.work, "calls.allow")
        self.book = os.path.join(self.work, "aon.db")
        for path, data in ((self.block, block), (self.allow, allow), (self.book, book)):
            if data is not None:
                with open(path, "wb") as f:
                    f.write(data)
        self.start("--block", self.block, "--allow", self.allow, "--book", self.book)

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def page_forms(self, path, cookie):
        response, body = self.request("GET", path, cookie=cookie)
        self.assertEqual(response.status, 200, path)
        return {f["action"] + ("#" + f["fields"]["list"] if "list" in f["fields"] else "")
                + ("@" + f["fields"]["line"] if "line" in f["fields"] else ""): f for f in forms_of(body).forms}

    def submit(self, form, cookie, **values):
        fields = dict(form["fields"])
        fields.update(values)
        body = urllib.parse.urlencode(fields)
        return self.request("POST", form["action"], body=body, cookie=cookie,
                            headers={"Origin": "http://127.0.0.1:%d" % self.port})

    def test_block_unblock_allow_from_the_caller_page(self):
        self.files()
        cookie, _ = self.session()
        forms = self.page_forms("/caller?number=5551234", cookie)
        self.assertEqual([forms[a]["button"] for a in ("/caller/block", "/caller/allow", "/caller/unblock",
                                                       "/caller/name")], ["Block", "Allow", "Unblock", "Name"])
        response, _ = self.submit(forms["/caller/block"], cookie, label="Car warranty")
        self.assertEqual(response.status, 303)
        self.assertEqual(response.getheader("Location"), "/caller?number=5551234")
        self.assertEqual(self.read(self.block), b"# junk\n^0800 #= Freephone\n^5551234 #= Car warranty\n")
        # The outcome is shown once, on the page the redirect leads to.
        text = "".join(forms_of(self.request("GET", "/caller?number=5551234", cookie=cookie)[1]).text)
        self.assertIn("5551234 blocked: %s line 3 added" % self.block, text)
        text_again = "".join(forms_of(self.request("GET", "/caller?number=5551234", cookie=cookie)[1]).text)
        self.assertNotIn("line 3 added", text_again)
        rows = rows_of(self.request("GET", "/lists", cookie=cookie)[1], "list")
        self.assertIn({"line": "3", "expressions": "^5551234", "label": "Car warranty"}, rows)

        forms = self.page_forms("/caller?number=5551234", cookie)
        self.assertEqual(self.submit(forms["/caller/unblock"], cookie)[0].status, 303)
        self.assertEqual(self.read(self.block), b"# junk\n^0800 #= Freephone\n")
        rows = rows_of(self.request("GET", "/lists", cookie=cookie)[1], "list")
        self.assertEqual([r["expressions"] for r in rows], ["^0800"])

        forms = self.page_forms("/caller?number=5551234", cookie)
        self.assertEqual(self.submit(forms["/caller/allow"], cookie)[0].status, 303)
        self.assertEqual(self.read(self.allow), b"^5551234\n")

    def test_refused_changes_write_nothing(self):
        self.files()
        cookie, _ = self.session()
        forms = self.page_forms("/caller?number=5551234", cookie)
        before = self.read(self.block)
        for label in ("two\nlines", "cr\rhere", "nul\0", "x" * 201):
            response, body = self.submit(forms["/caller/block"], cookie, label=label)
            self.assertEqual(response.status, 400, repr(label))
            self.assertEqual(self.read(self.block), before, repr(label))
            # The page again, with its forms and the reason.
            page = forms_of(body)
            self.assertIn("/caller/block", [f["action"] for f in page.forms])
            self.assertTrue([a for t, a in page.elements if t == "p" and a.get("class") == "error"])
        for number in ("555 1234", "<b>", "5551234\n^"):
            response, _ = self.submit(forms["/caller/block"], cookie, number=number, label="x")
            self.assertEqual(response.status, 400, repr(number))
        self.assertEqual(self.read(self.block), before)
        # A file changed after the form was shown is not overwritten.
        with open(self.block, "ab") as f:
            f.write(b"^0900\n")
        changed = self.read(self.block)
        for action, values in (("/caller/block", {"label": "L"}), ("/caller/unblock", {}), ("/caller/name", {
                "name": "Ann"})):
            response, body = self.submit(forms[action], cookie, **values)
            if action == "/caller/name":
                # The phone book did not change: its version still holds.
                self.assertEqual(response.status, 303)
                continue
            self.assertEqual(response.status, 409, action)
            self.assertIn("changed since the page was shown", "".join(forms_of(body).text))
            reshown = body
            self.assertEqual(self.read(self.block), changed, action)
        # The form shown again carries the new version and goes through.
        forms = {f["action"]: f for f in forms_of(reshown).forms}
        self.assertEqual(self.submit(forms["/caller/block"], cookie, label="L")[0].status, 303)
        self.assertEqual(self.read(self.block), changed + b"^5551234 #= L\n")
        # A version that is no version at all.
        response, _ = self.submit(forms["/caller/allow"], cookie, version="")
        self.assertEqual(response.status, 409)
        self.assertEqual(self.read(self.allow), b"")

    def test_name_in_a_utf16_book(self):
        lines = ["5550000=Zoë", "5551234=Old Name", "5559999=Ärger"]
        book = "\ufeff" + "\r\n".join(lines) + "\r\n"
        self.files(book=book.encode("utf-16-le"))
        cookie, _ = self.session()
        forms = self.page_forms("/caller?number=5551234", cookie)
        self.assertIn("Old Name", "".join(forms_of(self.request("GET", "/caller?number=5551234", cookie=cookie)[1]).text))
        response, _ = self.submit(forms["/caller/name"], cookie, name="Ann Lée")
        self.assertEqual(response.status, 303)
        expected = "\ufeff5550000=Zoë\r\n5551234=Ann Lée\r\n5559999=Ärger\r\n".encode("utf-16-le")
        self.assertEqual(self.read(self.book), expected)
        text = "".join(forms_of(self.request("GET", "/caller?number=5551234", cookie=cookie)[1]).text)
        self.assertIn("In the phone book as: Ann Lée", text)
        # A new number goes at the end, the other bytes as they were.
        forms = self.page_forms("/caller?number=5557777", cookie)
        self.assertEqual(self.submit(forms["/caller/name"], cookie, name="Bo")[0].status, 303)
        self.assertEqual(self.read(self.book), expected + "5557777=Bo\r\n".encode("utf-16-le"))
        response, _ = self.submit(forms["/caller/name"], cookie, name="a\r\nb")
        self.assertIn(response.status, (400, 409))

    def test_lists_page_adds_and_removes(self):
        self.files(book=b"5551234=Ann\n")
        cookie, _ = self.session()
        forms = self.page_forms("/lists", cookie)
        response, _ = self.submit(forms["/lists/add#allow0"], cookie, expressions='^0170 "FRIEND"', label="Friends")
        self.assertEqual(response.status, 303)
        self.assertEqual(response.getheader("Location"), "/lists")
        self.assertEqual(self.read(self.allow), b'^0170 "FRIEND" #= Friends\n')
        forms = self.page_forms("/lists", cookie)
        self.assertEqual(self.submit(forms["/lists/remove#block0@2"], cookie)[0].status, 303)
        self.assertEqual(self.read(self.block), b"# junk\n")
        response, _ = self.submit(forms["/lists/add#block0"], cookie, expressions="^1")
        self.assertEqual(response.status, 409)
        forms = self.page_forms("/lists", cookie)
        for bad in ('"open', "#x", "a #= b"):
            self.assertEqual(self.submit(forms["/lists/add#block0"], cookie, expressions=bad)[0].status, 400, bad)
        self.assertEqual(self.submit(forms["/lists/add#block0"], cookie, list="block7", expressions="1")[0].status, 400)
        self.assertEqual(self.read(self.block), b"# junk\n")
        self.assertEqual(self.submit(forms["/book/name"], cookie, number="5550000", name="Bea")[0].status, 303)
        self.assertEqual(self.read(self.book), b"5551234=Ann\n5550000=Bea\n")
        forms = self.page_forms("/lists", cookie)
        self.assertEqual(self.submit(forms["/book/remove@1"], cookie)[0].status, 303)
        self.assertEqual(self.read(self.book), b"5550000=Bea\n")
        rows = rows_of(self.request("GET", "/lists", cookie=cookie)[1], "book")
        self.assertEqual(rows, [{"line": "1", "number": "5550000", "name": "Bea"}])

    def test_hostile_text_in_files_and_history_is_text(self):
        self.files(block=("^5559999 #= %s\n" % HOSTILE[0]).encode(),
                   book=("5557777=%s\n5559999=%s\n" % (HOSTILE[1], HOSTILE[0])).encode())
        cookie, _ = self.session()
        for path in ("/lists", "/stats", "/caller?number=5557777", "/caller?number=5559999"):
            response, body = self.request("GET", path, cookie=cookie)
            self.assertEqual(response.status, 200, path)
            page = forms_of(body)
            self.assertEqual([a for t, a in page.elements if t == "img"], [], path)
            self.assertEqual([a for t, a in page.elements if t == "script" and "src" not in a], [], path)
            self.assertFalse(any("onerror" in a for t, a in page.elements), path)
            if path != "/stats":
                self.assertTrue(any(name in "".join(page.text) for name in HOSTILE), path)
        text = "".join(forms_of(self.request("GET", "/lists", cookie=cookie)[1]).text)
        for name in HOSTILE:
            self.assertIn(name, text)

    def test_stats_page(self):
        db = sqlite3.connect(self.history)
        today = time.strftime("%Y-%m-%d")
        now = int(time.time())
        rows = [(today + "T08:00:00+00:00", now - 60, "5554444", HOSTILE[0], "block")] * 3 + \
               [(today + "T08:00:00+00:00", now - 50, "5553333", "Bob", "announce")] * 2
        db.executemany("INSERT INTO calls (time, started_at, number, name, decision) VALUES (?, ?, ?, ?, ?)", rows)
        db.commit()
        db.close()
        self.start()
        response, body = self.request("GET", "/stats")
        self.assertEqual(response.status, 200)
        page = forms_of(body)
        self.assertEqual(len([a for t, a in page.elements if t == "g" and a.get("class") == "day"]), 30)
        self.assertEqual(len([a for t, a in page.elements if t == "g" and a.get("class") == "hour"]), 24)
        self.assertEqual(len([a for t, a in page.elements if t == "svg"]), 2)
        rects = [a.get("class") for t, a in page.elements if t == "rect"]
        self.assertIn("block", rects)
        self.assertIn("announce", rects)
        links = [a["href"] for t, a in page.elements if t == "a" and a.get("href", "").startswith("/caller?")]
        # The top callers (setUp's call ringing now among them), then the top
        # blocked.
        self.assertEqual(links, ["/caller?number=5554444", "/caller?number=5553333", "/caller?number=5558888",
                                 "/caller?number=5554444"])
        self.assertIn(HOSTILE[0], "".join(page.text))
        self.assertEqual([a for t, a in page.elements if t == "script" and "src" not in a], [])
        nav = [a["href"] for t, a in page.elements if t == "a" and a.get("href") in ("/lists", "/stats")]
        self.assertEqual(nav, ["/lists", "/stats"])
        css = self.request("GET", "/style.css")[1].decode()
        for part in ("rect.announce", "rect.quiet", "rect.block"):
            self.assertIn(part, css)

    def test_history_without_its_shm_file_opens(self):
        # A history whose newest rows are still in its -wal file, copied
        # without its -shm file (as after a reboot cleared it): annc-web
        # opens it and shows those rows.
        db = sqlite3.connect(self.history)
        db.execute("PRAGMA wal_autocheckpoint=0")
        db.execute("INSERT INTO calls (time, started_at, number, name, decision)"
                   " VALUES ('2024-06-01T10:00:00+02:00', 5000, '5552222', 'Only In Wal', 'announce')")
        db.commit()
        copy = os.path.join(self.work, "copy")
        os.mkdir(copy)
        for suffix in ("", "-wal"):
            with open(self.history + suffix, "rb") as f, open(os.path.join(copy, "calls.db" + suffix), "wb") as g:
                g.write(f.read())
        db.close()
        self.assertGreater(os.path.getsize(os.path.join(copy, "calls.db-wal")), 0)
        self.assertFalse(os.path.exists(os.path.join(copy, "calls.db-shm")))
        self.history = os.path.join(copy, "calls.db")
        self.start()
        response, body = self.request("GET", "/")
        self.assertEqual(response.status, 200)
        self.assertIn("Only In Wal", "".join(forms_of(body).text))

    def test_buttons_only_for_the_files_given(self):
        self.start()
        page = forms_of(self.request("GET", "/caller?number=5551234")[1])
        self.assertEqual([f["action"] for f in page.forms], [])
        text = "".join(forms_of(self.request("GET", "/lists")[1]).text)
        self.assertIn("No list and no phone book", text)


if __name__ == "__main__":
    unittest.main()
