# SPDX-License-Identifier: GPL-2.0-or-later
"""raidctl monitor --metrics FILE run as a process, its file read with Prometheus's own text
parser, as the node exporter's textfile collector reads it.

Run by CTest: raidctl_metrics_test.py RAIDCTL SCENARIO_DIR (with /usr/bin/python3, which has
python3-prometheus-client).
"""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from prometheus_client.parser import text_string_to_metric_families

RAIDCTL = ""
SCENARIOS = ""

# The last family of every file: a text that ends with it is complete.
LAST_LINE_START = "raidgui_alert_mail_recipients_failed_total "
SECTOR_BYTES = 512
DRIVE_SECTORS = 1953525168


def parse(text):
    """Samples as {(name, frozenset(labels)): value}; raises on text the parser refuses."""
    samples = {}
    for family in text_string_to_metric_families(text):
        for sample in family.samples:
            key = (sample.name, frozenset(sample.labels.items()))
            if key in samples:
                raise ValueError("series given twice: %r" % (key,))
            samples[key] = sample.value
    return samples


def value(samples, metric, **labels):
    return samples.get((metric, frozenset(labels.items())))


def series(samples, metric, **labels):
    """The samples of `metric` whose labels include `labels`."""
    wanted = set(labels.items())
    return {frozenset(k[1]): v for k, v in samples.items() if k[0] == metric and wanted <= k[1]}


class MetricsTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="raidctl-metrics-")
        # No mail settings of the machine's: alerts are then dropped, never mailed.
        os.makedirs(os.path.join(self.folder, "config"))
        self.env = dict(os.environ,
                        RAIDGUI_LOG_DIR=os.path.join(self.folder, "logs"),
                        RAIDGUI_CONFIG_DIR=os.path.join(self.folder, "config"))
        self.metrics = os.path.join(self.folder, "raidgui.prom")

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def scenario(self, name, content=None):
        if content is None:
            return os.path.join(SCENARIOS, name)
        path = os.path.join(self.folder, name)
        with open(path, "w") as file:
            json.dump(content, file)
        return path

    def monitor(self, scenario, seconds, metrics=None):
        """Runs the monitor for `seconds` of simulated time; its stderr, the file's samples."""
        run = subprocess.run(
            [RAIDCTL, "monitor", "--simulate", scenario, "--for", str(seconds),
             "--metrics", metrics or self.metrics],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
            timeout=120)
        self.assertEqual(run.returncode, 0, run.stderr)
        if metrics is not None:
            return run.stderr, None
        with open(self.metrics, "rb") as file:
            text = file.read().decode("utf-8")  # strict: a reader wants UTF-8
        self.assertTrue(text.splitlines()[-1].startswith(LAST_LINE_START), text)
        return run.stderr, parse(text)

    def spawn(self, scenario, *extra):
        err = open(os.path.join(self.folder, "err.txt"), "w")
        process = subprocess.Popen(
            [RAIDCTL, "monitor", "--simulate", scenario, "--metrics", self.metrics, *extra],
            env=self.env, stdout=subprocess.DEVNULL, stderr=err)
        err.close()
        return process

    def stderr_lines(self):
        with open(os.path.join(self.folder, "err.txt")) as file:
            return file.read().splitlines()

    def wait_for(self, condition, seconds=30):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if condition():
                return True
            time.sleep(0.02)
        return False

    def stop(self, process):
        process.send_signal(signal.SIGTERM)
        self.assertEqual(process.wait(timeout=30), 0)

    # HDD2 is pulled at 30 s, a new drive goes in at 90 s and is rebuilt from 100 s to 280 s.
    def test_rebuild_story_stage_by_stage(self):
        story = self.scenario("rebuild_story.json")
        port = {"1": dict(enclosure="1", port="1"), "2": dict(enclosure="1", port="2")}

        _, before = self.monitor(story, 20)
        self.assertEqual(value(before, "raidgui_enclosures"), 1)
        self.assertEqual(value(before, "raidgui_enclosure_up", enclosure="1"), 1)
        info = series(before, "raidgui_enclosure_info", enclosure="1")
        self.assertEqual(len(info), 1)
        self.assertIn(("model", "TORVANE TR6182 Dual SATA RAID"), next(iter(info)))
        self.assertIn(("physical_drive", "1"), next(iter(info)))
        self.assertEqual(value(before, "raidgui_array_mode", enclosure="1", mode="mirroring"), 1)
        self.assertEqual(sum(series(before, "raidgui_array_mode").values()), 1)
        self.assertEqual(value(before, "raidgui_array_capacity_bytes", enclosure="1"),
                         DRIVE_SECTORS * SECTOR_BYTES)
        self.assertEqual(value(before, "raidgui_enclosure_fan_speed_rpm", enclosure="1"), 2350)
        self.assertEqual(value(before, "raidgui_enclosure_temperature_celsius", enclosure="1"), 41)
        self.assertEqual(value(before, "raidgui_enclosure_poll_failures_total", enclosure="1"), 0)
        self.assertGreater(
            value(before, "raidgui_enclosure_last_poll_success_timestamp_seconds", enclosure="1"),
            1e9)
        for drive in ("1", "2"):
            self.assertEqual(value(before, "raidgui_drive_present", **port[drive]), 1)
            self.assertEqual(value(before, "raidgui_drive_state", state="present", **port[drive]), 1)
            self.assertEqual(value(before, "raidgui_drive_capacity_bytes", **port[drive]),
                             DRIVE_SECTORS * SECTOR_BYTES)
            self.assertEqual(value(before, "raidgui_smart_verdict", verdict="good", **port[drive]), 1)
            self.assertGreater(len(series(before, "raidgui_smart_attribute_raw", **port[drive])), 0)
        self.assertEqual(value(before, "raidgui_array_operation", enclosure="1", operation="none"), 1)
        self.assertEqual(series(before, "raidgui_array_operation_progress_ratio"), {})
        self.assertEqual(value(before, "raidgui_alert_mails_sent_total"), 0)
        self.assertEqual(value(before, "raidgui_alert_mails_failed_total"), 0)
        self.assertEqual(value(before, "raidgui_alert_mail_recipients_failed_total"), 0)

        _, pulled = self.monitor(story, 60)
        self.assertEqual(value(pulled, "raidgui_drive_present", **port["1"]), 1)
        self.assertEqual(value(pulled, "raidgui_drive_present", **port["2"]), 0)
        self.assertEqual(value(pulled, "raidgui_drive_state", state="absent", **port["2"]), 1)
        self.assertEqual(series(pulled, "raidgui_drive_info", **port["2"]), {})
        # No SMART values of a drive that has left.
        for name in ("raidgui_smart_verdict", "raidgui_smart_attribute_raw",
                     "raidgui_smart_last_read_timestamp_seconds"):
            self.assertEqual(series(pulled, name, **port["2"]), {}, name)
        self.assertEqual(value(pulled, "raidgui_smart_verdict", verdict="good", **port["1"]), 1)

        progress = []
        for seconds in (150, 220):
            _, rebuilding = self.monitor(story, seconds)
            self.assertEqual(
                value(rebuilding, "raidgui_array_operation", enclosure="1", operation="rebuild"), 1)
            ratio = series(rebuilding, "raidgui_array_operation_progress_ratio")
            self.assertEqual(list(ratio), [frozenset(dict(operation="rebuild", **port["2"]).items())])
            progress.append(next(iter(ratio.values())))
        self.assertTrue(0 < progress[0] < progress[1] < 1, progress)

        _, after = self.monitor(story, 400)
        for drive in ("1", "2"):
            self.assertEqual(value(after, "raidgui_drive_present", **port[drive]), 1)
            # The new drive is judged against its own thresholds.
            self.assertEqual(value(after, "raidgui_smart_verdict", verdict="good", **port[drive]), 1)
        self.assertIn(("model", "NORTHWIND NW1000SA-02"),
                      next(iter(series(after, "raidgui_drive_info", **port["2"]))))
        self.assertEqual(value(after, "raidgui_array_operation", enclosure="1", operation="none"), 1)
        self.assertEqual(series(after, "raidgui_array_operation_progress_ratio"), {})

    # A drive swapped without a new discovery: its thresholds are read again before it is judged.
    def test_a_swapped_drive_is_judged_by_its_own_thresholds_only(self):
        story = self.scenario("swap.json", {"drives": [{"number": 1, "type": "enclosure"}],
                                            "timeline": [
            {"at_s": 30, "drive": 1, "action": "pull_drive", "port": 1},
            {"at_s": 31, "drive": 1, "action": "insert_drive", "port": 1, "state": "in_array",
             "member": {"model": "OTHER DRIVE 2000", "serial": "OD0000002", "smart": {
                 "attributes": [{"id": 5, "current": 50, "worst": 50, "threshold": 60}]}}}]})
        hdd2 = dict(enclosure="1", port="2")
        # Its data is read at the next SMART read, the thresholds only with the one after.
        _, swapped = self.monitor(story, 90)
        self.assertIn(("model", "OTHER DRIVE 2000"),
                      next(iter(series(swapped, "raidgui_drive_info", **hdd2))))
        self.assertEqual(value(swapped, "raidgui_smart_attribute_raw", id="5",
                               name="Reallocated sector count", **hdd2), 0)
        self.assertEqual(series(swapped, "raidgui_smart_verdict", **hdd2), {})

        _, judged = self.monitor(story, 150)
        self.assertEqual(value(judged, "raidgui_smart_verdict", verdict="error", **hdd2), 1)
        self.assertEqual(
            value(judged, "raidgui_smart_verdict", enclosure="1", port="1", verdict="good"), 1)

    def test_failed_smart_reads_leave_no_values_and_failed_polls_are_counted(self):
        # Every SMART data read fails from 30 s on; every status poll fails from 200 s on.
        enclosure = {"number": 1, "type": "enclosure"}
        story = self.scenario("failing.json", {"drives": [enclosure], "timeline": [
            {"at_s": 30, "drive": 1, "action": "set_faults", "faults": {
                "drive_command_faults": [{"feature": "0xD0", "times": 1000000}]}},
            {"at_s": 200, "drive": 1, "action": "set_faults", "faults": {
                "fail_reads_at": [{"lba": 17, "times": 1000000}]}}]})
        _, read = self.monitor(story, 20)
        self.assertEqual(len(series(read, "raidgui_smart_verdict", verdict="good")), 2)

        _, failed = self.monitor(story, 90)
        for name in ("raidgui_smart_verdict", "raidgui_smart_attribute_raw"):
            self.assertEqual(series(failed, name), {}, name)
        self.assertEqual(value(failed, "raidgui_enclosure_up", enclosure="1"), 1)

        _, silent = self.monitor(story, 240)
        self.assertEqual(value(silent, "raidgui_enclosure_up", enclosure="1"), 0)
        self.assertGreater(value(silent, "raidgui_enclosure_poll_failures_total", enclosure="1"), 0)
        self.assertEqual(series(silent, "raidgui_array_mode"), {})
        last_good = value(silent, "raidgui_enclosure_last_poll_success_timestamp_seconds",
                          enclosure="1")
        first_good = value(read, "raidgui_enclosure_last_poll_success_timestamp_seconds",
                           enclosure="1")
        self.assertGreater(last_good, first_good)

    # Read over and over while the monitor replaces it: every read is a whole file.
    def test_a_reader_never_sees_a_half_written_file(self):
        process = self.spawn(self.scenario("rebuild_story.json"))
        try:
            self.assertTrue(self.wait_for(lambda: os.path.exists(self.metrics)))
            versions = set()
            reads = 0
            deadline = time.monotonic() + 4
            while time.monotonic() < deadline:
                with open(self.metrics, "rb") as file:
                    text = file.read().decode("utf-8")
                reads += 1
                self.assertTrue(text.endswith("\n") and
                                text.splitlines()[-1].startswith(LAST_LINE_START), text)
                parse(text)
                versions.add(text)
        finally:
            self.stop(process)
        self.assertGreater(len(versions), 5, "only %d versions in %d reads" % (len(versions), reads))

    def put_folder_in_place_of_metrics(self):
        # The monitor may write the file again between the removal and the mkdir.
        try:
            os.remove(self.metrics)
            os.mkdir(self.metrics)
            return True
        except (FileExistsError, FileNotFoundError):
            return False

    def test_a_place_that_cannot_be_written_is_told_once_and_the_monitor_goes_on(self):
        missing = os.path.join(self.folder, "nowhere", "raidgui.prom")
        stderr, _ = self.monitor(self.scenario("demo.json"), 30, metrics=missing)
        told = [line for line in stderr.splitlines()
                if line.startswith("raidctl: metrics in") or "the metrics" in line]
        self.assertEqual(told, [
            "raidctl: metrics in " + missing,
            "raidctl: cannot write the metrics: the folder %s does not exist; monitoring goes on,"
            " and the metrics are written as soon as that is mended" % os.path.dirname(missing)])
        self.assertTrue(os.listdir(os.path.join(self.folder, "logs")))  # the log goes on

        # A folder put in the file's place while the monitor runs, then taken away again.
        process = self.spawn(self.scenario("demo.json"))
        try:
            self.assertTrue(self.wait_for(lambda: os.path.isfile(self.metrics)))
            self.assertTrue(self.wait_for(self.put_folder_in_place_of_metrics))
            self.assertTrue(self.wait_for(
                lambda: any("cannot write the metrics" in line for line in self.stderr_lines())))
            os.rmdir(self.metrics)
            self.assertTrue(self.wait_for(
                lambda: "raidctl: the metrics are written to %s again" % self.metrics
                in self.stderr_lines()))
            with open(self.metrics) as file:
                self.assertEqual(value(parse(file.read()), "raidgui_enclosures"), 2)
        finally:
            self.stop(process)
        # Told once. The monitor may have looked between the removal and the mkdir: then the
        # rename onto the folder is what fails.
        failures = [line for line in self.stderr_lines() if "cannot write the metrics" in line]
        self.assertEqual(len(failures), 1, failures)
        self.assertRegex(failures[0], "^raidctl: cannot write the metrics: (%s is not a regular"
                         " file \\(a folder\\)|cannot replace %s: .*); monitoring goes on, and the"
                         " metrics are written as soon as that is mended$"
                         % (re.escape(self.metrics), re.escape(self.metrics)))

    def test_a_new_file_is_readable_by_the_exporter_and_an_old_one_keeps_its_mode(self):
        # A service's umask would make a new file owner-only; the exporter reads as another user.
        def run_with_umask():
            subprocess.run(
                [RAIDCTL, "monitor", "--simulate", self.scenario("demo.json"), "--for", "10",
                 "--metrics", self.metrics],
                env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=lambda: os.umask(0o077), timeout=120, check=True)
            return os.stat(self.metrics).st_mode & 0o777

        self.assertEqual(run_with_umask(), 0o644)
        os.chmod(self.metrics, 0o640)  # the owner's choice, say for the exporter's group
        self.assertEqual(run_with_umask(), 0o640)


if __name__ == "__main__":
    RAIDCTL, SCENARIOS = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
