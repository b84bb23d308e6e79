#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the build into a scratch prefix and builds the Debian package from it, then checks
# that both hold what a machine needs: the programs, the unit with its user and settings folder,
# the desktop entry, the icon and the README, that the package names the libraries the programs
# link, and that its user and folder come out as the service needs them. Then the distribution's
# checkers judge what the package installs: lintian, desktop-file-validate, appstreamcli and
# promtool (on the installed raidctl's metrics file).
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

expected=(
  bin/raidctl
  bin/raidgui
  lib/systemd/system/raidctl-monitor.service
  lib/sysusers.d/raidctl.conf
  lib/tmpfiles.d/raidctl.conf
  share/applications/raidgui.desktop
  share/icons/hicolor/scalable/apps/raidgui.svg
  share/doc/raidgui/README.md
  share/man/man1/raidctl.1.gz
  share/man/man1/raidgui.1.gz
  share/bash-completion/completions/raidctl
  share/zsh/vendor-completions/_raidctl
  share/fish/vendor_completions.d/raidctl.fish
  share/raidgui/prometheus/raidgui.rules.yml
  share/raidgui/grafana/raidgui.json
)
# What the distribution's rules ask of a package: the copyright, the changelog, the AppStream
# metadata.
expected+=(
  share/doc/raidgui/copyright
  share/doc/raidgui/changelog.gz
  share/metainfo/io.github.raidgui.raidgui.metainfo.xml
)

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
for file in "${expected[@]}"; do
  [[ -f "$scratch/prefix/$file" ]] || fail "cmake --install left out $file"
done
[[ -x "$scratch/prefix/bin/raidctl" ]] || fail "raidctl is not executable"
"$scratch/prefix/bin/raidctl" --help | grep -q '^usage' || fail "the installed raidctl does not run"
grep -q '^Exec=raidgui$' "$scratch/prefix/share/applications/raidgui.desktop" ||
  fail "the desktop entry does not start raidgui"
# The unit starts the raidctl this install put in place.
grep -qx "ExecStart=$scratch/prefix/bin/raidctl monitor" \
  "$scratch/prefix/lib/systemd/system/raidctl-monitor.service" ||
  fail "the installed unit does not start the installed raidctl"
# The unit is installed, never enabled: nothing under the .wants folders.
[[ -z "$(find "$scratch/prefix" -path '*.wants*')" ]] || fail "the unit is enabled"

(cd "$scratch" && cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >/dev/null) ||
  fail "cpack failed"
package=$(find "$scratch/out" -maxdepth 1 -name 'raidgui_*.deb' | head -n 1)
[[ -n "$package" ]] || fail "cpack made no raidgui_*.deb"
dpkg-deb -x "$package" "$scratch/root"
for file in "${expected[@]}"; do
  [[ -f "$scratch/root/usr/$file" ]] || fail "the package lacks /usr/$file"
done
grep -qx "ExecStart=/usr/bin/raidctl monitor" "$scratch/root/usr/lib/systemd/system/raidctl-monitor.service" ||
  fail "the package's unit does not start /usr/bin/raidctl"
depends=$(dpkg-deb -f "$package" Depends)
for library in libudev1 libsystemd0 libcurl4; do
  [[ "$depends" == *"$library"* ]] || fail "the package does not depend on $library: $depends"
done
# The maintainer scripts are there and executable, and the postinst creates what the unit needs.
control="$scratch/control"
dpkg-deb -e "$package" "$control"
for script in postinst prerm postrm; do
  [[ -x "$control/$script" ]] || fail "the package has no executable $script"
  sh -n "$control/$script" || fail "$script is not valid sh"
done
grep -Eq '^ *systemd-sysusers .*raidctl\.conf$' "$control/postinst" ||
  fail "postinst creates no user"

# The user as systemd-sysusers creates it from the package's file, in the unpacked tree.
mkdir -p "$scratch/root/etc"
systemd-sysusers --root="$scratch/root" raidctl.conf >/dev/null
passwd="$scratch/root/etc/passwd"
group="$scratch/root/etc/group"
user_line=$(grep '^raidctl:' "$passwd") || fail "no raidctl user was created"
[[ "$user_line" == *:/nonexistent:/usr/sbin/nologin ]] || fail "raidctl can log in: $user_line"
grep -Eq '^disk:[^:]*:[0-9]+:(.*,)?raidctl(,.*)?$' "$group" ||
  fail "raidctl is not in the disk group: $(grep '^disk:' "$group")"

# The settings folder is root's and the service's group may enter it; the settings file is the
# service user's own and owner-only.
systemd-tmpfiles --root="$scratch/root" --create raidctl.conf
uid=$(awk -F: '$1 == "raidctl" {print $3}' "$passwd")
gid=$(awk -F: '$1 == "raidctl" {print $3}' "$group")
settings="$scratch/root/etc/raidgui/settings.toml"
folder_facts=$(stat -c '%a %u %g' "$scratch/root/etc/raidgui")
file_facts=$(stat -c '%a %u %g' "$settings")
[[ "$folder_facts" == "750 0 $gid" ]] || fail "/etc/raidgui is $folder_facts (mode uid gid)"
[[ "$file_facts" == "600 $uid $gid" ]] || fail "settings.toml is $file_facts (mode uid gid)"

