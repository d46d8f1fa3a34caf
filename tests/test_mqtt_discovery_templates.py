"""The templates of annc-line's Home Assistant discovery configs, rendered
with Jinja2's immutable sandbox as Home Assistant renders an MQTT value
template: value_json is the payload read as JSON, undefined when it is
none. The event entity must turn a call's message into JSON with the
decision as event_type and render an end, or anything not ours, as nothing
(which Home Assistant ignores); the sensor must name the last caller."""

import json
import os
import subprocess
import unittest

import jinja2.sandbox

DUMP = os.environ.get("ANNC_MQTT_DISCOVERY_DUMP")

CALL = {
    "event": "call", "id": 42, "time": "2026-12-09T21:14:05+05:30", "source": "modem:/dev/ttyACM0",
    "line": "", "called": "", "number": "5551234", "withheld": False, "network_name": "ANN LEE",
    "name": "Ann Lee", "name_source": "book", "decision": "quiet", "rule": "quiet hours 22:00-07:00",
    "hung_up": False, "rings": 2, "announced": False, "stopped_by_key": False,
}


def render(template, payload):
    environment = jinja2.sandbox.ImmutableSandboxedEnvironment()
    environment.filters["to_json"] = json.dumps
    variables = {"value": payload}
    try:
        variables["value_json"] = json.loads(payload)
    except ValueError:
        pass
    return environment.from_string(template).render(**variables).strip()


@unittest.skipUnless(DUMP, "ANNC_MQTT_DISCOVERY_DUMP names no program")
class DiscoveryTemplateTest(unittest.TestCase):
    def setUp(self):
        out = subprocess.run([DUMP, "kitchen", "annc/kitchen"], check=True, capture_output=True, text=True).stdout
        configs = {}
        for line in out.splitlines():
            topic, payload = line.split("\t", 1)
            configs[topic.split("/")[1]] = json.loads(payload)
        self.event = configs["event"]["value_template"]
        self.sensor = configs["sensor"]["value_template"]

    def test_calls_become_events_of_their_decision(self):
        for decision in ("announce", "quiet", "block"):
            with self.subTest(decision=decision):
                rendered = json.loads(render(self.event, json.dumps(dict(CALL, decision=decision))))
                self.assertEqual(rendered.pop("event_type"), decision)
                self.assertEqual(rendered["number"], "5551234")
                self.assertEqual(rendered["name"], "Ann Lee")
                self.assertEqual(rendered["id"], 42)
                self.assertEqual(rendered["withheld"], False)

    def test_a_call_without_some_fields_still_renders(self):
        rendered = json.loads(render(self.event, '{"event": "call", "id": 1, "decision": "block"}'))
        self.assertEqual(rendered["event_type"], "block")
        self.assertIsNone(rendered["name"])

    def test_everything_else_renders_as_nothing(self):
        for payload in (json.dumps(dict(CALL, event="end", ended="2026-12-09T21:14:35+05:30", duration=30)),
                        json.dumps(dict(CALL, decision="ring")),
                        json.dumps(dict(CALL, event="ring")),
                        "RING", "[1, 2]", '"call"', ""):
            with self.subTest(payload=payload[:40]):
                self.assertEqual(render(self.event, payload), "")

    def test_the_sensor_names_the_caller(self):
        cases = [
            (CALL, "Ann Lee"),
            (dict(CALL, event="end", duration=30), "Ann Lee"),
            (dict(CALL, name=""), "5551234"),
            (dict(CALL, name="", number="", withheld=True), "withheld"),
            (dict(CALL, name="x" * 400), "x" * 255),
            (dict(CALL, name=12), "12"),
        ]
        for payload, want in cases:
            with self.subTest(want=want[:20]):
                self.assertEqual(render(self.sensor, json.dumps(payload)), want)
        self.assertEqual(render(self.sensor, "RING"), "")


if __name__ == "__main__":
    unittest.main()
