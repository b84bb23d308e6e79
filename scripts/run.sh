#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the programs of the native tree and runs one:
#   RAIDGUI_REAL unset  the demo: the window on the simulated host of sim/scenarios/demo.json,
#                       whose story takes about two minutes (no hardware needed). Without a
#                       display the same story runs on Qt's offscreen platform, ten times faster;
#                       a picture of every page and of the event-log viewer at the story's key
#                       moments goes to RAIDGUI_PICTURES (default build/demo-pictures), and the
#                       day's log is printed.
#   RAIDGUI_REAL=1      this machine's real disks: the window, or without a display raidctl's
#                       discovery and one status reading (needs read access to the disks; see
#                       README.md).
# Further arguments go to the program, e.g. `scripts/run.sh --speed 4`.
set -euo pipefail
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$ROOT/scripts/bootstrap.sh"
# The two programs and their libraries only: the tests and benchmarks are test.sh's to build.
build_native raidgui raidctl

RAIDGUI="$NATIVE_DIR/src/raidgui"
RAIDCTL="$NATIVE_DIR/src/cli/raidctl"
for program in "$RAIDGUI" "$RAIDCTL"; do
  if [[ ! -x "$program" ]]; then
    echo "run.sh: $program was not built" >&2
    exit 1
  fi
done

display=${DISPLAY:-}${WAYLAND_DISPLAY:-}
if [[ -n "${RAIDGUI_REAL:-}" ]]; then
  if [[ -n "$display" ]]; then
    exec "$RAIDGUI" "$@"
  fi
  "$RAIDCTL" discover "$@"
  echo
  exec "$RAIDCTL" status "$@"
fi

demo=(--simulate "$ROOT/sim/scenarios/demo.json")
if [[ -n "$display" ]]; then
  exec "$RAIDGUI" "${demo[@]}" "$@"
fi
pictures=${RAIDGUI_PICTURES:-$BUILD_ROOT/demo-pictures}
echo "run.sh: no display; telling the demo's story offscreen, pictures in $pictures"
# The demo's log goes to a folder of its own, fresh for this run.
log_dir=$(mktemp -d)
trap 'rm -rf "$log_dir"' EXIT
QT_QPA_PLATFORM=offscreen RAIDGUI_LOG_DIR="$log_dir" \
  "$RAIDGUI" "${demo[@]}" --speed 10 --screenshots "$pictures" "$@"
