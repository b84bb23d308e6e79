#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds the Debian package from it, then checks
# that both hold what a machine needs: the programs, the unit with its user and settings folder,
# the desktop entry, the icon and the README, that the package names the libraries the programs
# link, and that its user and folder come out as the service needs them.
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
grep -q 'systemd-sysusers raidctl.conf' "$control/postinst" || fail "postinst creates no user"

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

echo "package_test: $(basename "$package") holds ${#expected[@]} files; Depends: $depends"
