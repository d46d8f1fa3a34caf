"""End-to-end: annc-line publishes its calls to a real MQTT broker
(mosquitto, started by each test on 127.0.0.1) while the real annc
announces them from the emulated caller-ID modem: the call and end events,
the line's state, annc-line's status and its last will, a broker that is
down or stopped while calls come, and a broker that refuses annc-line.
"""

import json
import os
import signal
import time
import unittest

from harness import wait_until
from line_harness import LineTestCase
from modem_emulator import north_american_block
from mosquitto_broker import Broker, Subscriber, have_mosquitto

PREFIX = "annc/test"


class MqttTest(LineTestCase):

    def setUp(self):
        super().setUp()
        if not have_mosquitto():
            self.skipTest("mosquitto, its clients or openssl are not installed")

    def broker(self, sb, **kw):
        broker = Broker(sb.root, **kw).start()
        self.addCleanup(broker.close)
        return broker

    def subscriber(self, broker, topic=PREFIX + "/#", user=None, session_id=None):
        sub = Subscriber(broker, topic, user=user, session_id=session_id).start()
        self.addCleanup(sub.close)
        return sub

    def start_mqtt(self, sb, emu, broker, args=(), wait_connected=True, **kw):
        run = self.start(sb, emu, ["--history", "none", "--mqtt", broker.url,
                                   "--mqtt-topic", PREFIX] + list(args), **kw)
        if wait_connected:
            run.wait_status("connected to the MQTT broker 127.0.0.1:%d" % broker.port)
        return run

    def events(self, sub):
        return [json.loads(p) for p in sub.payloads(PREFIX + "/call")]

    def states(self, sub):
        return [json.loads(p)["state"] for p in sub.payloads(PREFIX + "/state")]

    def test_a_call_and_its_end_with_the_state_and_the_status(self):
        sb = self.sandbox()
        broker = self.broker(sb)
        sub = self.subscriber(broker)
        emu = self.modem(sb)
        run = self.start_mqtt(sb, emu, broker, ["--once"])
        sub.wait_count(PREFIX + "/status", 1)
        sent = emu.play(north_american_block("5551234", "ANN LEE"))
        # The call's event comes as soon as it is decided.
        (arrived, _, payload), = sub.wait_count(PREFIX + "/call", 1)
        self.assertLess(arrived - sent, 2.0)
        emu.ring_until(lambda: self.calls_played(sb) != [], gap=0.4)
        self.assertExitCode(run, 0)
        call, end = [json.loads(p) for _, _, p in sub.wait_count(PREFIX + "/call", 2)]
        self.assertEqual([call["event"], end["event"]], ["call", "end"])
        for event in (call, end):
            self.assertEqual(event["number"], "5551234")
            self.assertEqual(event["network_name"], "ANN LEE")
            self.assertEqual(event["decision"], "announce")
            self.assertIs(event["withheld"], False)
            self.assertIs(event["announced"], True)
            self.assertTrue(event["source"].startswith("modem:"))
            self.assertIsInstance(event["id"], int)
            self.assertIsInstance(event["rings"], int)
        self.assertEqual(call["id"], end["id"])
        for field in ("ended", "answered", "duration"):
            self.assertNotIn(field, call)
        self.assertIsNone(end["answered"])
        self.assertIsInstance(end["duration"], int)
        self.assertRegex(end["ended"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$")
        wait_until(lambda: self.states(sub)[-1:] == ["idle"] and
                   sub.payloads(PREFIX + "/status")[-1:] == [b"offline"], 5,
                   "idle and offline", describe=lambda: repr(sub.messages()))
        self.assertEqual(self.states(sub), ["idle", "ringing", "idle"])
        ringing = json.loads(sub.payloads(PREFIX + "/state")[1])
        self.assertEqual(ringing, {"state": "ringing", "number": "5551234",
                                   "name": call["name"], "decision": "announce"})
        self.assertEqual(sub.payloads(PREFIX + "/status"), [b"online", b"offline"])

    def test_a_blocked_call_says_its_rule(self):
        sb = self.sandbox()
        broker = self.broker(sb)
        sub = self.subscriber(broker, PREFIX + "/call")
        emu = self.modem(sb)
        block = os.path.join(sb.root, "calls.block")
        with open(block, "w") as f:
            f.write("5551234 #= Car warranty\n")
        run = self.start_mqtt(sb, emu, broker, ["--once", "--block", block])
        emu.play(north_american_block("5551234", "ANN LEE"))
        emu.ring_until(lambda: len(sub.messages()) >= 2, gap=0.4, limit=10)
        self.assertExitCode(run, 0)
        call, end = self.events(sub)
        for event in (call, end):
            self.assertEqual(event["decision"], "block")
            self.assertEqual(event["rule"], block + " line 1")
            self.assertIs(event["announced"], False)

    def test_sigkill_leaves_the_last_will(self):
        sb = self.sandbox()
        broker = self.broker(sb)
        sub = self.subscriber(broker, PREFIX + "/status")
        emu = self.modem(sb)
        run = self.start_mqtt(sb, emu, broker)
        sub.wait_count(PREFIX + "/status", 1)
        run.signal(signal.SIGKILL)
        run.wait()
        sub.wait_count(PREFIX + "/status", 2, timeout=10)
        self.assertEqual(sub.payloads(PREFIX + "/status"), [b"online", b"offline"])

    def test_discovery_configs_for_home_assistant(self):
        sb = self.sandbox()
        broker = self.broker(sb)
        sub = self.subscriber(broker, "ha/#")
        emu = self.modem(sb)
        self.start_mqtt(sb, emu, broker, ["--mqtt-discovery",
                                          "--mqtt-discovery-prefix", "ha"])
        sub.wait_count(None, 3)  # the probe and two configs
        configs = {t: json.loads(p) for _, t, p in sub.messages()
                   if t.startswith("ha/")}
        kinds = sorted(t.split("/")[1] for t in configs)
        self.assertEqual(kinds, ["event", "sensor"], configs)
        ids = set()
        for topic, config in configs.items():
            self.assertTrue(topic.endswith("/config"), topic)
            ids.add(config["unique_id"])
            self.assertTrue(config["device"]["identifiers"])
            self.assertTrue(config["device"]["name"].startswith("annc on "))
            self.assertEqual(config["availability_topic"], PREFIX + "/status")
            self.assertEqual(config["payload_available"], "online")
            self.assertEqual(config["payload_not_available"], "offline")
            self.assertEqual(config["state_topic"], PREFIX + "/call")
        self.assertEqual(len(ids), 2)
        event = next(c for t, c in configs.items() if "/event/" in t)
        self.assertEqual(event["event_types"], ["announce", "quiet", "block"])
        # Retained: a subscriber that comes later gets them too.
        later = self.subscriber(broker, "ha/#")
        later.wait_count(None, 3)

    def call(self, emu, sb, number, count):
        """A call from `number`: rings until announcement number `count`
        has begun, then stops ringing; returns when the call has been
        heard (the time its block went out)."""
        sent = emu.play(north_american_block(number, "CALLER"))
        emu.ring_until(lambda: len(self.calls_played(sb)) > count, gap=0.4, limit=10)
        return sent

    def test_calls_while_the_broker_is_down_come_after_in_order(self):
        sb = self.sandbox()
        # The subscriber's session outlives the broker's restart: it gets
        # whatever annc-line publishes as soon as it is back.
        broker = self.broker(sb, persistent=True)
        sub = self.subscriber(broker, PREFIX + "/call", session_id="annc-test-sub")
        emu = self.modem(sb)
        run = self.start_mqtt(sb, emu, broker)
        broker.stop()
        run.wait_status("connection to the MQTT broker 127.0.0.1:%d lost" % broker.port)
        numbers = ["5551001", "5551002", "5551003"]
        for i, number in enumerate(numbers):
            sent = self.call(emu, sb, number, i)
            self.assertEqual(len(self.calls_played(sb)), i + 1)
            # Announced at the usual time: the broker holds nothing up.
            self.assertLess(time.monotonic() - sent, 4.0)
            time.sleep(1.5)  # past the ring time-out: the call has ended
        # One line for the outage, however many attempts failed.
        self.assertEqual(run.stderr().count("MQTT broker"), 2, run.stderr())
        broker.start()
        sub.wait_count(PREFIX + "/call", 6, timeout=40)
        events = self.events(sub)
        self.assertEqual([(e["event"], e["number"]) for e in events],
                         [(kind, n) for n in numbers for kind in ("call", "end")])
        # Each with its own time: the calls' times, not the publication's.
        times = [e["time"] for e in events if e["event"] == "call"]
        self.assertEqual(len(set(times)), 3, times)
        run.wait_status("connected to the MQTT broker", count=2)

    def test_a_stopped_broker_does_not_delay_the_announcement(self):
        sb = self.sandbox()
        broker = self.broker(sb)
        emu = self.modem(sb)
        run = self.start_mqtt(sb, emu, broker, ["--once"])
        broker.pause()
        sent = emu.play(north_american_block("5551234", "ANN LEE"))
        emu.ring_until(lambda: self.calls_played(sb) != [], gap=0.2, limit=10)
        self.assertLess(time.monotonic() - sent, 2.5)
        self.assertExitCode(run, 0)
        # The end waits at most a second for the stopped broker.
        self.assertLess(run.t_end - run.t_start, 30)

    def test_a_long_name_with_escapes_and_bytes_that_are_no_utf8(self):
        sb = self.sandbox()
        broker = self.broker(sb)
        sub = self.subscriber(broker, PREFIX + "/call")
        emu = self.modem(sb)
        run = self.start_mqtt(sb, emu, broker, ["--once"])
        name = (b"\x1b[2J\"Q\" \\ \xff\xfe caf\xe9 " * 400)[:10000]
        script = north_american_block("5551234")
        script.insert(-1, (0.01, b"NAME = " + name))
        emu.play(script)
        emu.ring_until(lambda: self.calls_played(sb) != [], gap=0.4)
        self.assertExitCode(run, 0)
        for raw in [p for _, _, p in sub.wait_count(PREFIX + "/call", 2)]:
            raw.decode("utf-8")  # strict: valid UTF-8
            event = json.loads(raw)
            shown = event["network_name"]
            self.assertNotIn("\x1b", shown)
            self.assertTrue(shown.startswith("^[[2J\"Q\" \\ "), shown[:40])
            self.assertLessEqual(len(shown.encode("utf-8")), 256 * 3)
            self.assertEqual(event["number"], "5551234")

    def test_a_wrong_password_ends_annc_line_at_start(self):
        sb = self.sandbox()
        broker = self.broker(sb, users={"annc": "right"})
        credentials = os.path.join(sb.root, "mqtt.credentials")
        with open(credentials, "w") as f:
            f.write("annc:wrong\n")
        os.chmod(credentials, 0o600)
        emu = self.modem(sb)
        run = self.start_mqtt(sb, emu, broker, ["--mqtt-credentials", credentials],
                              wait_connected=False, wait_ready=False)
        self.assertExitCode(run, 1)
        lines = [l for l in run.status_lines() if "MQTT" in l]
        self.assertEqual(len(lines), 1, lines)
        # mosquitto says "not authorised" for a wrong password.
        self.assertRegex(lines[0], r"^annc-line: the MQTT broker 127\.0\.0\.1:%d refused the connection: "
                         r"Connection Refused: (bad user name or password|not authorised)\.$" % broker.port)

    def test_credentials_every_user_may_read_are_refused(self):
        sb = self.sandbox()
        broker = self.broker(sb, users={"annc": "right"})
        credentials = os.path.join(sb.root, "mqtt.credentials")
        with open(credentials, "w") as f:
            f.write("annc:right\n")
        os.chmod(credentials, 0o644)
        emu = self.modem(sb)
        run = self.start_mqtt(sb, emu, broker, ["--mqtt-credentials", credentials],
                              wait_connected=False, wait_ready=False)
        self.assertExitCode(run, 1)
        self.assertIn("every user may read or change it (mode 0644)", run.stderr())
        os.chmod(credentials, 0o600)
        sub = self.subscriber(broker, PREFIX + "/status", user="annc")
        self.start_mqtt(sb, emu, broker, ["--mqtt-credentials", credentials])
        sub.wait_count(PREFIX + "/status", 1)

    def test_tls_with_the_brokers_ca_and_with_another(self):
        sb = self.sandbox()
        broker = self.broker(sb, tls=True)
        sub = self.subscriber(broker, PREFIX + "/status")
        emu = self.modem(sb)
        run = self.start_mqtt(sb, emu, broker, ["--mqtt-ca", broker.ca_crt])
        sub.wait_count(PREFIX + "/status", 1)
        run.signal(signal.SIGTERM)
        self.assertExitCode(run, 0)
        from mosquitto_broker import make_ca
        other, _ = make_ca(broker.folder, "other-ca")
        run = self.start_mqtt(sb, emu, broker, ["--mqtt-ca", other],
                              wait_connected=False, wait_ready=False)
        self.assertExitCode(run, 1)
        lines = [l for l in run.status_lines() if "MQTT" in l]
        self.assertEqual(len(lines), 1, lines)
        self.assertIn("the MQTT broker 127.0.0.1:%d has a certificate that is not trusted" % broker.port,
                      lines[0])
        self.assertIn("certificate verify failed", lines[0])

    def test_a_broker_not_there_at_start_is_tried_again(self):
        sb = self.sandbox()
        broker = Broker(sb.root)
        self.addCleanup(broker.close)
        emu = self.modem(sb)
        run = self.start_mqtt(sb, emu, broker, wait_connected=False)
        run.wait_status("cannot connect to the MQTT broker 127.0.0.1:%d (Connection refused); "
                        "trying again" % broker.port)
        broker.start()
        run.wait_status("connected to the MQTT broker", timeout=20)


if __name__ == "__main__":
    unittest.main()
