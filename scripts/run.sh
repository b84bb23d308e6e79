#!/usr/bin/env bash
# Builds the native tree and runs raidctl's discovery and one status reading:
#   RAIDGUI_REAL unset  on the simulated host of sim/scenarios/demo.json (no hardware needed)
#   RAIDGUI_REAL=1      on this machine's real disks (needs read access to them; see README.md)
# Further arguments go to raidctl, e.g. `scripts/run.sh --json`.
set -euo pipefail
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$ROOT/scripts/bootstrap.sh"
build_native

RAIDCTL="$NATIVE_DIR/src/cli/raidctl"
if [[ ! -x "$RAIDCTL" ]]; then
  echo "run.sh: $RAIDCTL was not built" >&2
  exit 1
fi
host=(--simulate "$ROOT/sim/scenarios/demo.json")
[[ -n "${RAIDGUI_REAL:-}" ]] && host=()
"$RAIDCTL" discover "${host[@]}" "$@"
echo
exec "$RAIDCTL" status "${host[@]}" "$@"
