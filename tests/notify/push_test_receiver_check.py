# SPDX-License-Identifier: GPL-2.0-or-later
"""Checks push_test_receiver.py, which the push channels' tests trust (run with /usr/bin/python3):
for each service a request of the documented form must leave no problem and one with a fault
must name it; and the answers (429-N, never, close, slow-N, Matrix's repeated transaction, 413,
malformed JSON) and HTTPS with its CA must behave as the receiver says."""

import http.client
import json
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request

RECEIVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "push_test_receiver.py")
JSON = {"Content-Type": "application/json"}
LABELS = {"alertname": "RaidguiAlert", "event": "disk-fail", "host": "h", "enclosure": "1",
          "drive": "HDD2"}
# What Alertmanager 0.25 posted to its webhook receiver, fed the alert above.
WEBHOOK = {"receiver": "push", "status": "firing",
           "alerts": [{"status": "firing", "labels": LABELS,
                       "annotations": {"summary": "HDD2 failed"},
                       "startsAt": "2026-12-10T18:09:06.541343835Z",
                       "endsAt": "0001-01-01T00:00:00Z", "generatorURL": "",
                       "fingerprint": "4db40b9fd77069a0"}],
           "groupLabels": LABELS, "commonLabels": LABELS,
           "commonAnnotations": {"summary": "HDD2 failed"},
           "externalURL": "http://127.0.0.1:35371", "version": "4",
           "groupKey": '{}:{alertname="RaidguiAlert"}', "truncatedAlerts": 0}
CARD = {"type": "message", "attachments": [{
    "contentType": "application/vnd.microsoft.card.adaptive", "contentUrl": None,
    "content": {"$schema": "http://adaptivecards.io/schemas/adaptive-card.json",
                "type": "AdaptiveCard", "version": "1.4",
                "body": [{"type": "TextBlock", "text": "HDD2 failed"}]}}]}
HERO = {**CARD, "attachments": [{**CARD["attachments"][0],
                                 "contentType": "application/vnd.microsoft.card.hero"}]}
MATRIX = "/matrix/ok/_matrix/client/v3/rooms/!room:example.org/send/m.room.message/"
BEARER = {**JSON, "Authorization": "Bearer syt_token"}

# service: (request of the documented form, status of its ok answer, request with a fault,
# words the fault's problem holds)
FORMS = {
    "ntfy": (("POST", "/ntfy/ok/alerts", {"Title": "HDD2", "Priority": "high", "Tags": "warning",
                                          "Authorization": "Bearer tk_x"}, b"HDD2 failed"), 200,
             ("POST", "/ntfy/ok/alerts", {"Priority": "9"}, b"HDD2 failed"), "priority '9'"),
    "gotify": (("POST", "/gotify/ok/message", {**JSON, "X-Gotify-Key": "Atoken"},
                {"message": "HDD2 failed", "title": "raidgui", "priority": 8}), 200,
               ("POST", "/gotify/ok/message?token=Atoken", JSON, {"message": "HDD2 failed"}),
               "secret travels in the URL"),
    "webhook": (("POST", "/webhook/ok/hook", JSON, WEBHOOK), 200,
                ("POST", "/webhook/ok/hook", JSON, {**WEBHOOK, "version": "3"}),
                "version is '3'"),
    "alertmanager": (("POST", "/alertmanager/ok/api/v2/alerts", JSON,
                      [{"labels": LABELS, "annotations": {"summary": "HDD2 failed"},
                        "startsAt": "2026-12-10T18:09:06Z",
                        "generatorURL": "http://h/raidgui"}]), 200,
                     ("POST", "/alertmanager/ok/api/v2/alerts", JSON,
                      [{"labels": {**LABELS, "host": ""}}]), "label host is missing"),
    "discord": (("POST", "/discord/ok/api/webhooks/123/token", JSON, {"content": "HDD2 failed"}),
                204, ("POST", "/discord/ok/api/webhooks/123/token", JSON, {"content": "x" * 2001}),
                "2001 characters"),
    "slack": (("POST", "/slack/ok/services/T0/B0/X0", JSON, {"text": "HDD2 failed"}), 200,
              ("POST", "/slack/ok/services/T0/B0/X0", JSON, {"txt": "HDD2 failed"}),
              "text is missing"),
    "matrix": (("PUT", MATRIX + "form", BEARER, {"msgtype": "m.text", "body": "HDD2 failed"}), 200,
               ("PUT", MATRIX + "form", JSON, {"msgtype": "m.text", "body": "HDD2 failed"}),
               "no access token"),
    "teams": (("POST", "/teams/ok/workflows/x", JSON, CARD), 202,
              ("POST", "/teams/ok/workflows/x", JSON, HERO), "contentType"),
}


def start(folder, *options):
    record = os.path.join(folder, "record.jsonl")
    process = subprocess.Popen([sys.executable, RECEIVER, "--record", record, *options],
                               stdout=subprocess.PIPE, text=True)
    line = process.stdout.readline()
    if not line.startswith("PORT "):
        process.kill()
        raise RuntimeError(f"the receiver said {line!r}")
    return process, int(line.split()[1]), record


def setUpModule():
    global FOLDER, RECEIVER_PROCESS, PORT, RECORD
    FOLDER = tempfile.TemporaryDirectory()
    RECEIVER_PROCESS, PORT, RECORD = start(FOLDER.name)


def tearDownModule():
    RECEIVER_PROCESS.kill()
    RECEIVER_PROCESS.wait()
    FOLDER.cleanup()


