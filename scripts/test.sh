#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds and runs every test, in six stages, stopping at the first that fails:
#   native  build/native  RelWithDebInfo, all targets
#   vm      build/vm      the native build's package and raidctl in a Debian guest under QEMU,
#                         its USB disks the simulator's enclosures (tests/vm/stage.py)
#   asan    build/asan    Debug, AddressSanitizer + UndefinedBehaviorSanitizer, no benchmarks
#   fuzz    build/fuzz    clang libFuzzer targets, a few seconds each from their seeds
#   tsan    build/tsan    ThreadSanitizer, the test executables labelled threads, whole
#   mingw   build/mingw   Windows cross build (static), tests run under Wine
# Incremental: running it again rebuilds only what changed.
# Usage: test.sh [--only STAGE]   (--only runs that stage alone, building what it needs)
# RAIDGUI_NO_VM=1 skips the vm stage, and the summary says so.
set -euo pipefail
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ASAN_DIR="$BUILD_ROOT/asan"
TSAN_DIR="$BUILD_ROOT/tsan"
MINGW_DIR="$BUILD_ROOT/mingw"
CTEST_ARGS=(--output-on-failure --no-tests=error --timeout 600 --parallel "$JOBS")

stage=bootstrap
summary=()

on_exit() {
  local rc=$?
  if ((rc != 0)); then
    echo >&2
    echo "test.sh: FAILED in stage '$stage' (exit $rc)" >&2
  fi
}
trap on_exit EXIT

begin() {
  stage=$1
  stage_start=$SECONDS
  build_end=$SECONDS
  echo "=== $stage: $2"
}

# Marks the end of the stage's build; what follows is its tests' time.
built() {
  build_end=$SECONDS
}

# The stage's time so far, whole and split at the end of its build.
stage_times() {
  printf 'in %ds (build %ds, tests %ds)' $((SECONDS - stage_start)) $((build_end - stage_start)) \
    $((SECONDS - build_end))
}

# Counts from the last ctest run in build folder $1: CTest tests and GoogleTest cases.
finish() {
  local log="$1/Testing/Temporary/LastTest.log"
  local ctests cases
  ctests=$(grep -c '^Test Passed\.$' "$log" || true)
  cases=$(grep -aoE '^\[  PASSED  \] [0-9]+ tests?\.' "$log" | awk '{n += $4} END {print n + 0}')
  summary+=("$(printf '%-7s %3d tests passed (%d GoogleTest cases) %s' \
    "$stage" "$ctests" "$cases" "$(stage_times)")")
  total_ctests=$((${total_ctests:-0} + ctests))
}

# Whether LeakSanitizer can run here: it needs to stop the process's threads with ptrace, which
# some containers forbid. Probe with a program that leaks on purpose.
lsan_works() {
  local dir="$ASAN_DIR/lsan-probe"
  mkdir -p "$dir"
  printf '#include <cstdlib>\nvoid* volatile sink;\nint main() { sink = std::malloc(8); sink = nullptr; }\n' \
    >"$dir/leak.cpp"
  c++ -fsanitize=address -g "$dir/leak.cpp" -o "$dir/leak" || return 1
  ASAN_OPTIONS=detect_leaks=1 "$dir/leak" >"$dir/out.txt" 2>&1 || true
  grep -q 'LeakSanitizer: detected memory leaks' "$dir/out.txt"
}

stage_native() {
  begin native "build and test ($JOBS jobs)"
  # shellcheck disable=SC2119  # no target named: all of them
  build_native
  built
  ctest --test-dir "$NATIVE_DIR" "${CTEST_ARGS[@]}"
  finish "$NATIVE_DIR"
}

# vm: the package and raidctl through a real kernel. The guest image is built once into the
# cache (tests/vm/image.sh); the stage prints its image, boot and check times.
stage_vm() {
  begin vm "a Debian guest under QEMU, its USB disks the simulator's enclosures"
  if [[ ${RAIDGUI_NO_VM:-} == 1 ]]; then
    summary+=("vm: skipped on request")
    return
  fi
  # The package holds every program, so the whole native tree is what the stage needs.
  # shellcheck disable=SC2119
  build_native
  built
  python3 "$ROOT/tests/vm/stage.py" "$NATIVE_DIR" "$BUILD_ROOT/vm" | tee "$BUILD_ROOT/vm-stage.txt"
  local checks accel times
  checks=$(sed -n 's/^vm: \([0-9]*\) checks passed, 0 failed$/\1/p' "$BUILD_ROOT/vm-stage.txt")
  accel=$(sed -n 's/^vm: guest up under \([A-Z]*\) .*/\1/p' "$BUILD_ROOT/vm-stage.txt")
  times=$(sed -n 's/^vm: times: //p' "$BUILD_ROOT/vm-stage.txt")
  guest_checks=${checks:-0}
  summary+=("$(printf '%-7s %3d checks passed in the guest under %s %s: %s' \
    "$stage" "${checks:-0}" "$accel" "$(stage_times)" "$times")")
}

stage_asan() {
  begin asan "ASan+UBSan build and test"
  configure "$ASAN_DIR" -DCMAKE_BUILD_TYPE=Debug -DRAIDGUI_SANITIZE=ON -DRAIDGUI_BENCH=OFF
  cmake --build "$ASAN_DIR" --parallel "$JOBS"
  built
  if lsan_works; then
    leaks=1
  else
    leaks=0
    echo "asan: LeakSanitizer cannot run here (see $ASAN_DIR/lsan-probe/out.txt);" \
      "AddressSanitizer and UBSan still run, leak checks are off"
  fi
  ASAN_OPTIONS="detect_leaks=$leaks:check_initialization_order=1" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    ctest --test-dir "$ASAN_DIR" "${CTEST_ARGS[@]}"
  finish "$ASAN_DIR"
  ((leaks)) || summary[-1]+=" (leak checks off)"
}

