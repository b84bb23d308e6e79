# SPDX-License-Identifier: GPL-2.0-or-later
"""The Prometheus alerting rules of packaging/prometheus, run by promtool on series that
`raidctl monitor --metrics` wrote while a simulated enclosure went through its troubles.

Run by CTest: prometheus_rules_test.py RAIDCTL SOURCE_DIR (with /usr/bin/python3, which has
python3-prometheus-client) and promtool (Debian's prometheus package) on PATH.

raidctl runs one story several times, each run stopped at a chosen moment, and its metrics file is
captured. A test case then lays captures one after the other on promtool's clock, a number of
minutes each, as a scrape of the node exporter would see them, and states which alerts fire when.
"""

import calendar
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from prometheus_client.parser import text_string_to_metric_families

RAIDCTL = ""
SOURCE_DIR = ""

# What the scrape adds to every series of the textfile collector.
SCRAPE = {"instance": "nas1:9100", "job": "node"}
STARTS_AT = "2026-12-01 00:00:00"  # read as UTC: raidctl runs with TZ=UTC

# One enclosure through a bad week: hot, then HDD2 pulled (an alert mail and a push notification
# that cannot go out), a
# replacement whose SMART data is failing put in and rebuilt, then the bridge stops answering.
STORY = {
    "seed": 7,
    "starts_at": STARTS_AT,
    "drives": [{"number": 1, "type": "enclosure"}],
    "timeline": [
        {"at_s": 70, "drive": 1, "action": "set_temperature", "celsius": 62},
        {"at_s": 110, "drive": 1, "action": "set_temperature", "celsius": 41},
        {"at_s": 120, "drive": 1, "action": "pull_drive", "port": 1},
        {"at_s": 170, "drive": 1, "action": "insert_drive", "port": 1, "state": "new",
         "member": {"model": "NORTHWIND NW1000SA-09", "serial": "NW1A00000666", "smart": {
             "attributes": [{"id": 5, "current": 50, "worst": 50, "threshold": 60}]}}},
        {"at_s": 180, "drive": 1, "action": "start_rebuild", "port": 1, "duration_s": 360000},
        {"at_s": 400, "drive": 1, "action": "set_faults", "faults": {
            "fail_reads_at": [{"lba": 17, "times": 1000000}]}},
    ],
}

# Story second of each capture.
MOMENTS = {
    "normal": 60,
    "hot": 100,
    "absent": 150,
    "rebuilding": 330,  # the new drive's SMART verdict is in by then
    "silent": 430,  # polls fail, still polled
    "given_up": 520,  # after ten failed polls in a row
}


def parse(text):
    """{(name, labels as sorted tuple): value}."""
    samples = {}
    for family in text_string_to_metric_families(text):
        for sample in family.samples:
            samples[(sample.name, tuple(sorted(sample.labels.items())))] = sample.value
    return samples


class Capture:
    def __init__(self, name, samples):
        self.name = name
        self.samples = samples
        self.now = calendar.timegm(time.strptime(STARTS_AT, "%Y-%m-%d %H:%M:%S")) + MOMENTS[name]

    def value(self, name, **labels):
        return self.samples.get((name, tuple(sorted(labels.items()))))

    def answering(self, enclosure):
        return self.value("raidgui_enclosure_up", enclosure=enclosure) == 1


def capture_story(folder):
    """raidctl on the story, its metrics file at each moment."""
    config = os.path.join(folder, "config")
    os.makedirs(config)
    env = dict(os.environ, TZ="UTC", RAIDGUI_CONFIG_DIR=config,
               RAIDGUI_LOG_DIR=os.path.join(folder, "logs"))
    env.pop("JOURNAL_STREAM", None)
    # Alert mails to a port where nothing listens: each one fails.
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    subprocess.run([RAIDCTL, "mail-setup", "--smtp", "127.0.0.1", "--port", str(port),
                    "--timeout", "2", "--no-auth", "--from", "raid@example.com",
                    "--to", "admin@example.com"], env=env, check=True, capture_output=True)
    # A push channel there too: its notifications fail as well.
    notify = os.path.join(config, "notify.toml")
    with open(os.open(notify, os.O_WRONLY | os.O_CREAT, 0o600), "w") as file:
        file.write('[[channel]]\nname = "phone"\ntype = "ntfy"\nurl = "http://127.0.0.1:%d/raid"\n'
                   % port)
    story = os.path.join(folder, "story.json")
    with open(story, "w") as file:
        json.dump(STORY, file)
    captures = {}
    for name, seconds in MOMENTS.items():
        metrics = os.path.join(folder, name + ".prom")
        run = subprocess.run([RAIDCTL, "monitor", "--simulate", story, "--for", str(seconds),
                              "--metrics", metrics], env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE, text=True, timeout=300)
        if run.returncode != 0:
            raise RuntimeError("raidctl monitor failed:\n" + run.stderr)
        with open(metrics) as file:
            captures[name] = Capture(name, parse(file.read()))
    return captures


