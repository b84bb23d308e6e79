#!/usr/bin/env bash
# What `raidctl monitor` costs a server: runs it on the demo scenario at wall-clock speed and reads
# the process's own figures from /proc at the end (processor time, resident memory now and at its
# peak) before stopping it.
# Usage: monitor_footprint.sh [--seconds N] [-- extra raidctl monitor options]
# Exits 1 when the processor time is not below 0.5 % of one core or the peak resident memory not
# below 60 MB.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
raidctl="${RAIDGUI_BUILD_ROOT:-$root/build}/native/src/cli/raidctl"
seconds=60
extra=()
while (($#)); do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --) shift; extra=("$@"); break ;;
    *) echo "usage: $0 [--seconds N] [-- raidctl monitor options]" >&2; exit 2 ;;
  esac
done
[[ -x "$raidctl" ]] || { echo "no $raidctl; build the native tree first" >&2; exit 2; }

scratch=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$scratch"' EXIT
RAIDGUI_LOG_DIR="$scratch/logs" RAIDGUI_CONFIG_DIR="$scratch/config" \
  "$raidctl" monitor --simulate "$root/sim/scenarios/demo.json" --realtime ${extra[@]+"${extra[@]}"} \
  >"$scratch/stdout" 2>"$scratch/stderr" &
pid=$!
sleep "$seconds"
kill -0 "$pid" 2>/dev/null || { echo "raidctl ended early:" >&2; cat "$scratch/stderr" >&2; exit 1; }

# Fields after the command's name in /proc/PID/stat: utime and stime are the 12th and 13th, the
# start time the 20th, all in clock ticks.
read -r -a stat <<<"$(sed 's/^.*) //' "/proc/$pid/stat")"
ticks=$(getconf CLK_TCK)
uptime=$(cut -d' ' -f1 /proc/uptime)
rss_kb=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
peak_kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
kill -TERM "$pid"
wait "$pid" || { echo "raidctl failed on SIGTERM:" >&2; cat "$scratch/stderr" >&2; exit 1; }

awk -v utime="${stat[11]}" -v stime="${stat[12]}" -v start="${stat[19]}" -v ticks="$ticks" \
  -v uptime="$uptime" -v rss="$rss_kb" -v peak="$peak_kb" -v lines="$(wc -l <"$scratch/stdout")" '
  BEGIN {
    cpu = (utime + stime) / ticks
    wall = uptime - start / ticks
    share = 100 * cpu / wall
    printf "wall time           %8.1f s\n", wall
    printf "processor time      %8.3f s (user %.3f, system %.3f)\n", cpu, utime / ticks, stime / ticks
    printf "share of one core   %8.3f %%  (limit 0.5 %%)\n", share
    printf "resident memory     %8.1f MB (peak %.1f MB, limit 60 MB)\n", rss / 1024, peak / 1024
    printf "log lines printed   %8d\n", lines
    exit !(share < 0.5 && peak / 1024 < 60)
  }'
