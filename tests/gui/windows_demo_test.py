#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""raidgui.exe under Wine tells the demo's story as the native raidgui does.

Both run the demo scenario on Qt's offscreen platform and take their pictures at the same story
times; beside each picture the window writes the texts it shows. The texts must be the same, one
file for one, apart from dates and times, which each program writes in its own locale's format
(Wine's Windows locale and the C library's differ). The times are chosen away from the rebuild,
whose percentage depends on the moment the last poll ran.

Usage: windows_demo_test.py RAIDGUI_EXE NATIVE_RAIDGUI SCENARIO
"""
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

STORY_TIMES = "15,30,115"
# Dates (1/2/2026, 2026-01-02, 02.01.2026) and times of day (09:05:01, 9:05 AM).
DATE = re.compile(r"\b\d{1,4}[./-]\d{1,2}[./-]\d{1,4}\b")
TIME = re.compile(r"\b\d{1,2}:\d{2}(:\d{2})?(\s?[AP]M)?\b")
LIMIT_S = 600


def normalised(text):
    return TIME.sub("<time>", DATE.sub("<date>", text))


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