def send(method, path, headers, body, timeout=5, base=None, context=None):
    """(status, headers, body) of the answer."""
    if not isinstance(body, bytes):
        body = json.dumps(body).encode()
    request = urllib.request.Request((base or f"http://127.0.0.1:{PORT}") + path, body, headers,
                                     method=method)
    try:
        with urllib.request.urlopen(request, timeout=timeout, context=context) as answer:
            return answer.status, answer.headers, answer.read().decode()
    except urllib.error.HTTPError as error:
        return error.code, error.headers, error.read().decode()


def last_record(record=None):
    with open(record or RECORD, encoding="utf-8") as lines:
        return json.loads(lines.readlines()[-1])


class Forms(unittest.TestCase):
    def test_documented_form_passes_and_a_fault_is_named(self):
        for service, (good, status, bad, fault) in FORMS.items():
            with self.subTest(service=service):
                self.assertEqual(send(*good)[0], status)
                self.assertEqual(last_record()["problems"], [])
                send(*bad)
                problems = last_record()["problems"]
                self.assertTrue(any(fault in problem for problem in problems), problems)

    def test_ok_answers_as_the_services_do(self):
        status, _, body = send(*FORMS["ntfy"][0])
        message = json.loads(body)
        self.assertEqual((message["event"], message["topic"], message["message"],
                          message["priority"]), ("message", "alerts", "HDD2 failed", 4))
        status, _, body = send("POST", "/discord/ok/api/webhooks/123/token?wait=true", JSON,
                               {"content": "HDD2 failed"})
        self.assertEqual(status, 200)
        self.assertTrue(json.loads(body)["id"].isdigit())
        status, headers, body = send(*FORMS["slack"][0])
        self.assertEqual((body, headers.get_content_type()), ("ok", "text/html"))

    def test_line_break_in_a_header_is_a_problem(self):
        # http.client refuses to send one, so the request goes by hand.
        with socket.create_connection(("127.0.0.1", PORT)) as raw:
            raw.sendall(b"POST /ntfy/ok/alerts HTTP/1.1\r\nHost: x\r\nTitle: HDD2\r\n failed\r\n"
                        b"Content-Length: 1\r\nConnection: close\r\n\r\nx")
            self.assertIn(b" 200 ", raw.recv(1 << 16))
        self.assertTrue(any("line break" in p for p in last_record()["problems"]))


class Answers(unittest.TestCase):
    def test_malformed_json_gets_the_services_400(self):
        status, _, body = send("POST", "/slack/ok/services/T0/B0/X0", JSON, b"{not json")
        self.assertEqual((status, body), (400, "invalid_payload"))
        self.assertTrue(any("not JSON" in p for p in last_record()["problems"]))

    def test_answers_are_taken_in_turn_and_the_last_repeats(self):
        path = "/gotify/503,ok/message"
        headers = {**JSON, "X-Gotify-Key": "Atoken"}
        statuses = [send("POST", path, headers, {"message": "m"})[0] for _ in range(3)]
        self.assertEqual(statuses, [503, 200, 200])

    def test_429_carries_retry_after(self):
        status, headers, body = send("POST", "/discord/429-7/api/webhooks/1/t", JSON,
                                     {"content": "m"})
        self.assertEqual((status, headers["Retry-After"], json.loads(body)["retry_after"]),
                         (429, "7", 7.0))

    def test_never_answers_but_records(self):
        started = time.monotonic()
        with self.assertRaises(TimeoutError):
            send("POST", "/webhook/never/hook", JSON, WEBHOOK, timeout=1)
        self.assertGreaterEqual(time.monotonic() - started, 1)
        self.assertEqual(last_record()["answer"]["token"], "never")

    def test_close_hangs_up_without_a_word(self):
        with self.assertRaises(http.client.RemoteDisconnected):
            send("POST", "/webhook/close/hook", JSON, WEBHOOK)
        self.assertEqual(last_record()["answer"]["token"], "close")

    def test_slow_answers_ok_late(self):
        started = time.monotonic()
        self.assertEqual(send("POST", "/webhook/slow-0.3/hook", JSON, WEBHOOK)[0], 200)
        self.assertGreaterEqual(time.monotonic() - started, 0.3)

    def test_matrix_repeated_transaction_gets_the_same_event(self):
        body = {"msgtype": "m.text", "body": "HDD2 failed"}
        first, again, other = (json.loads(send("PUT", MATRIX + txn, BEARER, body)[2])["event_id"]
                               for txn in ("t1", "t1", "t2"))
        self.assertTrue(first.startswith("$"))
        self.assertEqual(first, again)
        self.assertNotEqual(first, other)

    def test_body_over_1_mib_is_refused(self):
        status, _, _ = send("POST", "/webhook/ok/hook", JSON, b"x" * ((1 << 20) + 1))
        self.assertEqual(status, 413)
        self.assertTrue(any("1 MiB" in p for p in last_record()["problems"]))


class Tls(unittest.TestCase):
    def test_https_with_its_ca_and_refused_without(self):
        with tempfile.TemporaryDirectory() as folder:
            process, port, record = start(folder, "--tls-dir", folder)
            try:
                base = f"https://localhost:{port}"
                trusting = ssl.create_default_context(cafile=os.path.join(folder, "ca.pem"))
                self.assertEqual(send("POST", "/webhook/ok/hook", JSON, WEBHOOK, base=base,
                                      context=trusting)[0], 200)
                self.assertEqual(last_record(record)["problems"], [])
                with self.assertRaises(urllib.error.URLError) as refused:
                    send("POST", "/webhook/ok/hook", JSON, WEBHOOK, base=base,
                         context=ssl.create_default_context())
                self.assertIsInstance(refused.exception.reason, ssl.SSLCertVerificationError)
            finally:
                process.kill()
                process.wait()


if __name__ == "__main__":
    unittest.main()
