# SPDX-License-Identifier: GPL-2.0-or-later
"""raidctl notify-test and notify-show as processes, against the push services' stand-in
(tests/notify/push_test_receiver.py), which checks every request against its service's documented
form and answers as told.

Run by CTest: raidctl_notify_test.py RAIDCTL RECEIVER (with /usr/bin/python3). A RAIDCTL that
ends in .exe runs under Wine (WINEPREFIX set), with the paths it reads in Windows' form; Wine's
Schannel checks no certificate chain without a CA file, so a server the system does not trust
cannot be shown refused there.
"""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

RAIDCTL = ""
RECEIVER = ""
SCENARIOS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "sim",
                         "scenarios")


def under_wine():
    return RAIDCTL.endswith(".exe")


def program_path(path):
    """`path` as raidctl names it: under Wine, in Windows' form."""
    if not under_wine():
        return path
    return subprocess.run(["winepath", "-w", path], capture_output=True, text=True,
                          check=True).stdout.strip()


def free_port():
    """A loopback port nobody listens on."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Receiver:
    def __init__(self, folder, tls=False):
        self.record = os.path.join(folder, "record.jsonl")
        command = ["/usr/bin/python3", RECEIVER, "--record", self.record]
        if tls:
            command += ["--tls-dir", folder]
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        assert line.startswith("PORT "), line
        self.base = "%s://localhost:%s" % ("https" if tls else "http", line.split()[1])
        self.ca = os.path.join(folder, "ca.pem")

    def requests(self):
        if not os.path.exists(self.record):
            return []
        with open(self.record, encoding="utf-8") as record:
            return [json.loads(line) for line in record]

    def stop(self):
        self.process.kill()
        self.process.wait()


class NotifyTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="raidctl-notify-")
        self.config = os.path.join(self.folder, "config")
        os.makedirs(self.config)
        self.env = dict(os.environ, RAIDGUI_CONFIG_DIR=program_path(self.config),
                        RAIDGUI_LOG_DIR=program_path(os.path.join(self.folder, "logs")))
        self.env.pop("RAIDGUI_NOTIFY_CA_FILE", None)
        self.receiver = Receiver(self.folder)

    def tearDown(self):
        self.receiver.stop()
        shutil.rmtree(self.folder, ignore_errors=True)

    def write_channels(self, text):
        path = os.path.join(self.config, "notify.toml")
        with open(path, "w", encoding="utf-8") as file:
            file.write(text)
        return path

    def raidctl(self, *arguments):
        command = ["wine", RAIDCTL] if under_wine() else [RAIDCTL]
        return subprocess.run([*command, *arguments], env=self.env, capture_output=True,
                              text=True, timeout=120)

    def test_each_service_outcome_is_told_as_the_service_answered(self):
        base = self.receiver.base
        self.write_channels(f"""
[[channel]]
name = "phone"
type = "ntfy"
url = "{base}/ntfy/ok/raid-alerts"
token = "tk_secret_phone"

[[channel]]
name = "gotify"
type = "gotify"
url = "{base}/gotify/403"
token = "AgotifySecret"

[[channel]]
name = "hook"
type = "webhook"
url = "{base}/webhook/503/receiver"

[[channel]]
name = "am"
type = "alertmanager"
url = "{base}/alertmanager/ok"

[[channel]]
name = "discord"
type = "discord"
url = "{base}/discord/ok/api/webhooks/123/discordSecretPath"

[[channel]]
name = "slack"
type = "slack"
url = "{base}/slack/ok/services/T0/B0/slackSecretPath"

[[channel]]
name = "matrix"
type = "matrix"
url = "{base}/matrix/ok"
room = "!room:example.org"
token = "syt_matrix_secret"

[[channel]]
name = "teams"
type = "teams"
url = "{base}/teams/ok/workflows/run?api-version=1&sig=teamsSecretSig"

[[channel]]
name = "silent"
type = "ntfy"
url = "{base}/ntfy/never/raid-alerts"
timeout = 2

