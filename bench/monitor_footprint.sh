#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# What watching the enclosures costs a machine: runs `raidctl monitor` (or the window) on a
# simulated host at wall-clock speed and reads the process's own figures from /proc at the end
# (processor time, resident memory now and at its peak) before stopping it.
# Usage: monitor_footprint.sh [--seconds N] [--enclosures N] [--program raidctl|raidgui]
#                             [-- extra program options]
#   --enclosures N  a generated host of N mirroring enclosures (1 to 16), each with its two member
#                   drives, instead of the demo scenario
#   --program       raidctl (the default: `raidctl monitor --realtime`) or raidgui (the window on
#                   Qt's offscreen platform)
# Exits 1 when, for raidctl, the processor time after the first quarter of the run is not below
# 0.1 % of one core or the peak resident memory not below 40 MB on a generated host (0.5 % and
# 60 MB on the demo, whose story of a pulled drive and a rebuild keeps it busier); for raidgui
# when the peak resident memory is not below 80 MB. The start (loading the libraries, the first
# discovery) is shown in the whole run's share but not judged: a monitor runs for days, and what
# it costs then is the settled share. For raidctl it also counts, from the metrics file, the
# enclosures whose status was polled during the run, and exits 1 unless every one found was.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
native="${RAIDGUI_BUILD_ROOT:-$root/build}/native"
seconds=60
enclosures=0
program=raidctl
extra=()
usage() {
  echo "usage: $0 [--seconds N] [--enclosures N] [--program raidctl|raidgui] [-- options]" >&2
  exit 2
}
while (($#)); do
  case $1 in
    --seconds) seconds=${2:-}; shift 2 || usage ;;
    --enclosures) enclosures=${2:-}; shift 2 || usage ;;
    --program) program=${2:-}; shift 2 || usage ;;
    --) shift; extra=("$@"); break ;;
    *) usage ;;
  esac
done
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ && "$enclosures" =~ ^[0-9]+$ ]] || ((enclosures > 16)); then
  usage
fi
case $program in
  raidctl)
    binary="$native/src/cli/raidctl"
    cpu_limit=0.5 memory_limit=60
    ((enclosures == 0)) || cpu_limit=0.1 memory_limit=40 ;;
  raidgui)
    binary="$native/src/raidgui"
    cpu_limit=0 memory_limit=80 ;;  # the window's processor time is shown, not judged
  *) usage ;;
esac
[[ -x "$binary" ]] || { echo "no $binary; build the native tree first" >&2; exit 2; }

scratch=$(mktemp -d)
pid=
trap '[[ -n "$pid" ]] && kill "$pid" 2>/dev/null; rm -rf "$scratch"' EXIT

scenario="$root/sim/scenarios/demo.json"
host=demo
if ((enclosures > 0)); then
  scenario="$scratch/enclosures.json"
  host="$enclosures enclosures"
  {
    printf '{\n  "description": "%d mirroring enclosures, each with two member drives",\n' \
      "$enclosures"
    printf '  "seed": 6182,\n  "drives": [\n'
    for ((i = 0; i < enclosures; i++)); do
      printf '    {\n      "number": %d,\n      "type": "enclosure",\n' "$i"
      printf '      "kind": "raid",\n      "mode": "mirroring",\n      "members": [\n'
      printf '        { "model": "NORTHWIND NW1000SA-01", "serial": "NW1A%08d", ' $((2 * i))
      printf '"capacity": 1953525168 },\n'
      printf '        { "model": "NORTHWIND NW1000SA-01", "serial": "NW1A%08d", ' $((2 * i + 1))
      printf '"capacity": 1953525168 }\n'
      comma=,
      ((i + 1 < enclosures)) || comma=
      printf '      ]\n    }%s\n' "$comma"
    done
    printf '  ]\n}\n'
  } >"$scenario"
fi

# A folder of its own for the logs, the settings and the window's single-instance lock.
export RAIDGUI_LOG_DIR="$scratch/logs" RAIDGUI_CONFIG_DIR="$scratch/config" \
  XDG_RUNTIME_DIR="$scratch"
if [[ $program == raidctl ]]; then
  command=("$binary" monitor --simulate "$scenario" --realtime --metrics "$scratch/metrics.prom")
