#!/bin/bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs in the test guest, as root, from the folder the host shares (/mnt/stage). Asks the host
# over the virtio-serial port to plug the disks, to start the scenario's timeline and to unplug
# and plug an enclosure, and checks what raidctl and its service make of it through the kernel.
# Every check prints PASS or FAIL; the exit status is the number of failures.
set -u
share=/mnt/stage
expected=$share/expected
out=/tmp/out
mkdir -p "$out"
failures=0
passes=0
pass() { passes=$((passes + 1)); echo "PASS ($SECONDS s): $*"; }
fail() { failures=$((failures + 1)); echo "FAIL ($SECONDS s): $*"; }
# check WHAT COMMAND...: one check, passed when the command succeeds.
check() {
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
# wait_for SECONDS COMMAND...: succeeds as soon as the command does, within the time.
wait_for() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < end)) || return 1
    sleep 1
  done
}
finish() {
  echo "vm: $passes checks passed, $failures failed"
  exit "$failures"
}

port=/dev/virtio-ports/raidgui.ctl
wait_for 30 test -c "$port" || { fail "no control port to the host"; finish; }
exec 3<>"$port"
# ask REQUEST: the host carries it out and says ok.
ask() {
  local reply
  echo "$*" >&3
  read -r -t 120 reply <&3 || reply="no answer"
  [[ $reply == ok ]] && return 0
  echo "host: $* -> $reply"
  return 1
}
ask hello || finish

# --- the disks: plugged one at a time, so that sda is drive 0 and so on, as in the scenario
letters=(a b c d)
for n in 0 1 2 3; do
  ask plug "$n" || finish
  wait_for 60 test -b "/dev/sd${letters[n]}" || { fail "drive $n never became /dev/sd${letters[n]}"; finish; }
done
udevadm settle
check "the plain disk is the fourth" grep -q 'QEMU HARDDISK' /sys/block/sdd/device/model

check "the package installs" dpkg -i "$share/raidgui.deb"

# same NAME [COMMAND...] -- ARGS...: raidctl's output, errors and exit status equal the in-process
# run's. COMMAND (setpriv, say) goes between env and raidctl. Of the monitor, only the lines
# about the drives it could not open are compared.
same() {
  local name=$1
  shift
  local before=()
  while [[ $1 != -- ]]; do before+=("$1"); shift; done
  shift
  (cd "$share" && env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp RAIDGUI_LOG_DIR="/tmp/log-$name" \
    "${before[@]}" raidctl "$@" </dev/null >"$out/$name.out" 2>"$out/$name.err")
  echo $? >"$out/$name.rc"
  if [[ $name == *monitor ]]; then
    : >"$out/$name.out"
    grep -E 'was skipped|could be opened|disk group' "$out/$name.err" >"$out/$name.filtered"
    mv "$out/$name.filtered" "$out/$name.err"
  fi
  local part ok=1
  for part in out err rc; do
    if ! cmp -s "$expected/$name.$part" "$out/$name.$part"; then
      diff -u "$expected/$name.$part" "$out/$name.$part" | head -n 40
      ok=0
    fi
  done
  check "raidctl $* ($name) says what it says in-process" test $ok = 1
}
# As root, and as a user without rights on the disks, who is told which drives could not be opened.
while read -r name args; do
  # shellcheck disable=SC2086  # the arguments are words
  [[ $name == monitor ]] || same "$name" -- $args
  # shellcheck disable=SC2086
  same "closed-$name" setpriv --reuid=nobody --regid=nogroup --clear-groups -- $args
done <"$share/runs.txt"

# --- the service, as systemd runs it
unit=raidctl-monitor.service
journal() { journalctl -b -u "$unit" -o cat --no-pager "$@"; }
said() { journal | grep -qF -- "$1"; }
check "systemd starts the monitor (Type=notify)" systemctl start "$unit"
check "the monitor is active" systemctl is-active --quiet "$unit"
watching_three() { [[ $(systemctl show -p StatusText --value "$unit") == 'Watching 3 enclosure(s)'* ]]; }
check "its status line says it watches the three enclosures" \
  wait_for 30 watching_three

# The timeline pulls HDD2 of the third enclosure and HDD1 of the second 5 s after it starts:
# every enclosure is polled, not only the first two.
ask timeline || finish
check "the pull in the third enclosure is logged" wait_for 60 said "D3 HDD2 was removed"
check "the pull in the second enclosure is logged" wait_for 60 said "D2 HDD1 was removed"
check "the pulls are raised as alerts" wait_for 10 said 'alert "Hard Disks Fail" for Device3 HDD2'

# An enclosure unplugged and plugged again.
ask unplug 0 || finish
check "the unplugged enclosure is logged as removed" wait_for 60 said "Device was removed"
ask plug 0 || finish
check "the plugged-in enclosure is logged as found" wait_for 60 said "New Device was found"
check "after the replug it watches three enclosures again" \
  wait_for 60 watching_three

check "a reload keeps it running" systemctl reload "$unit"
sleep 2
check "the monitor is still active after the reload" systemctl is-active --quiet "$unit"
check "the watchdog never killed it" \
  test "$(systemctl show -p NRestarts --value "$unit")" = 0 -a "$(journal | grep -c -i watchdog)" = 0
start=$SECONDS
check "systemctl stop returns" systemctl stop "$unit"
check "the stop took at most 5 s" test $((SECONDS - start)) -le 5

# Exactly the warnings this story gives, in any order, with the log lines' time stamps left out.
# The reload reads the mail settings again and says again that mail is off.
journalctl -b -u "$unit" -p warning -o cat --no-pager |
  sed 's|[0-9][0-9]/[0-9][0-9]/[0-9][0-9] [0-9:]*$||' | sort >"$out/warnings.txt"
if cmp -s "$share/warnings.txt" "$out/warnings.txt"; then
  pass "the journal holds exactly the expected warnings"
else
  fail "the journal's warnings differ from the expected ones:"
  diff -u "$share/warnings.txt" "$out/warnings.txt"
fi

check "the package purges" dpkg --purge raidgui
check "the purge leaves no settings" test ! -e /etc/raidgui
check "the purge leaves no logs" test ! -e /var/log/raidgui
finish
