#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""raidctl.exe mails through libcurl on Schannel under Wine, against the local SMTP server.

Plain SMTP; STARTTLS with the server's own CA named in RAIDGUI_SMTP_CA_FILE; the refusal of a
server whose certificate that file does not vouch for; and the monitor's alert mail for a pulled
drive. Wine's Schannel does not check a certificate against its own store: with no CA file named,
a STARTTLS server's certificate goes unchecked there (on Windows, Schannel checks it against the
machine's store), so the refusal is tested with a CA file, where curl checks the chain itself.

Usage: windows_mail_test.py RAIDCTL_EXE SMTP_TEST_SERVER SCENARIO_DIR   (WINEPREFIX set)
"""
import json
import os
import subprocess
import sys
import tempfile
from pathlib import Path

SETTINGS_KEY = r"HKLM\SOFTWARE\QK_RAID_GUI"
failures = []


def check(condition, what, detail=""):
    if not condition:
        failures.append(f"{what}\n{detail}".rstrip())


def windows_path(path):
    return subprocess.run(["winepath", "-w", str(path)], capture_output=True, text=True,
                          check=True).stdout.strip()


class Server:
    """The test SMTP server (aiosmtpd, Debian's python3) on a port of its own choosing."""

    def __init__(self, script, folder, mode):
        folder.mkdir()
        self.folder = folder
        self.process = subprocess.Popen(
            ["/usr/bin/python3", script, "--mode", mode, "--record", str(folder / "record.jsonl"),
             "--cert-dir", str(folder)], stdout=subprocess.PIPE, text=True)
        said = self.process.stdout.readline()
        if not said.startswith("PORT "):
            sys.exit(f"the SMTP test server did not start: {said!r}")
        self.port = int(said.split()[1])

    def records(self, event):
        path = self.folder / "record.jsonl"
        lines = path.read_text().splitlines() if path.exists() else []
        return [r for r in map(json.loads, lines) if r["event"] == event]

    def stop(self):
        self.process.kill()
        self.process.wait()


def main():
    raidctl, server_script, scenarios = sys.argv[1:4]

    def run(*arguments, ca_file=None):
        env = dict(os.environ)
        env.pop("RAIDGUI_SMTP_CA_FILE", None)
        if ca_file:
            env["RAIDGUI_SMTP_CA_FILE"] = windows_path(ca_file)
        done = subprocess.run(["wine", raidctl, *arguments], env=env, capture_output=True,
                              text=True, timeout=120)
        return done.returncode, done.stdout + done.stderr

    def set_up(server):
        code, said = run("mail-setup", "--smtp", "localhost", "--port", str(server.port),
                         "--from", "raid@example.com", "--to", "ops@example.com", "--no-auth",
                         "--subject", "disk-fail", "Drive trouble")
        check(code == 0, "mail-setup failed", said)

    with tempfile.TemporaryDirectory() as scratch:
        scratch = Path(scratch)
        servers = []
        try:
            plain = Server(server_script, scratch / "plain", "plain")
            servers.append(plain)
            set_up(plain)
            code, said = run("mail-test")
            check(code == 0 and "250" in said, "the test mail over plain SMTP failed", said)
            data = plain.records("data")
            check(len(data) == 1 and not data[0]["tls"], "the plain server got no mail", str(data))

            # The monitor's alert for the drive the story pulls at 30 s.
            code, said = run("monitor", "--simulate", windows_path(Path(scenarios) /
                                                                   "rebuild_story.json"),
                             "--for", "60")
            data = plain.records("data")
            check(code == 0 and len(data) == 2, "the monitor mailed no alert", said)
            if len(data) == 2:
                check(data[1]["parsed"]["subject"] == "[RAID GUI v0.50.11-4 Message] Drive trouble",
                      "the alert mail's subject", str(data[1]["parsed"]))
                check("HDD2 is absent." in data[1]["parsed"]["body"], "the alert mail's body",
                      data[1]["parsed"]["body"])

            tls = Server(server_script, scratch / "starttls", "starttls")
            servers.append(tls)
            set_up(tls)
            code, said = run("mail-test", ca_file=tls.folder / "ca.pem")
            data = tls.records("data")
            check(code == 0 and len(data) == 1 and data[0]["tls"],
                  "the test mail over STARTTLS with the server's CA failed", said)

            # Another server's CA vouches for nothing here: refused before any mail is sent.
            stranger = Server(server_script, scratch / "stranger", "starttls")
            servers.append(stranger)
            set_up(stranger)
            code, said = run("mail-test", ca_file=tls.folder / "ca.pem")
            check(code != 0 and f"localhost:{stranger.port}" in said and
                  "certificate" in said.lower(),
                  "a certificate the CA file does not vouch for was not refused", said)
            check(not stranger.records("mail"), "a mail began on an untrusted connection")
        finally:
            for server in servers:
                server.stop()
            subprocess.run(["wine", "reg", "delete", SETTINGS_KEY, "/f"], capture_output=True)

    if failures:
        print("\n\n".join(failures), file=sys.stderr)
        return 1
    print("windows_mail_test: plain, STARTTLS, the refusal and the monitor's alert all held")
    return 0


if __name__ == "__main__":
    sys.exit(main())
