#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""raidgui.exe under Wine tells the demo's story as the native raidgui does.

Both run the demo scenario on Qt's offscreen platform and take their pictures at the same story
times; beside each picture the window writes the texts it shows. The texts must be the same, one
file for one, apart from what depends on the moment rather than on the program:
- dates and times, which each program writes in its own locale's format (Wine's Windows locale
  and the C library's differ);
- what the last status poll or clock tick left: the poll is asked for every 5 s of story, so at
  a given story time the last one ran up to 5 s earlier, sooner on a fast machine than under Wine.
  That is the status bar's trace panels (the poll's last step and count), the SMART countdown
  line, the fan and temperature readings (they drift), and the rebuild's percentages (on the
  Status page, and in the log, where the lines of a rebuild, its end included, are taken as one).
The viewer's title says whether polling was paused at that moment: the first moment is taken once
the story runs steadily.

Usage: windows_demo_test.py RAIDGUI_EXE NATIVE_RAIDGUI SCENARIO
"""
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

STORY_TIMES = "15,30,60,140"
# Dates (1/2/2026, 2026-01-02, 02.01.2026; not a version such as v0.50.11-4) and times of day
# (09:05:01, 9:05 AM).
DATE = re.compile(r"(?<![v\d.])\d{1,4}([./-])\d{1,2}\1\d{1,4}\b")
TIME = re.compile(r"\b\d{1,2}:\d{2}(:\d{2})?(\s?[AP]M)?\b")
# The status bar's trace panels count the status polls in hex ("5x,16", "SC = 1x0216",
# "G = 2x, 16"): how many ran by a story time depends on how fast the machine is.
MOMENT = [
    (re.compile(r"^(Panel[0-3]): .*$", re.M), r"\1: <trace>"),
    (re.compile(r"^SmartStatusLine: .*\n", re.M), ""),
    (re.compile(r"^(Label[57]): \d+$", re.M), r"\1: <reading>"),
    (re.compile(r"\b\d{1,3}%"), "<percent>"),
    # A rebuild's end is "Done" when a poll saw 99 %, else "HDD1 OK, HDD2 OK": taken as one.
    (re.compile(r"(D\d HDD\d --> HDD\d (<percent>|Done), <date> <time>(\\n)?)+"
                r"(D\d HDD1 OK, HDD2 OK, <date> <time>(\\n)?)?"), "<rebuild lines>"),
]
LIMIT_S = 600


def normalised(text):
    text = TIME.sub("<time>", DATE.sub("<date>", text))
    for pattern, replacement in MOMENT:
        text = pattern.sub(replacement, text)
    return text


def run(command, env, what):
    done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=LIMIT_S)
    if done.returncode != 0:
        sys.exit(f"{what} ended with {done.returncode}:\n{done.stdout}\n{done.stderr}")
    return done


def windows_path(path):
    return subprocess.run(["winepath", "-w", str(path)], capture_output=True, text=True,
                          check=True).stdout.strip()


def main():
    exe, native, scenario = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as scratch:
        scratch = Path(scratch)
        story = ["--simulate", scenario, "--speed", "10", "--at", STORY_TIMES, "--screenshots"]
        env = dict(os.environ, LC_ALL="C.UTF-8", QT_QPA_PLATFORM="offscreen",
                   RAIDGUI_LOG_DIR=str(scratch / "native-log"))
        run([native, *story, str(scratch / "native")], env, "the native raidgui")

        # Wine hands a program no Unix variable named QT_*; WINEQT_* reaches it as QT_*. The
        # offscreen platform draws text only with a font folder named.
        fonts = Path("/usr/share/fonts/truetype/liberation")
        env = dict(os.environ, WINEQT_QPA_PLATFORM="offscreen",
                   WINEQT_QPA_FONTDIR=windows_path(fonts),
                   RAIDGUI_LOG_DIR=windows_path(scratch / "wine-log"))
        env.pop("DISPLAY", None)
        run(["wine", exe, *story, windows_path(scratch / "wine")], env, "raidgui.exe")

        ours = sorted(p.name for p in (scratch / "wine").glob("*.txt"))
        theirs = sorted(p.name for p in (scratch / "native").glob("*.txt"))
        if not theirs or ours != theirs:
            sys.exit(f"the page texts differ in their files:\n  native {theirs}\n  wine   {ours}")
        faults = []
        for name in theirs:
            native_text = normalised((scratch / "native" / name).read_text(encoding="utf-8"))
            wine_text = normalised((scratch / "wine" / name).read_text(encoding="utf-8"))
            if native_text != wine_text:
                faults.append(f"{name}:\n--- native\n{native_text}\n--- wine\n{wine_text}")
        if faults:
            sys.exit("the page texts differ:\n" + "\n".join(faults))
        pictures = len(list((scratch / "wine").glob("*.png")))
        print(f"raidgui.exe: {len(theirs)} page texts as the native program's, {pictures} pictures")


if __name__ == "__main__":
    main()
