#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the libFuzzer targets in fuzz/ (clang, ASan+UBSan) and runs each for a while:
#   scripts/fuzz.sh                 every target for 60 seconds
#   scripts/fuzz.sh 600             every target for 10 minutes
#   scripts/fuzz.sh 600 scenario    one target (several names may follow)
# Each run starts from a copy of the target's seeds in build/fuzz/runs/<target>/, so the corpus
# in the repository stays small; what a run found is kept there. Exits non-zero when any target
# crashed, leaked, timed out or drew a sanitizer report, and says where the input is.
set -euo pipefail
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

FUZZ_DIR="$BUILD_ROOT/fuzz"
ALL_TARGETS=(controller_answers scenario daily_log settings firmware_image smart_sector hardware_texts
  notify_channels push_reply)
# One input taking longer than this is a finding (a hang), not a slow run.
INPUT_TIMEOUT_SECONDS=25
# The longest input of a target whose cases need more than libFuzzer's default (the largest seed,
# at least 4 KiB): a scenario nested 100,000 deep, or a list of thousands of volumes.
declare -A MAX_LEN=([scenario]=262144)

usage() {
  echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]   targets: ${ALL_TARGETS[*]}" >&2
  exit 2
}

seconds=${1:-60}
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || usage
shift || true
targets=("$@")
((${#targets[@]})) || targets=("${ALL_TARGETS[@]}")
for target in "${targets[@]}"; do
  [[ " ${ALL_TARGETS[*]} " == *" $target "* ]] || usage
done

"$ROOT/scripts/bootstrap.sh"

configure "$FUZZ_DIR" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAIDGUI_FUZZ=ON -DRAIDGUI_BENCH=OFF
cmake --build "$FUZZ_DIR" --parallel "$JOBS" --target "${targets[@]/#/fuzz_}"
echo "fuzz: built in ${SECONDS}s"

# LeakSanitizer stops the process's threads with ptrace, which some containers forbid; probe with
# a program that leaks on purpose, as test.sh does.
leaks=0
probe="$FUZZ_DIR/lsan-probe"
mkdir -p "$probe"
printf '#include <cstdlib>\nvoid* volatile sink;\nint main() { sink = std::malloc(8); sink = nullptr; }\n' \
  >"$probe/leak.cpp"
if clang++ -fsanitize=address -g "$probe/leak.cpp" -o "$probe/leak"; then
  ASAN_OPTIONS=detect_leaks=1 "$probe/leak" >"$probe/out.txt" 2>&1 || true
  grep -q 'LeakSanitizer: detected memory leaks' "$probe/out.txt" && leaks=1
fi
((leaks)) || echo "fuzz: LeakSanitizer cannot run here (see $probe/out.txt); leak checks are off"

export ASAN_OPTIONS="detect_leaks=$leaks:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

failed=()
total_runs=0
for target in "${targets[@]}"; do
  run="$FUZZ_DIR/runs/$target"
  rm -rf "$run"
  mkdir -p "$run/corpus" "$run/tmp"
  cp "$ROOT/fuzz/$target/corpus/"* "$run/corpus/"
  options=(-max_total_time="$seconds" -timeout="$INPUT_TIMEOUT_SECONDS" -detect_leaks="$leaks"
    -print_final_stats=1 -artifact_prefix="$run/")
  dict="$ROOT/fuzz/$target/$target.dict"
  [[ -f "$dict" ]] && options+=(-dict="$dict")
  [[ -n "${MAX_LEN[$target]:-}" ]] && options+=(-max_len="${MAX_LEN[$target]}")

  echo "=== fuzz $target for ${seconds}s (log: $run/fuzz.log)"
  rc=0
  # Files a target writes go to its own scratch folder.
  TMPDIR="$run/tmp" "$FUZZ_DIR/fuzz/fuzz_$target" "${options[@]}" "$run/corpus" \
    >"$run/fuzz.log" 2>&1 || rc=$?

  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$run/fuzz.log")
  last=$(grep -E '^#[0-9]+[[:space:]]+(DONE|INITED|NEW|REDUCE|pulse)' "$run/fuzz.log" | tail -n 1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  files=$(find "$run/corpus" -type f | wc -l)
  size=$(du -sk --apparent-size "$run/corpus" | cut -f1)
  findings=$(find "$run" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
    -o -name 'oom-*' \) | sort)
  if ((rc != 0)) || [[ -n "$findings" ]] || grep -qE '^SUMMARY: |runtime error:' "$run/fuzz.log"; then
    failed+=("$target")
    echo "fuzz $target: FINDING (exit $rc); the end of its log:" >&2
    grep -vE '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse)' "$run/fuzz.log" | tail -n 60 >&2
    for input in $findings; do
      echo "fuzz $target: input $input" >&2
      echo "  reproduce: $FUZZ_DIR/fuzz/fuzz_$target $input" >&2
      echo "  minimise:  $FUZZ_DIR/fuzz/fuzz_$target -minimize_crash=1 -runs=10000 $input" >&2
    done
  fi
  total_runs=$((total_runs + ${runs:-0}))
  printf 'fuzz %-18s %9s runs  cov %5s  ft %6s  corpus %4d files %6d KiB\n' \
    "$target" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$files" "$size"
done

if ((${#failed[@]})); then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, $total_runs runs, no findings"