# fuzz: each libFuzzer target (build/fuzz, clang) for a few seconds from its seeds; any crash,
# leak or sanitizer report fails the stage. scripts/fuzz.sh runs them for longer.
stage_fuzz() {
  begin fuzz "libFuzzer targets, a few seconds each"
  mkdir -p "$BUILD_ROOT"
  "$ROOT/scripts/fuzz.sh" 5 | tee "$BUILD_ROOT/fuzz-stage.txt"
  read -r fuzz_targets fuzz_runs < <(sed -n 's/^fuzz: \([0-9]*\) targets, \([0-9]*\) runs, no findings$/\1 \2/p' \
    "$BUILD_ROOT/fuzz-stage.txt")
  # fuzz.sh builds and then runs; it says how long its build took.
  fuzz_build=$(sed -n 's/^fuzz: built in \([0-9]*\)s$/\1/p' "$BUILD_ROOT/fuzz-stage.txt")
  build_end=$((stage_start + ${fuzz_build:-0}))
  summary+=("$(printf '%-7s %3d targets passed (%d runs, no findings) %s' \
    "$stage" "$fuzz_targets" "$fuzz_runs" "$(stage_times)")")
}

stage_tsan() {
  begin tsan "ThreadSanitizer build, the tests labelled threads"
  configure "$TSAN_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAIDGUI_TSAN=ON -DRAIDGUI_BENCH=OFF
  # Every executable whose tests share values between threads carries the CTest label "threads"
  # (tests/CMakeLists.txt) and is built from the target of its name, then run whole. The window
  # tests are not among them: Debian's Qt is not built with ThreadSanitizer, whose reports then
  # take every queued call for a race; the window's threads are exercised without Qt (monitor_tests).
  # A sharded test (name@1, name@2 ...) is built from the target of its name.
  mapfile -t threaded < <(ctest --test-dir "$TSAN_DIR" -N -L '^threads$' |
    sed -n 's/^ *Test *#[0-9]*: \([^@]*\).*/\1/p' | sort -u)
  ((${#threaded[@]} > 0)) || { echo "tsan: no test is labelled threads" >&2; exit 1; }
  cmake --build "$TSAN_DIR" --parallel "$JOBS" --target "${threaded[@]}"
  built
  TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
    ctest --test-dir "$TSAN_DIR" -L '^threads$' "${CTEST_ARGS[@]}"
  finish "$TSAN_DIR"
}

stage_mingw() {
  begin mingw "Windows cross build, tests under Wine"
  # Qt and libcurl built for Windows from Debian's sources (made by bootstrap, found here at
  # once); Qt's toolchain file finds them and hands the compilers to the project's.
  local deps toolchain
  deps=$("$ROOT/scripts/mingw_deps.sh")
  build_native raidgui  # the Windows window's texts are compared with the native one's
  toolchain="$deps/lib/cmake/Qt6/qt.toolchain.cmake"
  # A tree configured with another toolchain (an earlier prefix) starts again: CMake keeps the
  # first toolchain of a tree for ever.
  if ! grep -qxF "CMAKE_TOOLCHAIN_FILE:FILEPATH=$toolchain" "$MINGW_DIR/CMakeCache.txt" 2>/dev/null; then
    rm -rf "$MINGW_DIR/CMakeCache.txt" "$MINGW_DIR/CMakeFiles"
  fi
  configure "$MINGW_DIR" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DRAIDGUI_NATIVE_RAIDGUI="$NATIVE_DIR/src/raidgui" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAIDGUI_BENCH=OFF
  cmake --build "$MINGW_DIR" --parallel "$JOBS"
  built
  # A private prefix, made once, quietly: no Mono/Gecko installers, no display. The tests are
  # console programs; without a display a crash prints Wine's backtrace instead of opening a dialog.
  export WINEPREFIX="$MINGW_DIR/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  if [[ ! -f "$WINEPREFIX/.initialised" ]]; then
    rm -rf "$WINEPREFIX"  # a half-made prefix from an interrupted run
    wineboot -i </dev/null >"$MINGW_DIR/wineboot.log" 2>&1 ||
      { cat "$MINGW_DIR/wineboot.log" >&2; exit 1; }
    touch "$WINEPREFIX/.initialised"
  fi
  ctest --test-dir "$MINGW_DIR" "${CTEST_ARGS[@]}"
  # Let this prefix's wineserver go before the next run or a CI teardown; end it if a test left a
  # process behind.
  timeout 60 wineserver -w || wineserver -k || true
  finish "$MINGW_DIR"
}

STAGES=(native vm asan fuzz tsan mingw)
only=
case "${1:-}" in
  "") ;;
  --only)
    only=${2:-}
    [[ " ${STAGES[*]} " == *" $only "* ]] || { echo "usage: test.sh [--only STAGE], STAGE one of: ${STAGES[*]}" >&2; exit 2; }
    ;;
  *) echo "usage: test.sh [--only STAGE]" >&2; exit 2 ;;
esac

"$ROOT/scripts/bootstrap.sh" --for-tests
"$ROOT/scripts/check_layers.sh"
for name in "${STAGES[@]}"; do
  if [[ -z $only || $only == "$name" ]]; then "stage_$name"; fi
done

echo
echo "=== summary"
printf '%s\n' "${summary[@]}"
echo "total: ${total_ctests:-0} CTest tests passed${guest_checks:+ and $guest_checks checks in the guest}, 0 failed"