[[channel]]
name = "nobody"
type = "ntfy"
url = "http://127.0.0.1:{free_port()}/raid-alerts"
""")
        run = self.raidctl("notify-test")
        self.assertEqual(run.returncode, 1, run.stderr)
        lines = dict(line.split(": ", 1) for line in run.stdout.splitlines())
        self.assertEqual(list(lines), ["phone", "gotify", "hook", "am", "discord", "slack",
                                       "matrix", "teams", "silent", "nobody"])
        for name in ("phone", "discord", "matrix"):
            self.assertRegex(lines[name], r"^delivered \(id \S+\)$", name)
        for name in ("am", "teams"):
            self.assertEqual(lines[name], "delivered", name)
        self.assertRegex(lines["slack"], r"^delivered")
        self.assertRegex(lines["gotify"], r"^failed \(HTTP 403: .+\)$")
        self.assertRegex(lines["hook"], r"^failed \(HTTP 503: .+\)$")
        self.assertRegex(lines["silent"], r"^unknown \(.+\)$")
        self.assertRegex(lines["nobody"], r"^failed \(.+\)$")

        requests = self.receiver.requests()
        for request in requests:
            self.assertEqual(request["problems"], [], request)
        # One attempt each, without retries: the 503 and the silence were asked once.
        self.assertEqual(sorted(r["service"] for r in requests),
                         sorted(["ntfy", "ntfy", "gotify", "webhook", "alertmanager", "discord",
                                 "slack", "matrix", "teams"]))
        # What was told delivered, the service took; the ids are the service's own.
        for request in requests:
            status = request["answer"]["status"]
            if request["service"] in ("gotify", "webhook") or status is None:
                continue
            self.assertTrue(200 <= status < 300, request)
        ids = json.dumps([r["answer"] for r in requests])
        for name in ("phone", "discord", "matrix"):
            self.assertIn(lines[name][len("delivered (id "):-1], ids)
        for secret in ("tk_secret_phone", "AgotifySecret", "discordSecretPath", "slackSecretPath",
                       "syt_matrix_secret", "teamsSecretSig"):
            self.assertNotIn(secret, run.stdout + run.stderr)

        one = self.raidctl("notify-test", "--channel", "phone")
        self.assertEqual(one.returncode, 0, one.stderr)
        self.assertRegex(one.stdout, r"^phone: delivered \(id \S+\)\n$")

    def test_monitor_pushes_each_alert_and_its_stop_says_what_was_not_delivered(self):
        base = self.receiver.base
        self.write_channels(f"""
[[channel]]
name = "phone"
type = "ntfy"
url = "{base}/ntfy/ok/raid-alerts"

[[channel]]
name = "am"
type = "alertmanager"
url = "{base}/alertmanager/ok"
events = ["disk-fail"]

[[channel]]
name = "dead"
type = "ntfy"
url = "{base}/ntfy/never/raid-alerts"
timeout = 120
""")
        scenario = program_path(os.path.join(SCENARIOS, "rebuild_story.json"))
        started = time.monotonic()
        metrics = os.path.join(self.folder, "raidgui.prom")
        run = self.raidctl("monitor", "--simulate", scenario, "--for", "60",
                           "--metrics", program_path(metrics))
        took = time.monotonic() - started
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("alerts also go to 3 push channel(s): phone, am, dead", run.stderr)
        self.assertRegex(run.stderr, r"push phone: delivered \(id \S+\)")
        self.assertIn("push am: delivered", run.stderr)
        # The dead channel holds its alert until the stop gives it up, within seconds.
        self.assertEqual(run.stderr.count("were not delivered before the stop"), 1, run.stderr)
        self.assertIn("1 push notification(s) were not delivered before the stop", run.stderr)
        # The metrics file holds what each channel did, its grace at the stop included.
        with open(metrics, encoding="utf-8") as file:
            samples = file.read()
        for line in ('raidgui_notifications_delivered_total{channel="phone"} 1',
                     'raidgui_notifications_delivered_total{channel="am"} 1',
                     'raidgui_notifications_unknown_total{channel="dead"} 1',
                     'raidgui_notifications_failed_total{channel="dead"} 0'):
            self.assertIn(line + "\n", samples)
        self.assertIn('raidgui_notification_last_delivered_timestamp_seconds{channel="phone"} ',
                      samples)
        self.assertLess(took, 10)
        by_service = {}
        for request in self.receiver.requests():
            self.assertEqual(request["problems"], [], request)
            by_service.setdefault(request["service"], []).append(request)
        phone = [r for r in by_service["ntfy"] if "/ok/" in r["path"]]
        self.assertEqual(len(phone), 1)
        # No mail settings here: the title is the alert kind's name, the body the mail's lines.
        self.assertTrue(phone[0]["headers"]["title"].endswith("Hard Disks Fail"), phone[0])
        self.assertEqual(phone[0]["headers"]["priority"], "high")
        alert = json.loads(by_service["alertmanager"][0]["body"])[0]
        self.assertEqual(alert["labels"]["event"], "disk-fail")
        self.assertEqual(alert["labels"]["enclosure"], "1")
        self.assertEqual(alert["labels"]["drive"], "HDD2")

    def test_a_real_alertmanager_holds_a_missing_drive_until_it_is_back(self):
        if under_wine():
            self.skipTest("the same requests as natively; Alertmanager runs natively only")
        fixture = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(os.path.dirname(RECEIVER), "alertmanager_fixture.py"),
             "--dir", os.path.join(self.folder, "am"),
             "--webhook", f"{self.receiver.base}/webhook/ok/am"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.addCleanup(fixture.wait)
        self.addCleanup(fixture.terminate)
        line = fixture.stdout.readline()
        self.assertTrue(line.startswith("PORT "), line)
        alertmanager = f"http://127.0.0.1:{line.split()[1]}"
        self.write_channels(f"""
