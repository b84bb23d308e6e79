# SPDX-License-Identifier: GPL-2.0-or-later
# shellcheck shell=bash
# Shared by run.sh and test.sh (sourced, not run): paths, job count and the native build.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=$(nproc)
# Build folders go under build/ unless RAIDGUI_BUILD_ROOT names another place.
BUILD_ROOT="${RAIDGUI_BUILD_ROOT:-$ROOT/build}"
NATIVE_DIR="$BUILD_ROOT/native"
# The compiler cache keys on paths below the checkout relative to it, so that another checkout of
# the same sources (a CI run) finds what an earlier one compiled.
export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=true

# cmake's STATUS chatter is left out; warnings and errors still show.
configure() {
  cmake -S "$ROOT" -B "$1" -G Ninja --log-level=WARNING "${@:2}"
}

# The native tree: every target, or only the targets named (`build_native raidgui raidctl`) and
# what they link.
build_native() {
  local targets=()
  (($# == 0)) || targets=(--target "$@")
  configure "$NATIVE_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
    cmake --build "$NATIVE_DIR" --parallel "$JOBS" ${targets[@]+"${targets[@]}"}
}
