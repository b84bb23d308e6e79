#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds the Debian package from it, then checks
# that both hold what a machine needs: the programs, the unit, the desktop entry, the icon and
# the README, and that the package names the libraries the programs link.
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
  share/applications/raidgui.desktop
  share/icons/hicolor/scalable/apps/raidgui.svg
  share/doc/raidgui/README.md
)

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
for file in "${expected[@]}"; do
  [[ -f "$scratch/prefix/$file" ]] || fail "cmake --install left out $file"
done
[[ -x "$scratch/prefix/bin/raidctl" ]] || fail "raidctl is not executable"
"$scratch/prefix/bin/raidctl" --help | grep -q '^usage' || fail "the installed raidctl does not run"
grep -q '^Exec=raidgui$' "$scratch/prefix/share/applications/raidgui.desktop" ||
  fail "the desktop entry does not start raidgui"
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
depends=$(dpkg-deb -f "$package" Depends)
for library in libudev1 libsystemd0 libcurl4; do
  [[ "$depends" == *"$library"* ]] || fail "the package does not depend on $library: $depends"
done
echo "package_test: $(basename "$package") holds ${#expected[@]} files; Depends: $depends"
