# SPDX-License-Identifier: GPL-2.0-or-later
"""The Grafana dashboard of packaging/grafana asks only for series that raidctl writes: every metric
name in its queries is one of the families the metrics text can hold, and those are the names a
real metrics file of raidctl carries.

Run by CTest: grafana_dashboard_test.py RAIDCTL SOURCE_DIR (with /usr/bin/python3, which has
python3-prometheus-client).
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from prometheus_client.parser import text_string_to_metric_families

RAIDCTL = ""
SOURCE_DIR = ""

PROMQL_KEYWORDS = {"and", "or", "unless", "bool", "offset", "by", "without", "on", "ignoring",
                   "group_left", "group_right", "inf", "nan"}


def promql_metric_names(expr):
    """The metric names an expression selects."""
    text = re.sub(r'"(?:[^"\\]|\\.)*"', "", expr)  # label values may hold anything
    text = re.sub(r"\$\{?\w+\}?", "", text)  # Grafana's variables
    text = re.sub(r"\{[^}]*\}", "", text)  # label matchers
    text = re.sub(r"\[[^\]]*\]", "", text)  # ranges
    text = re.sub(r"\b(by|without|on|ignoring|group_left|group_right)\s*\([^)]*\)", "", text)
    names = set()
    for match in re.finditer(r"(?<![\w.])([a-zA-Z_:][\w:]*)(\s*\()?", text):
        if match.group(2) is None and match.group(1).lower() not in PROMQL_KEYWORDS:
            names.add(match.group(1))
    return names


def dashboard_queries(dashboard):
    """Every panel's expressions, rows' panels too, and the variables' queries."""
    def panels(items):
        for panel in items:
            yield panel
            yield from panels(panel.get("panels", []))

    exprs = [target["expr"] for panel in panels(dashboard["panels"])
             for target in panel.get("targets", []) if "expr" in target]
    variables = []
    for variable in dashboard.get("templating", {}).get("list", []):
        if variable.get("type") != "query":
            continue
        query = variable["query"]
        variables.append(query["query"] if isinstance(query, dict) else query)
    return exprs, variables


def code_families():
    """The families the metrics text declares: Family name("raidgui_...", ...)."""
    with open(os.path.join(SOURCE_DIR, "src", "monitor", "metrics_text.cpp")) as file:
        return set(re.findall(r'Family\s+\w+\(\s*"(raidgui_\w+)"', file.read()))


class DashboardTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(os.path.join(SOURCE_DIR, "packaging", "grafana", "raidgui.json")) as file:
            cls.dashboard = json.load(file)
        cls.families = code_families()

    def test_the_code_names_the_families_a_real_file_has(self):
        folder = tempfile.mkdtemp(prefix="raidgui-dashboard-")
        try:
            os.makedirs(os.path.join(folder, "config"))
            env = dict(os.environ, RAIDGUI_LOG_DIR=os.path.join(folder, "logs"),
                       RAIDGUI_CONFIG_DIR=os.path.join(folder, "config"))
            metrics = os.path.join(folder, "raidgui.prom")
            # The rebuild runs at 60 s: a progress series too.
            subprocess.run([RAIDCTL, "monitor", "--for", "60", "--metrics", metrics, "--simulate",
                            os.path.join(SOURCE_DIR, "sim", "scenarios", "demo.json")],
                           env=env, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)
            with open(metrics) as file:
                written = {family.name for family in text_string_to_metric_families(file.read())}
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        # The parser names a counter without its _total.
        written = {name if name in self.families else name + "_total" for name in written}
        self.assertLessEqual(written, self.families)
        self.assertIn("raidgui_array_operation_progress_ratio", written)

    def test_every_query_names_only_series_raidctl_writes(self):
        exprs, variables = dashboard_queries(self.dashboard)
        self.assertTrue(exprs)
        used = set()
        for expr in exprs:
            names = promql_metric_names(expr)
            self.assertTrue(names, expr)
            self.assertLessEqual(names, self.families, expr)
            used |= names
        for query in variables:
            match = re.fullmatch(r"label_values\((\w+),\s*\w+\)", query)
            self.assertIsNotNone(match, query)
            self.assertIn(match.group(1), self.families, query)
        # What a fleet's operator looks for: the enclosures, the arrays and their rebuilds, the
        # member drives, temperature and fan, SMART verdicts and the alert mails that failed.
        self.assertLessEqual({"raidgui_enclosure_up", "raidgui_array_mode",
                              "raidgui_array_operation", "raidgui_array_operation_progress_ratio",
                              "raidgui_drive_state", "raidgui_enclosure_temperature_celsius",
                              "raidgui_enclosure_fan_speed_rpm", "raidgui_smart_verdict",
                              "raidgui_alert_mails_failed_total"}, used)

    def test_metric_names_are_told_from_labels_functions_and_variables(self):
        self.assertEqual(promql_metric_names(
            'sum by (instance, job) (increase(raidgui_a_total{instance=~"$instance",x="b{c}"}'
            '[$__rate_interval])) / on(instance) group_left(model) raidgui_b > 1e9 or '
            'time() - raidgui_c offset 5m'), {"raidgui_a_total", "raidgui_b", "raidgui_c"})
        self.assertEqual(promql_metric_names("node_load1 and bool up"), {"node_load1", "up"})


if __name__ == "__main__":
    RAIDCTL, SOURCE_DIR = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    unittest.main(argv=sys.argv[:1], verbosity=2)