[[channel]]
name = "am"
type = "alertmanager"
url = "{alertmanager}"
events = ["disk-fail"]
""")

        def story(name, timeline):
            path = os.path.join(self.folder, name)
            with open(path, "w") as file:
                json.dump({"drives": [{"number": 1, "type": "enclosure", "mode": "mirroring"}],
                           "timeline": timeline}, file)
            return path

        def pulled(back):
            return [{"at_s": 10, "drive": 1, "action": "pull_drive", "port": 1}] + (
                [{"at_s": 100, "drive": 1, "action": "insert_drive", "port": 1,
                  "state": "in_array"}] if back else [])

        def alerts():
            with urllib.request.urlopen(f"{alertmanager}/api/v2/alerts?active=true") as reply:
                return [a["labels"] for a in json.load(reply) if a["labels"].get("alertname")
                        == "RaidguiAlert"]

        def webhook(status):
            deadline = time.monotonic() + 15
            while time.monotonic() < deadline:
                for request in self.receiver.requests():
                    if request["service"] == "webhook" and json.loads(request["body"])[
                            "status"] == status:
                        self.assertEqual(request["problems"], [], request)
                        return json.loads(request["body"])
                time.sleep(0.2)
            self.fail(f"no {status} webhook from Alertmanager")

        run = self.raidctl("monitor", "--simulate", story("stays.json", pulled(False)),
                           "--for", "100")
        self.assertIn("push am: delivered", run.stderr)
        [labels] = alerts()
        self.assertEqual((labels["event"], labels["enclosure"], labels["drive"]),
                         ("disk-fail", "1", "HDD2"))
        firing = webhook("firing")
        self.assertEqual(firing["alerts"][0]["labels"], labels)

        run = self.raidctl("monitor", "--simulate", story("back.json", pulled(True)),
                           "--for", "200")
        self.assertEqual(run.stderr.count("push am: delivered"), 2, run.stderr)
        deadline = time.monotonic() + 5
        while alerts() and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertEqual(alerts(), [])
        self.assertEqual(webhook("resolved")["alerts"][0]["labels"], labels)

    def test_sighup_reads_the_channels_again_and_keeps_them_over_a_bad_file(self):
        if under_wine():
            self.skipTest("SIGHUP is for Linux services")
        base = self.receiver.base

        def channel(name):
            return f'[[channel]]\nname = "{name}"\ntype = "ntfy"\nurl = "{base}/ntfy/ok/{name}"\n'

        self.write_channels(channel("before"))
        story = os.path.join(self.folder, "pull.json")
        with open(story, "w") as file:
            json.dump({"drives": [{"number": 1, "type": "enclosure", "mode": "mirroring"}],
                       "timeline": [{"at_s": 8, "drive": 1, "action": "pull_drive",
                                     "port": 1}]}, file)
        err = os.path.join(self.folder, "monitor.err")

        def said(text, seconds=20):
            deadline = time.monotonic() + seconds
            while time.monotonic() < deadline:
                with open(err, encoding="utf-8") as file:
                    if text in file.read():
                        return True
                time.sleep(0.1)
            return False

        with open(err, "w") as stderr:
            monitor = subprocess.Popen(
                [RAIDCTL, "monitor", "--simulate", story, "--realtime", "--for", "30"],
                env=self.env, stdout=subprocess.DEVNULL, stderr=stderr)
        self.addCleanup(monitor.wait)
        self.addCleanup(monitor.kill)
        self.assertTrue(said("push channel(s): before"))
        self.write_channels(channel("after"))
        monitor.send_signal(signal.SIGHUP)
        self.assertTrue(said("push channel(s): after"))
        self.write_channels('[[channel]]\nname = "broken"\n')
        monitor.send_signal(signal.SIGHUP)
        self.assertTrue(said("the push channels stay as they were"))
        self.assertTrue(said("push after: delivered"))
        monitor.send_signal(signal.SIGTERM)
        self.assertEqual(monitor.wait(timeout=10), 0)
        self.assertEqual([r["path"] for r in self.receiver.requests()], ["/ntfy/ok/after"])

    def test_unusable_files_and_names_exit_2_and_show_masks_secrets(self):
        if under_wine():
            self.skipTest("the files' rules are the same code on Windows; natively only")
        run = self.raidctl("notify-test")
        self.assertEqual(run.returncode, 2)
        self.assertIn("notify.toml", run.stderr)
        self.assertEqual(self.raidctl("notify-show").returncode, 0)

        self.write_channels('[[channel]]\nname = "a"\ntype = "pager"\nurl = "http://x/"\n')
        run = self.raidctl("notify-test")
        self.assertEqual(run.returncode, 2)
        self.assertIn("line 3", run.stderr)
        self.assertEqual(self.raidctl("notify-show").returncode, 2)

        token_file = os.path.join(self.config, "phone.token")
        with open(token_file, "w") as file:
            file.write("tk_from_file\n")
        self.write_channels(f"""