def compressed(values):
    """promtool's series notation: runs of one value as "vxN", steps of 60 as "a+60xN"."""
    parts = []
    i = 0
    while i < len(values):
        j = i + 1
        if values[i] is None:
            while j < len(values) and values[j] is None:
                j += 1
            parts.append("_" if j - i == 1 else "_x%d" % (j - i - 1))
        else:
            step = None
            if j < len(values) and values[j] is not None:
                step = values[j] - values[i]
                while j < len(values) and values[j] is not None and \
                        values[j] - values[j - 1] == step:
                    j += 1
            if step is None or j - i == 1:
                parts.append(repr(values[i]))
            elif step == 0:
                parts.append("%r x%d" % (values[i], j - i - 1))
            else:
                parts.append("%r+%rx%d" % (values[i], step, j - i - 1))
        i = j
    return " ".join(parts).replace(" x", "x")


def series_notation(name, labels):
    text = ",".join('%s="%s"' % (key, value.replace("\\", "\\\\").replace('"', '\\"'))
                    for key, value in sorted(dict(labels, **SCRAPE).items()))
    return "%s{%s}" % (name, text)


def input_series(holds):
    """The scrapes, one a minute, of captures held one after the other: [(capture, minutes,
    frozen)]. A time stamp series tells an age: while its enclosure answers, the monitor writes a
    fresh one each cycle, so its age stays what the capture had; once polls fail, or a frozen
    file (a monitor that died) is served, the time stamp stays."""
    keys = []
    for capture, _, _ in holds:
        for key in capture.samples:
            if key not in keys:
                keys.append(key)
    columns = {key: [] for key in keys}
    minute = 0
    for capture, minutes, frozen in holds:
        start = minute * 60
        for step in range(minutes):
            now = (minute + step) * 60
            for key in keys:
                value = capture.samples.get(key)
                if value is not None and key[0].endswith("_timestamp_seconds"):
                    age = capture.now - value
                    enclosure = dict(key[1])["enclosure"]
                    live = not frozen and capture.answering(enclosure)
                    value = round((now if live else start) - age, 3)
                columns[key].append(value)
        minute += minutes
    return [{"series": series_notation(name, labels), "values": compressed(columns[(name, labels)])}
            for name, labels in keys]


def alert(severity, summary, description, **labels):
    return {"exp_labels": dict(SCRAPE, severity=severity, **labels),
            "exp_annotations": {"summary": summary, "description": description}}


class RulesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.promtool = shutil.which("promtool")
        if cls.promtool is None:
            raise RuntimeError("promtool is not installed (Debian package prometheus): the "
                               "alerting rules cannot be checked")
        cls.rules = os.path.join(SOURCE_DIR, "packaging", "prometheus", "raidgui.rules.yml")
        cls.folder = tempfile.mkdtemp(prefix="raidgui-rules-")
        cls.captures = capture_story(cls.folder)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def hold(self, name, minutes, frozen=False):
        return (self.captures[name], minutes, frozen)

    def promtool_test(self, holds, expectations):
        """expectations: [(eval time, alert name, [alert(...)])]; an empty list: none fires."""
        tests = [{"interval": "1m", "input_series": input_series(holds), "alert_rule_test": [
            {"eval_time": at, "alertname": name, "exp_alerts": alerts}
            for at, name, alerts in expectations]}]
        path = os.path.join(self.folder, "test.json")
        # JSON is YAML too: no YAML writer needed.
        with open(path, "w") as file:
            json.dump({"rule_files": [self.rules], "evaluation_interval": "1m", "tests": tests},
                      file, ensure_ascii=False, indent=1)
        run = subprocess.run([self.promtool, "test", "rules", path], capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)

    def test_the_rules_file_checks(self):
        run = subprocess.run([self.promtool, "check", "rules", self.rules], capture_output=True,
                             text=True)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)

    def test_the_captures_went_through_the_story(self):
        c = self.captures
        self.assertEqual(c["normal"].value("raidgui_drive_present", enclosure="1", port="2"), 1)
        self.assertEqual(c["hot"].value("raidgui_enclosure_temperature_celsius", enclosure="1"), 62)
        self.assertEqual(c["absent"].value("raidgui_alert_mails_failed_total"), 1)
        self.assertEqual(c["rebuilding"].value("raidgui_smart_verdict", enclosure="1", port="2",
                                               verdict="error"), 1)
        self.assertEqual(c["silent"].value("raidgui_enclosure_up", enclosure="1"), 0)
        self.assertEqual(c["given_up"].value("raidgui_enclosure_monitored", enclosure="1"), 0)

    def test_a_degraded_or_rebuilding_array_is_not_normal(self):
        summary = "RAID array of Device1 on nas1:9100 is not in its normal state"
        description = ("The array of Device1 on nas1:9100 has had a member drive missing or not "
                       "in the array, or a rebuild or scan running, for 2 minutes: it is not "
                       "redundant until both drives are present again.")
        fired = [alert("warning", summary, description, enclosure="1")]
        self.promtool_test(
            [self.hold("normal", 10), self.hold("hot", 5), self.hold("absent", 5),
             self.hold("normal", 5), self.hold("rebuilding", 5)],
            [("14m", "RaidArrayNotNormal", []),
             ("16m", "RaidArrayNotNormal", []),  # not for 2 minutes yet
             ("19m", "RaidArrayNotNormal", fired),
             ("24m", "RaidArrayNotNormal", []),
             ("29m", "RaidArrayNotNormal", fired)])

    def test_a_pulled_drive_is_named_but_a_drive_being_rebuilt_is_not(self):
        self.promtool_test(
            [self.hold("normal", 5), self.hold("absent", 5), self.hold("rebuilding", 5)],
            [("4m", "RaidMemberDriveFailedOrAbsent", []),
             ("8m", "RaidMemberDriveFailedOrAbsent", [alert(
                 "critical", "HDD2 of Device1 on nas1:9100 is absent",
                 "Member drive HDD2 of Device1 on nas1:9100 has been absent for a minute. "
                 "Replace it and let the enclosure rebuild the array.",
                 enclosure="1", port="2", state="absent")]),
             ("14m", "RaidMemberDriveFailedOrAbsent", [])])

    def test_a_rebuild_fires_only_after_a_day(self):
        progress = self.captures["rebuilding"].value(
            "raidgui_array_operation_progress_ratio", enclosure="1", port="2", operation="rebuild")
        self.assertIsNotNone(progress)
        self.promtool_test(
            [self.hold("rebuilding", 25 * 60)],
            [("23h", "RaidRebuildTooLong", []),
             ("24h5m", "RaidRebuildTooLong", [alert(
                 "warning",
                 "Rebuild onto HDD2 of Device1 on nas1:9100 has run for more than a day",
                 "The rebuild onto HDD2 of Device1 on nas1:9100 has been running for more than 24 "
                 "hours and is at %g%%. Check the drive and the enclosure's log." % (progress * 100),
                 enclosure="1", port="2", operation="rebuild")])])

    def test_an_enclosure_that_stops_answering_is_down_then_not_monitored(self):
        down = alert("critical", "Device1 on nas1:9100 does not answer",
                     "Device1 on nas1:9100 has not answered its status polls for a minute: its "
                     "array and drives are not watched.", enclosure="1")
        not_monitored = alert(
            "critical", "Device1 on nas1:9100 is no longer monitored",
            "raidctl on nas1:9100 stopped polling Device1 after repeated failures. Reconnect the "
            "enclosure or restart raidctl-monitor.", enclosure="1")
        self.promtool_test(
            [self.hold("normal", 5), self.hold("silent", 5), self.hold("given_up", 5)],
            [("4m", "RaidEnclosureDown", []),
             ("8m", "RaidEnclosureDown", [down]),
             ("8m", "RaidEnclosureNotMonitored", []),
             ("11m", "RaidEnclosureNotMonitored", [not_monitored])])

    def test_failing_polls_are_counted_as_rising(self):
        c = self.captures
        failures = (c["silent"].value("raidgui_enclosure_poll_failures_total", enclosure="1") -
                    c["normal"].value("raidgui_enclosure_poll_failures_total", enclosure="1"))
        self.assertGreater(failures, 2)
        self.promtool_test(
            [self.hold("normal", 10), self.hold("silent", 30)],
            [("9m", "RaidPollFailuresRising", []),
             ("12m", "RaidPollFailuresRising", [alert(
                 "warning", "Status polls of Device1 on nas1:9100 are failing",
                 "%g status polls of Device1 on nas1:9100 failed in the last 15 minutes: a "
                 "cable, the USB port or the enclosure's bridge may be failing." % failures,
                 enclosure="1")]),
             # The count stands still: nothing new has failed for a quarter of an hour.
             ("39m", "RaidPollFailuresRising", [])])

    def test_a_failing_smart_verdict_names_the_drive(self):
        self.promtool_test(
            [self.hold("normal", 5), self.hold("rebuilding", 5)],
            [("4m", "RaidSmartVerdictNotGood", []),
             ("8m", "RaidSmartVerdictNotGood", [alert(
                 "warning", "SMART verdict of HDD2 of Device1 on nas1:9100 is error",
                 "The SMART data of member drive HDD2 of Device1 on nas1:9100 is judged error. "
                 "Look at its attributes (raidctl smart) and plan to replace it.",
                 enclosure="1", port="2", verdict="error")])])

    def test_a_hot_enclosure_fires_after_five_minutes(self):
        self.promtool_test(
            [self.hold("normal", 5), self.hold("hot", 10), self.hold("normal", 5)],
            [("4m", "RaidEnclosureHot", []),
             ("8m", "RaidEnclosureHot", []),
             ("12m", "RaidEnclosureHot", [alert(
                 "warning", "Device1 on nas1:9100 is at 62 °C",
                 "Device1 on nas1:9100 has reported more than 55 °C for 5 minutes (62 °C now). "
                 "Check its fan and airflow.", enclosure="1")]),
             ("17m", "RaidEnclosureHot", [])])

    def test_no_poll_success_for_five_minutes_is_stale(self):
        def stale(age):
            return [alert(
                "critical",
                "No status poll of Device1 on nas1:9100 has succeeded for 5 minutes",
                "The last successful status poll of Device1 on nas1:9100 was %s ago: "
                "raidctl-monitor may have stopped, or the enclosure stopped answering." % age,
                enclosure="1")]

        silent = self.captures["silent"]
        silent_age = silent.now - silent.value(
            "raidgui_enclosure_last_poll_success_timestamp_seconds", enclosure="1")
        normal = self.captures["normal"]
        normal_age = normal.now - normal.value(
            "raidgui_enclosure_last_poll_success_timestamp_seconds", enclosure="1")
        # The age since the last success, as humanizeDuration words it: whole seconds.
        def words(seconds):
            minutes, rest = divmod(int(seconds), 60)
            return "%dm %ds" % (minutes, rest)

        # Polls that fail while the monitor goes on.
        self.promtool_test(
            [self.hold("normal", 5), self.hold("silent", 10)],
            [("9m", "RaidMetricsStale", []),
             ("11m", "RaidMetricsStale", stale(words(6 * 60 + silent_age)))])
        # A monitor that died: the collector serves its last file.
        self.promtool_test(
            [self.hold("normal", 5), self.hold("normal", 10, frozen=True)],
            [("9m", "RaidMetricsStale", []),
             ("11m", "RaidMetricsStale", stale(words(6 * 60 + normal_age)))])

    def test_a_mail_that_fails_fires_for_the_host(self):
        self.promtool_test(
            [self.hold("normal", 5), self.hold("absent", 65)],
            [("4m", "RaidAlertMailsFailing", []),
             ("8m", "RaidAlertMailsFailing", [alert(
                 "warning", "Alert mails from nas1:9100 are not delivered",
                 "Alert mails of the RAID enclosures on nas1:9100 failed, or did not reach a "
                 "recipient, in the last hour: check the mail settings (raidctl mail-show, "
                 "raidctl mail-test).")]),
             ("69m", "RaidAlertMailsFailing", [])])

    def test_a_push_channel_that_fails_fires_for_that_channel(self):
        self.assertEqual(self.captures["normal"].value("raidgui_notifications_failed_total",
                                                       channel="phone"), 0)
        self.promtool_test(
            [self.hold("normal", 5), self.hold("absent", 65)],
            [("4m", "RaidNotificationsFailing", []),
             ("8m", "RaidNotificationsFailing", [alert(
                 "warning", "Push channel phone of nas1:9100 is not delivering",
                 "Notifications from nas1:9100 to the push channel phone failed, or may not have "
                 "arrived, in the last hour: check the channel (raidctl notify-show, raidctl "
                 "notify-test).", channel="phone")]),
             ("69m", "RaidNotificationsFailing", [])])


if __name__ == "__main__":
    RAIDCTL, SOURCE_DIR = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    unittest.main(argv=sys.argv[:1], verbosity=2)
