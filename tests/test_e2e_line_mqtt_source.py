"""End-to-end: annc-line with mqtt:HOST:PORT as its source announces the
calls another annc-line publishes on a real MQTT broker (mosquitto, started
by each test on 127.0.0.1): box A holds the emulated modem and publishes
(--mqtt), box B has a sandbox and an annc of its own and announces what A
decided to announce. Some tests publish A's messages with mosquitto_pub
instead, to drive B without a modem.

Each box's announcements are the words its own annc spoke, captured in its
own sandbox.
"""

import json
import os
import signal
import time
import unittest

from line_harness import LineTestCase
from modem_emulator import north_american_block
from mosquitto_broker import Broker, Subscriber, have_mosquitto

# The end of a call reaches B's annc at its next look at the line.
END_MARGIN = 5.0
WHOLE_CYCLE = 14  # words: more than a cycle of a 7-digit number


def published(event, call_id, number="5551234", decision="announce",
              name="Ann Lee"):
    """A payload as annc-line publishes it on PREFIX/call."""
    return json.dumps({"event": event, "id": call_id, "number": number,
                       "withheld": number == "", "name": name,
                       "network_name": "", "decision": decision,
                       "line": "", "called": ""})


class MqttSourceTest(LineTestCase):

    def setUp(self):
        super().setUp()
        if not have_mosquitto():
            self.skipTest("mosquitto, its clients or openssl are not installed")

    def broker(self, sb, **kw):
        broker = Broker(sb.root, **kw).start()
        self.addCleanup(broker.close)
        return broker

    def subscriber(self, broker, topic):
        sub = Subscriber(broker, topic).start()
        self.addCleanup(sub.close)
        return sub

    def box_a(self, sb, emu, broker, args=()):
        """The box with the modem, publishing under annc/a."""
        return self.start(sb, emu, ["--history", "none", "--mqtt", broker.url,
                                    "--mqtt-topic", "annc/a"] + list(args))

    def box_b(self, sb, broker, args=(), wait_connected=True):
        """A box announcing the calls published on the broker, with its
        own default ring time-out."""
        run = self.start(sb, "mqtt:127.0.0.1:%d" % broker.port,
                         ["--history", "none"] + list(args),
                         wait_ready=False, ring_timeout=None)
        if wait_connected:
            run.wait_status("connected to the MQTT broker 127.0.0.1:%d" % broker.port)
        return run

    def words(self, sb, call=0):
        played = self.calls_played(sb)
        return len(played[call]) if len(played) > call else 0

    def assertNoAnnouncerFor(self, run, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.assertEqual(run.announcers(), [], run.stderr())
            time.sleep(0.05)
        self.assertIsNone(run.proc.poll(), run.stderr())

    def test_two_boxes_announce_the_same_call_and_end_it_together(self):
        sa, sb_ = self.sandbox(), self.sandbox()
        broker = self.broker(sa)
        calls = self.subscriber(broker, "annc/a/call")
        b = self.box_b(sb_, broker)
        emu = self.modem(sa)
        a = self.box_a(sa, emu, broker)
        emu.play(north_american_block("5551234", "ANN LEE"))
        emu.ring_until(lambda: self.words(sa) >= WHOLE_CYCLE and
                       self.words(sb_) >= WHOLE_CYCLE, gap=0.4)
        self.assertTrue(b.announcers(), b.stderr())
        # The rings stop: A's call ends after its ring time-out, and B's
        # announcement with it, long before B's own 120 s.
        calls.wait_count("annc/a/call", 2, timeout=10)
        b.wait_for(lambda: b.announcers() == [], "B's announcer gone", END_MARGIN)
        heard = self.calls_played(sb_)
        self.assertEqual(len(heard), 1, heard)
        self.assertGreaterEqual(self.full_cycles(
            "5551234", heard[0], b.t_start, time.time()), 1)
        self.assertEqual(self.calls_logged(sb_), [b"5551234 - Ann Lee"])
        self.assertIn("annc-line: call ended on line annc/a#", b.stderr())
        self.assertIsNone(a.proc.poll())

    def test_own_block_list_blocks_what_the_publisher_announces(self):
        sa, sb_ = self.sandbox(), self.sandbox()
        broker = self.broker(sa)
        block = os.path.join(sb_.root, "calls.block")
        with open(block, "w") as f:
            f.write("5551234 #= Car warranty\n")
        b = self.box_b(sb_, broker, ["--block", block])
        emu = self.modem(sa)
        self.box_a(sa, emu, broker)
        emu.play(north_american_block("5551234", "ANN LEE"))
        emu.ring_until(lambda: self.words(sa) >= 3, gap=0.4)
        b.wait_status("call from 5551234 (Car warranty): blocked by ")
        self.assertNoAnnouncerFor(b, 1.0)
        self.assertEqual(self.calls_played(sb_), [])

    def test_a_call_the_publisher_blocked_is_not_announced(self):
        sa, sb_ = self.sandbox(), self.sandbox()
        broker = self.broker(sa)
        calls = self.subscriber(broker, "annc/a/call")
        b = self.box_b(sb_, broker)
        emu = self.modem(sa)
        block = os.path.join(sa.root, "calls.block")
        with open(block, "w") as f:
            f.write("5551234\n")
        self.box_a(sa, emu, broker, ["--block", block])
        emu.play(north_american_block("5551234", "ANN LEE"))
        emu.ring_until(lambda: len(calls.payloads("annc/a/call")) >= 1, gap=0.4,
                       limit=10)
        # The rings over, A's call ends after its ring time-out.
        calls.wait_count("annc/a/call", 2, timeout=10)
        decisions = [json.loads(p)["decision"] for p in calls.payloads("annc/a/call")]
        self.assertEqual(decisions, ["block", "block"])
        self.assertNoAnnouncerFor(b, 1.0)
        self.assertEqual(self.calls_played(sb_), [])
        self.assertNotIn("call from 5551234", b.stderr())

    def test_the_publisher_killed_ends_the_announcement(self):
        sa, sb_ = self.sandbox(), self.sandbox()
        broker = self.broker(sa)
        status = self.subscriber(broker, "annc/a/status")
        b = self.box_b(sb_, broker)
        emu = self.modem(sa)
        a = self.box_a(sa, emu, broker)
        emu.play(north_american_block("5551234", "ANN LEE"))
        emu.ring_until(lambda: self.words(sb_) >= 3, gap=0.4)
        a.signal(signal.SIGKILL)
        a.wait()
        status.wait_count("annc/a/status", 2, timeout=10)
        self.assertEqual(status.payloads("annc/a/status"), [b"online", b"offline"])
        b.wait_for(lambda: b.announcers() == [], "B's announcer gone", END_MARGIN)
        self.assertIsNone(b.proc.poll(), b.stderr())

    def test_a_box_that_publishes_too_announces_once(self):
        sb_ = self.sandbox()
        broker = self.broker(sb_)
        own = self.subscriber(broker, "annc/b/call")
        # B follows annc/+, its own annc/b included, and publishes there.
        b = self.box_b(sb_, broker, ["--mqtt", broker.url, "--mqtt-topic", "annc/b"])
        broker.publish("annc/a/call", published("call", 7))
        b.wait_for(lambda: self.words(sb_) >= 3, "B announcing", 10)
        # Its own copy of the call has gone round the broker meanwhile.
        own.wait_count("annc/b/call", 1, timeout=5)
        self.assertEqual(json.loads(own.payloads("annc/b/call")[0])["source"],
                         "mqtt:127.0.0.1:%d" % broker.port)
        time.sleep(1.0)
        broker.publish("annc/a/call", published("end", 7))
        b.wait_for(lambda: b.announcers() == [], "B's announcer gone", END_MARGIN)
        self.assertEqual(len(self.calls_played(sb_)), 1, b.stderr())
        self.assertEqual(b.stderr().count("call from 5551234"), 1, b.stderr())

    def test_the_broker_lost_ends_the_call_and_is_connected_again(self):
        sb_ = self.sandbox()
        broker = self.broker(sb_)
        b = self.box_b(sb_, broker)
        broker.publish("annc/a/call", published("call", 1))
        b.wait_for(lambda: self.words(sb_) >= 3, "B announcing", 10)
        broker.stop()
        b.wait_status("connection to the MQTT broker 127.0.0.1:%d lost" % broker.port)
        b.wait_for(lambda: b.announcers() == [], "B's announcer gone", END_MARGIN)
        broker.start()
        b.wait_status("connected to the MQTT broker", count=2, timeout=10)
        # Subscribed again: the next call is announced.
        broker.publish("annc/a/call", published("call", 2, number="5559876"))
        b.wait_for(lambda: self.words(sb_, 1) >= 3, "B announcing again", 10)

    def test_refused_credentials_end_it_with_one_line(self):
        sb_ = self.sandbox()
        broker = self.broker(sb_, users={"ann": "secret"})
        credentials = os.path.join(sb_.root, "mqtt.credentials")
        with open(credentials, "w") as f:
            f.write("ann:wrong\n")
        os.chmod(credentials, 0o600)
        b = self.box_b(sb_, broker, ["--mqtt-credentials", credentials],
                       wait_connected=False)
        self.assertExitCode(b, 1)
        lines = b.status_lines()
        self.assertEqual(len(lines), 1, lines)
        self.assertIn("refused the connection", lines[0])


if __name__ == "__main__":
    unittest.main()
