#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The Windows packages, under Wine: cpack makes the installer and the ZIP from the cross build;
# the installer installs silently into Program Files with a Start-menu entry and its uninstall
# key, the installed programs tell their version, and the uninstaller takes all of it away again.
# Usage: windows_installer_test.sh BUILD_DIR VERSION   (WINEPREFIX set by the caller)
set -euo pipefail
build=$1
version=$2
name="raidgui-$version-win64"
out="$build/windows-package-test"
drive_c="$WINEPREFIX/drive_c"
installed="$drive_c/Program Files/raidgui"
menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/raidgui"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\raidgui'

fail() {
  echo "windows_installer_test: $*" >&2
  exit 1
}
# Waits up to 60 s for a path to go: the uninstaller runs a copy of itself from the temporary
# folder and returns before that copy has finished.
wait_gone() {
  for _ in $(seq 120); do
    [[ -e $1 ]] || return 0
    sleep 0.5
  done
  fail "still there after uninstalling: $1"
}
# Whether the uninstall key is in the registry.
has_key() {
  wine reg query "$key" >/dev/null 2>&1
}

# A failed run takes its installation away, so that the next run starts from a clean prefix.
clean_up() {
  [[ -e $installed ]] || return 0
  wine "C:\\Program Files\\raidgui\\Uninstall.exe" /S >/dev/null 2>&1 || true
  wineserver -w
  rm -rf "$installed" "$menu"
  wine reg delete "$key" /f >/dev/null 2>&1 || true
}
trap clean_up EXIT

[[ ! -e $installed ]] || fail "$installed exists before the test (an earlier run was interrupted?)"
rm -rf "$out"
(cd "$build" && cpack -G "NSIS;ZIP" -B "$out" >"$build/windows-package-test.log" 2>&1) ||
  { cat "$build/windows-package-test.log" >&2; fail "cpack failed"; }

# The ZIP: both programs and the licences, in a folder of the package's name.
listing=$(python3 -m zipfile -l "$out/$name.zip")
for file in raidgui.exe raidctl.exe README.md licenses/README.txt licenses/GPL-3.0.txt \
  licenses/LGPL-3.0.txt licenses/qtbase/copyright licenses/curl/copyright \
  licenses/mingw-w64-runtime/copyright licenses/gcc-runtime/copyright; do
  grep -qF "$name/$file " <<<"$listing" || fail "the ZIP has no $name/$file"
done

wine "$out/$name.exe" /S || fail "the silent install failed"
for file in raidgui.exe raidctl.exe Uninstall.exe licenses/README.txt; do
  [[ -f "$installed/$file" ]] || fail "nothing installed at Program Files/raidgui/$file"
done
[[ -f "$menu/raidgui.lnk" ]] || fail "no Start-menu entry for the window"
has_key || fail "no uninstall key $key"
grep -q "Debian source package qt6-base=" "$installed/licenses/README.txt" ||
  fail "the licence notice names no Qt source"

# The installed programs, started from where the installer put them (CR: Windows' line ends).
shown=$(wine "C:\\Program Files\\raidgui\\raidctl.exe" --version | tr -d '\r')
[[ $shown == "raidctl $version" ]] || fail "installed raidctl.exe --version prints '$shown'"
shown=$(wine "C:\\Program Files\\raidgui\\raidgui.exe" --version | tr -d '\r')
[[ $shown == "raidgui $version" ]] || fail "installed raidgui.exe --version prints '$shown'"

wine "C:\\Program Files\\raidgui\\Uninstall.exe" /S || fail "the silent uninstall failed"
wait_gone "$installed"
wait_gone "$menu"
! has_key || fail "the uninstall key $key is still there"
echo "windows_installer_test: installed, ran $version and uninstalled without a trace"