else
  command=("$binary" --simulate "$scenario")
  export QT_QPA_PLATFORM=offscreen
fi
"${command[@]}" ${extra[@]+"${extra[@]}"} >"$scratch/stdout" 2>"$scratch/stderr" &
pid=$!
alive() {
  kill -0 "$pid" 2>/dev/null || { echo "$program ended early:" >&2; cat "$scratch/stderr" >&2; exit 1; }
}
# The process's time on the processor so far in nanoseconds, from the first field of each live
# thread's schedstat: exact, where /proc/PID/stat counts clock ticks. It measures the last three
# quarters of the run, after the start and the first discovery: what a long run costs.
thread_ns() {
  cat "/proc/$pid/task/"*/schedstat 2>/dev/null | awk '{n += $1} END {printf "%.0f", n}'
}
settled=$((seconds / 4))
sleep "$settled"
alive
settled_ns=$(thread_ns)
settled_uptime=$(cut -d' ' -f1 /proc/uptime)
sleep $((seconds - settled))
alive
end_ns=$(thread_ns)

# Fields after the command's name in /proc/PID/stat: utime and stime are the 12th and 13th, the
# start time the 20th, all in clock ticks.
read -r -a stat <<<"$(sed 's/^.*) //' "/proc/$pid/stat")"
ticks=$(getconf CLK_TCK)
uptime=$(cut -d' ' -f1 /proc/uptime)
rss_kb=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
peak_kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
kill -TERM "$pid"
rc=0
wait "$pid" || rc=$?
pid=
# raidctl ends cleanly on SIGTERM; the window has no handler for it and dies of the signal.
if [[ $program == raidctl && $rc != 0 ]] || [[ $program == raidgui && $rc != 0 && $rc != 143 ]]; then
  echo "$program failed on SIGTERM (exit $rc):" >&2
  cat "$scratch/stderr" >&2
  exit 1
fi

# Enclosures found, and those whose poll counter moved: every one must be watched.
found=0 polled=0
if [[ $program == raidctl ]]; then
  [[ -s "$scratch/metrics.prom" ]] || { echo "raidctl wrote no metrics" >&2; exit 1; }
  found=$(awk '$1 == "raidgui_enclosures" {print $2}' "$scratch/metrics.prom")
  polled=$(awk '/^raidgui_enclosure_polls_total\{/ && $2 > 0 {n++} END {print n + 0}' \
    "$scratch/metrics.prom")
fi

awk -v utime="${stat[11]}" -v stime="${stat[12]}" -v start="${stat[19]}" -v ticks="$ticks" \
  -v uptime="$uptime" -v rss="$rss_kb" -v peak="$peak_kb" -v cpu_limit="$cpu_limit" \
  -v memory_limit="$memory_limit" -v settled="$settled" -v settled_ns="$settled_ns" \
  -v end_ns="$end_ns" -v settled_uptime="$settled_uptime" -v lines="$(wc -l <"$scratch/stdout")" \
  -v host="$host" -v program="$program" -v found="$found" -v polled="$polled" '
  BEGIN {
    cpu = (utime + stime) / ticks
    wall = uptime - start / ticks
    share = 100 * cpu / wall
    printf "%s on the %s\n", program, host
    printf "wall time           %8.1f s\n", wall
    printf "processor time      %8.3f s (user %.3f, system %.3f)\n", cpu, utime / ticks, stime / ticks
    if (cpu_limit > 0)
      printf "share of one core   %8.3f %%  (limit %s %% from the first quarter on)\n", share, cpu_limit
    else
      printf "share of one core   %8.3f %%\n", share
    settled_share = 100 * (end_ns - settled_ns) / 1e9 / (uptime - settled_uptime)
    printf "  from %3d s on      %8.3f %%  (the start and the first discovery left out)\n", settled,
      settled_share
    printf "resident memory     %8.1f MB (peak %.1f MB, limit %s MB)\n", rss / 1024, peak / 1024,
      memory_limit
    if (program == "raidctl") {
      printf "log lines printed   %8d\n", lines
      printf "enclosures polled   %8d of %d\n", polled, found
    }
    exit !((cpu_limit == 0 || settled_share < cpu_limit) && peak / 1024 < memory_limit &&
           polled == found)
  }'
