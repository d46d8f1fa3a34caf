"""The example --on-call programs in tools/on-call, each run as annc-line
runs it (no arguments, the ANNC_* variables in its environment) with
stand-ins for notify-send, curl and sendmail on PATH that write down what
they were given. A caller's text must arrive as it is, never run or read as
syntax, and never reach a mail's header."""

import os
import shutil
import subprocess
import tempfile
import unittest

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLES = os.path.join(REPO_ROOT, "tools", "on-call")

# Quotes of both kinds, a command substitution, a printf directive and a
# backslash escape: all of it is text.
NASTY_NAME = "Pat \"O'Brien\" $(touch pwned) `touch pwned` %s \\n \\c ^[[2J"

# Writes its arguments (NUL after each) and its standard input down.
STUB = """#!/bin/sh
for arg in "$@"; do printf '%s\\0' "$arg"; done > "$0.args"
cat > "$0.input"
"""


def call_environment(event, **fields):
    environment = {
        "ANNC_EVENT": event,
        "ANNC_ID": "7",
        "ANNC_TIME": "2026-12-09T21:14:05+01:00",
        "ANNC_NUMBER": "5551234",
        "ANNC_WITHHELD": "no",
        "ANNC_NAME": NASTY_NAME,
        "ANNC_DECISION": "announce",
        "ANNC_RINGS": "3",
        "ANNC_LINE": "",
    }
    if event == "end":
        environment.update(ANNC_ANSWERED="no", ANNC_DURATION="20",
                           ANNC_ENDED="2026-12-09T21:14:25+01:00")
    environment.update(fields)
    return environment


class OnCallExamplesTest(unittest.TestCase):

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="annc_on_call_")
        self.addCleanup(shutil.rmtree, self.root)
        self.bin = os.path.join(self.root, "bin")
        os.mkdir(self.bin)
        for name in ("notify-send", "curl", "sendmail"):
            path = os.path.join(self.bin, name)
            with open(path, "w") as stub:
                stub.write(STUB)
            os.chmod(path, 0o755)

    def run_example(self, example, environment):
        env = {"PATH": self.bin + ":/usr/bin:/bin"}
        env.update(environment)
        result = subprocess.run([os.path.join(EXAMPLES, example)], env=env, cwd=self.root,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=20)
        self.assertFalse(os.path.exists(os.path.join(self.root, "pwned")), "the caller's text was run")
        return result

    def received(self, stub):
        """The arguments and the input the stub got; None when it did not run."""
        path = os.path.join(self.bin, stub)
        if not os.path.exists(path + ".args"):
            return None
        with open(path + ".args", "rb") as args, open(path + ".input", "rb") as data:
            words = args.read().split(b"\0")[:-1]
            return [w.decode() for w in words], data.read().decode()

    def test_examples_are_posix_shell(self):
        for example in ("notify-send", "ntfy", "missed-call-mail"):
            path = os.path.join(EXAMPLES, example)
            self.assertTrue(os.access(path, os.X_OK), example)
            subprocess.run(["sh", "-n", path], check=True)

    def test_notify_send(self):
        cases = [
            ("call", {}, ["--app-name=annc-line", "--", "Phone call",
                          "Call from %s (5551234)" % NASTY_NAME]),
            ("call", {"ANNC_WITHHELD": "yes", "ANNC_NUMBER": ""},
             ["--app-name=annc-line", "--", "Phone call", "Call from %s (number withheld)" % NASTY_NAME]),
            ("call", {"ANNC_NAME": ""}, ["--app-name=annc-line", "--", "Phone call", "Call from 5551234"]),
            ("end", {}, None),
        ]
        for event, fields, args in cases:
            with self.subTest(event=event, fields=fields):
                self.setUp()
                result = self.run_example("notify-send", call_environment(event, **fields))
                self.assertEqual(result.returncode, 0, result.stderr)
                got = self.received("notify-send")
                self.assertEqual(got and got[0], args)

    def test_ntfy(self):
        url = "https://ntfy.example/annc-test"
        cases = [
            ("call", {"NTFY_URL": url}, "Call from %s (5551234)\n" % NASTY_NAME),
            ("call", {}, None),  # no server named: quietly nothing
            ("end", {"NTFY_URL": url}, None),
        ]
        for event, fields, body in cases:
            with self.subTest(event=event, fields=fields):
                self.setUp()
                result = self.run_example("ntfy", call_environment(event, **fields))
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stderr, b"")
                got = self.received("curl")
                if body is None:
                    self.assertIsNone(got)
                    continue
                args, data = got
                self.assertEqual(args[-2:], ["--", url])
                self.assertIn("--data-binary", args)
                self.assertEqual(args[args.index("--data-binary") + 1], "@-")
                self.assertEqual(data, body)

    def test_missed_call_mail(self):
        to = {"MAIL_TO": "me@example.org"}
        headers = "To: me@example.org\nSubject: Missed call\nContent-Type: text/plain; charset=UTF-8"
        cases = [
            ("end", dict(to), True),
            ("end", dict(to, ANNC_ANSWERED="unknown"), True),
            # A name with a line break and a header in it stays in the body.
            ("end", dict(to, ANNC_NAME="x\nBcc: evil@example.com\n\n."), True),
            ("end", dict(to, ANNC_ANSWERED="yes"), False),
            ("end", dict(to, ANNC_DECISION="block"), False),
            ("end", dict(to, ANNC_DECISION="quiet"), False),
            ("call", dict(to), False),
            ("end", {}, False),
        ]
        for event, fields, sent in cases:
            with self.subTest(event=event, fields=fields):
                self.setUp()
                environment = call_environment(event, **fields)
                result = self.run_example("missed-call-mail", environment)
                self.assertEqual(result.returncode, 0, result.stderr)
                got = self.received("sendmail")
                if not sent:
                    self.assertIsNone(got)
                    continue
                args, mail = got
                self.assertEqual(args, ["-t"])
                head, _, body = mail.partition("\n\n")
                self.assertEqual(head, headers)
                self.assertIn("Missed call from 5551234\n", body)
                self.assertIn("Name: %s\n" % environment["ANNC_NAME"], body)
                self.assertIn("Time: 2026-12-09T21:14:05+01:00\n", body)

    def test_a_recipient_with_a_line_break_is_refused(self):
        result = self.run_example("missed-call-mail",
                                  call_environment("end", MAIL_TO="me@example.org\nBcc: evil@example.com"))
        self.assertNotEqual(result.returncode, 0)
        self.assertIsNone(self.received("sendmail"))


if __name__ == "__main__":
    unittest.main()
