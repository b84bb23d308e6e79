#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the Debian 12 guest the virtual-machine stage boots: a kernel with a small initramfs,
# systemd and udev, the libraries the package depends on, and a runner that starts the checks
# the host shares with it. Nothing else: no network, no package of ours (the stage installs the
# .deb it is testing).
#
# Usage: image.sh PACKAGE.deb CACHE_ROOT
# Prints the folder that holds vmlinuz, initrd.img and root.img. The folder's name is a key of
# this recipe and of the package's Depends, so a changed recipe or a new dependency builds a new
# image, and a clean checkout finds the one an earlier run made. Needs root (mmdebstrap's root
# mode; the test command runs as root for its packages anyway) or else user namespaces
# (mmdebstrap --mode=unshare).
set -euo pipefail

deb=$1
cache_root=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

depends=$(dpkg-deb -f "$deb" Depends)
# The first of each group of alternatives, without its version: what apt installs for it.
packages=$(tr ',' '\n' <<<"$depends" | sed 's/|.*//; s/(.*)//; s/[[:space:]]//g' | grep -v '^$' |
  sort -u | paste -sd, -)
key=$(cat "${BASH_SOURCE[0]}" "$here/guest_runner.sh" <(echo "$packages") | sha256sum | cut -c1-16)
out="$cache_root/$key"
if [[ -f "$out/ready" ]]; then
  echo "$out"
  exit 0
fi

mkdir -p "$cache_root"
work=$(mktemp -d "$cache_root/.build.XXXXXX")
trap 'rm -rf "$work"' EXIT
((EUID == 0)) || { echo "vm image: building the guest needs root (mmdebstrap --mode=root)" >&2; exit 1; }

# Debian's own mirror as this machine's apt knows it, else the default.
mirror=$(sed -n 's/^URIs: *//p; s/^deb \(http[^ ]*\) bookworm main.*/\1/p' \
  /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null | head -n 1 || true)
mirror=${mirror:-http://deb.debian.org/debian}

echo "vm image: building $key from $mirror " >&2
# The initramfs holds only what finds the root disk; the rest loads from it.
# shellcheck disable=SC2016  # the hooks' $1 is mmdebstrap's, expanded by its shell
mmdebstrap --mode=root --variant=minbase --quiet \
  --include="linux-image-amd64,systemd,systemd-sysv,udev,kmod,init-system-helpers,$packages" \
  --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
  --dpkgopt='path-exclude=/usr/share/locale/*' \
  --setup-hook='mkdir -p "$1/etc/initramfs-tools/conf.d"' \
  --setup-hook='echo MODULES=list > "$1/etc/initramfs-tools/conf.d/raidgui-vm"' \
  --customize-hook='printf "virtio_pci\nvirtio_blk\next4\n" >> "$1/etc/initramfs-tools/modules"' \
  --customize-hook='chroot "$1" update-initramfs -u -k all >/dev/null' \
  --customize-hook="copy-in $here/guest_runner.sh /usr/local/sbin" \
  --customize-hook='chmod 0755 "$1/usr/local/sbin/guest_runner.sh"' \
  --customize-hook='printf "[Unit]\nDescription=The checks the host shares\nAfter=multi-user.target\n\n[Service]\nType=oneshot\nExecStart=/usr/local/sbin/guest_runner.sh\nStandardOutput=journal+console\n\n[Install]\nWantedBy=multi-user.target\n" > "$1/etc/systemd/system/guest-checks.service"' \
  --customize-hook='chroot "$1" systemctl enable guest-checks.service' \
  --customize-hook='chroot "$1" systemctl mask apt-daily.timer apt-daily-upgrade.timer e2scrub_all.timer e2scrub_reap.service fstrim.timer getty@tty1.service 2>/dev/null || true' \
  --customize-hook='echo "/dev/vda / ext4 defaults,noatime 0 1" > "$1/etc/fstab"' \
  --customize-hook='echo raidguest > "$1/etc/hostname"' \
  --customize-hook='chroot "$1" passwd -d root >/dev/null' \
  --customize-hook='cp "$1"/boot/vmlinuz-* "$1/../vmlinuz"; cp "$1"/boot/initrd.img-* "$1/../initrd.img"' \
  bookworm "$work/rootfs" "$mirror"

# An ext4 file system made from the folder, with room for the package and the logs.
size_mb=$(($(du -sm "$work/rootfs" | cut -f1) + 512))
mkfs.ext4 -q -F -L root -d "$work/rootfs" "$work/root.img" "${size_mb}M"
rm -rf "$work/rootfs"
touch "$work/ready"
rm -rf "$out"
mv "$work" "$out"
trap - EXIT
echo "$out"