# The three lines of the README's set-up, less systemd: root's mail-setup leaves the file the
# service user's and owner-only, and the service user reads what root wrote.
if [[ $(id -u) == 0 ]] && command -v setpriv >/dev/null; then
  chmod 0755 "$scratch"
  raidctl="$scratch/prefix/bin/raidctl"
  RAIDGUI_CONFIG_DIR="$scratch/root/etc/raidgui" "$raidctl" mail-setup --smtp mail.example.com \
    --to watcher@example.com >/dev/null
  file_facts=$(stat -c '%a %u %g' "$settings")
  [[ "$file_facts" == "600 $uid $gid" ]] || fail "after mail-setup settings.toml is $file_facts"
  shown=$(setpriv --reuid="$uid" --regid="$gid" --clear-groups \
    env RAIDGUI_CONFIG_DIR="$scratch/root/etc/raidgui" "$raidctl" mail-show) ||
    fail "the service user cannot read the settings"
  [[ "$shown" == *mail.example.com* && "$shown" == *watcher@example.com* ]] ||
    fail "the service user reads other settings: $shown"
fi

# The unit's life through the maintainer scripts, in the unpacked tree (DPKG_ROOT): installing
# never enables it, one the administrator enabled is enabled again after a removal and a
# reinstall, and a purge leaves no link behind. A removal keeps the settings and the logs; a
# purge removes them.
version=$(dpkg-deb -f "$package" Version)
unit="raidctl-monitor.service"
wants="$scratch/root/etc/systemd/system/multi-user.target.wants/$unit"
unit_file="$scratch/root/usr/lib/systemd/system/$unit"
maintscript() {
  DPKG_ROOT="$scratch/root" DPKG_MAINTSCRIPT_PACKAGE=raidgui sh "$control/$1" "${@:2}" >/dev/null
}
maintscript postinst configure
[[ ! -e "$scratch/root/etc/systemd/system" ]] || fail "installing touched /etc/systemd/system"
mkdir -p "$(dirname "$wants")"
ln -s "/usr/lib/systemd/system/$unit" "$wants"
cp "$unit_file" "$scratch/unit"
mkdir -p "$scratch/root/var/log/raidgui"
echo "a day's line" >"$scratch/root/var/log/raidgui/261209.log"
maintscript prerm remove && rm "$unit_file" && maintscript postrm remove
[[ -f "$settings" && -f "$scratch/root/var/log/raidgui/261209.log" ]] ||
  fail "a removal without purge lost the settings or the logs"
cp "$scratch/unit" "$unit_file"
maintscript postinst configure "$version"
[[ -L "$wants" && ! -e "$scratch/root/etc/systemd/system/$unit" ]] ||
  fail "a unit enabled before a removal is not enabled, or is masked, after the reinstall"
maintscript prerm remove && rm "$unit_file" && maintscript postrm remove && maintscript postrm purge
leftovers=$(find "$scratch/root/etc/systemd" "$scratch/root/var/lib/systemd" \
  \( -type l -o -type f \) 2>/dev/null || true)
[[ -z "$leftovers" ]] || fail "a purge leaves $leftovers"
[[ ! -e "$scratch/root/etc/raidgui" && ! -e "$scratch/root/var/log/raidgui" ]] ||
  fail "a purge leaves /etc/raidgui or /var/log/raidgui"
grep -q '^raidctl:' "$passwd" || fail "a purge removed the system user"
cp "$scratch/unit" "$unit_file"

# The changelog and the AppStream metadata name the version the package is: a release that
# forgets them would ship a package whose history ends a version early.
changelog_top=$(gzip -dc "$scratch/root/usr/share/doc/raidgui/changelog.gz" | head -n 1)
[[ "$changelog_top" == "raidgui ($version) "* ]] ||
  fail "the changelog's latest entry is not $version: $changelog_top"
metainfo="$scratch/root/usr/share/metainfo/io.github.raidgui.raidgui.metainfo.xml"
grep -q "<release version=\"$version\"" "$metainfo" ||
  fail "the AppStream metadata has no release $version"
launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
[[ -f "$scratch/root/usr/share/applications/$launchable" ]] ||
  fail "the AppStream metadata launches '$launchable', which the package does not install"

# The distribution's checkers. The test command's bootstrap installs them; where one is missing it
# is named and its check skipped, so the rest of the test still runs.
have() {
  command -v "$1" >/dev/null && return 0
  echo "package_test: $1 is not installed; $2 NOT checked" \
    "(scripts/bootstrap.sh --for-tests installs it)"
  return 1
}
if have lintian "the package"; then
  findings=$(lintian --fail-on none "$package" 2>/dev/null | grep -E '^[EW]: ' || true)
  [[ -z "$findings" ]] || fail "lintian finds errors or warnings:"$'\n'"$findings"
fi
if have desktop-file-validate "the desktop entry"; then
  desktop-file-validate "$scratch/root/usr/share/applications/raidgui.desktop" ||
    fail "desktop-file-validate rejects the desktop entry"
fi
if have appstreamcli "the AppStream metadata"; then
  appstreamcli validate --no-net "$metainfo" >"$scratch/appstream.txt" 2>&1 ||
    fail "appstreamcli rejects the AppStream metadata: $(cat "$scratch/appstream.txt")"
fi
if have promtool "the metrics file"; then
  # The installed raidctl on a simulated story writes the file Prometheus's own linter reads: the
  # names, types and help texts a scrape of the textfile collector gets.
  scenario="$(dirname "${BASH_SOURCE[0]}")/../../sim/scenarios/demo.json"
  mkdir -p "$scratch/metrics"
  RAIDGUI_LOG_DIR="$scratch/metrics" RAIDGUI_CONFIG_DIR="$scratch/metrics" \
    "$scratch/prefix/bin/raidctl" monitor --simulate "$scenario" --for 120 \
    --metrics "$scratch/metrics/raidgui.prom" >/dev/null 2>&1 || fail "raidctl monitor failed"
  promtool check metrics <"$scratch/metrics/raidgui.prom" >"$scratch/promtool.txt" 2>&1 ||
    fail "promtool rejects the metrics file: $(cat "$scratch/promtool.txt")"
fi

echo "package_test: $(basename "$package") holds ${#expected[@]} files; Depends: $depends"
