#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Started by systemd in the test guest: runs the checks the host shares over 9p, leaves their
# output, exit status, journal and kernel log beside them, and powers the guest off.
mkdir -p /mnt/stage
modprobe 9pnet_virtio
if ! mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 stage /mnt/stage; then
  echo "guest: the host's folder could not be mounted" >/dev/console
  systemctl poweroff
  exit 1
fi
bash /mnt/stage/guest_checks.sh >/mnt/stage/guest.log 2>&1
echo $? >/mnt/stage/guest.rc.tmp
journalctl -b --no-pager -o short-monotonic >/mnt/stage/journal.txt 2>&1
dmesg >/mnt/stage/dmesg.txt 2>&1
mv /mnt/stage/guest.rc.tmp /mnt/stage/guest.rc
sync
systemctl poweroff
