#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the Debian 12 packages that building and testing raidgui need. Silent when every one
# is already there; apt is only asked when something is missing.
# Usage: bootstrap.sh [--for-tests]
#   --for-tests  also the checkers only the test command runs (TEST_PACKAGES below), and Qt and
#                libcurl for Windows built from Debian's sources (scripts/mingw_deps.sh, cached:
#                built once, some 20 minutes on two cores); run.sh leaves them out, so that a
#                user who only runs the demo never gets a Prometheus server or a Windows Qt.
set -euo pipefail

for_tests=0
case "${1:-}" in
  "") ;;
  --for-tests) for_tests=1 ;;
  *) echo "usage: bootstrap.sh [--for-tests]" >&2; exit 2 ;;
esac

# The one list. Add a package to the group it serves, or start a new group with a comment.
PACKAGES=(
  # compilers and build tools
  build-essential cmake ninja-build pkg-config
  # the Debian package's test: dpkg-shlibdeps finds the libraries the programs link
  dpkg-dev
  # a compiler cache: a fresh checkout or another build folder recompiles only what changed
  ccache
  # libraries of raidcore and raidsim
  zlib1g-dev libfmt-dev nlohmann-json3-dev libudev-dev
  libtomlplusplus-dev
  # logind's inhibitor lock during a firmware upgrade (sd-bus); its test runs a private bus
  libsystemd-dev dbus-daemon
  # the SMTP client of the alert mails (native build only)
  libcurl4-openssl-dev
  # the window (Qt 6 Widgets, SVG pictures); fonts-liberation gives Liberation Sans for "Arial"
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libxkbcommon-dev fonts-liberation
  # unit tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # the mail tests' SMTP server and its throwaway certificates (run with /usr/bin/python3)
  python3-aiosmtpd python3-cryptography
  # the metrics test reads raidctl's file with Prometheus's own parser (run with /usr/bin/python3)
  python3-prometheus-client
  # localedef and the locale sources: the time stamp test builds a German locale
  locales
  # the manual test renders the manual pages (groff's base, small; man-db needs it anyway)
  groff-base
  # source formatting (.clang-format)
  clang-format
  # Windows cross build; its tests run under Wine (wine64 is the 64-bit loader behind `wine`)
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64
  # fuzz targets (scripts/fuzz.sh): clang with its libFuzzer and sanitizer runtimes
  clang libclang-rt-14-dev
  # helper scripts
  python3
)

# The checkers the package test runs on what the package installs; the test command only.
TEST_PACKAGES=(
  # Debian's package checker, on the .deb
  lintian
  # desktop-file-validate, on the desktop entry
  desktop-file-utils
  # appstreamcli, on the AppStream metadata
  appstream
  # promtool, on the metrics file of the installed raidctl (the package also holds a server)
  prometheus
  # a real Alertmanager for the push tests (each starts its own: alertmanager_fixture.py)
  prometheus-alertmanager
  # the vm stage: a Debian guest under QEMU (tests/vm); its image is made with mmdebstrap and
  # mkfs.ext4, its disks served over NBD (qemu-io checks the server)
  qemu-system-x86 qemu-utils mmdebstrap e2fsprogs
  # the Windows window's pictures: its Qt has no SVG module, so they are rendered to PNG
  librsvg2-bin
  # the Windows installer (CPack's NSIS generator runs makensis), installed under Wine by a test
  nsis
)
if ((for_tests)); then
  PACKAGES+=("${TEST_PACKAGES[@]}")
fi

missing=()
for pkg in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$pkg" 2>/dev/null || true)
  # The second letter is the package state: "i" = installed (held or not).
  [[ "${status:1:1}" == i ]] || missing+=("$pkg")
done
# apt is asked only when something is missing.
install_missing() {
  ((${#missing[@]} == 0)) && return 0
  echo "bootstrap: installing ${missing[*]}"
  if ((EUID == 0)); then
    as_root=()
  elif command -v sudo >/dev/null; then
    as_root=(sudo)
  else
    echo "bootstrap: not root and no sudo; install as root: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
install_missing
if ((for_tests)); then
  "$(dirname "${BASH_SOURCE[0]}")/mingw_deps.sh" >/dev/null
fi