[[channel]]
name = "phone"
type = "ntfy"
url = "{self.receiver.base}/ntfy/ok/raid-alerts"
token_file = "phone.token"

[[channel]]
name = "discord"
type = "discord"
url = "https://discord.com/api/webhooks/123/discordSecretPath"
events = ["disk-fail"]
remind = "daily"
""")
        run = self.raidctl("notify-test", "--channel", "pager")
        self.assertEqual(run.returncode, 2)
        self.assertIn("pager", run.stderr)
        run = self.raidctl("notify-show", "--json")
        self.assertEqual(run.returncode, 0, run.stderr)
        shown = json.loads(run.stdout)
        self.assertEqual([c["name"] for c in shown["channels"]], ["phone", "discord"])
        self.assertEqual(shown["channels"][0]["token"], "set")
        self.assertEqual(shown["channels"][1]["events"], ["disk-fail"])
        self.assertEqual(shown["channels"][1]["remind"], "daily")
        for text in (run.stdout, self.raidctl("notify-show").stdout):
            self.assertNotIn("discordSecretPath", text)
            self.assertNotIn("tk_from_file", text)
        # The token read from its file is the one the service gets, in a header.
        self.assertEqual(self.raidctl("notify-test", "--channel", "phone").returncode, 0)
        self.assertEqual(self.receiver.requests()[-1]["headers"]["authorization"],
                         "Bearer tk_from_file")

    def test_a_tls_service_is_believed_only_with_its_ca(self):
        tls_folder = os.path.join(self.folder, "tls")
        os.makedirs(tls_folder)
        secure = Receiver(tls_folder, tls=True)
        try:
            url = f"{secure.base}/ntfy/ok/raid-alerts"
            self.write_channels(f"""
[[channel]]
name = "trusted"
type = "ntfy"
url = "{url}"
ca_file = '{program_path(secure.ca)}'

[[channel]]
name = "untrusted"
type = "ntfy"
url = "{url}"
""")
            run = self.raidctl("notify-test")
            lines = dict(line.split(": ", 1) for line in run.stdout.splitlines())
            self.assertRegex(lines["trusted"], r"^delivered \(id \S+\)$")
            if not under_wine():
                self.assertEqual(run.returncode, 1, run.stderr)
                self.assertRegex(lines["untrusted"], r"^failed \(.+\)$")
                self.assertEqual(len(secure.requests()), 1)
        finally:
            secure.stop()


if __name__ == "__main__":
    RAIDCTL, RECEIVER = sys.argv[1:3]
    unittest.main(argv=sys.argv[:1])
