#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds what the Windows programs link and Debian ships for MinGW only as sources: a static
# qtbase (Core, Gui, Widgets, Test; the windows and offscreen platforms) and a static libcurl on
# Schannel (SMTP, SMTPS, HTTP, HTTPS), from Debian 12's own source packages with Debian's patches,
# for x86_64-w64-mingw32 with the project's toolchain file.
#
# Usage: mingw_deps.sh [CACHE_ROOT]      (default ~/.cache/raidgui/mingw-deps)
# Prints the prefix that holds both. Its name is a key of the source versions, this script, the
# toolchain file and the compiler's version: a second run finds it and builds nothing. The
# sources come through apt's own client with a deb-src list and state of this script's own, so
# the system's apt configuration is never read for sources nor changed.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache_root=${1:-${XDG_CACHE_HOME:-$HOME/.cache}/raidgui/mingw-deps}
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
jobs=${JOBS:-$(nproc)}
mkdir -p "$cache_root"

# One build at a time; a second caller waits and then finds the first one's prefix.
exec 9>"$cache_root/.lock"
flock 9

# apt's private state: its own source list, package lists and downloads.
apt_dir="$cache_root/.apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d"
mirror=$(sed -n 's/^URIs: *//p; s/^deb \(http[^ ]*\) bookworm main.*/\1/p' \
  /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null | head -n 1 || true)
mirror=${mirror:-http://deb.debian.org/debian}
cat >"$apt_dir/sources.list" <<EOF
deb-src $mirror bookworm main
deb-src $mirror bookworm-updates main
deb-src http://deb.debian.org/debian-security bookworm-security main
EOF
apt_options=(-o "Dir::Etc::sourcelist=$apt_dir/sources.list"
  -o "Dir::Etc::sourceparts=$apt_dir/sources.list.d" -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache" -o "APT::Sandbox::User=root" -qq)

# The newest version of each source package; without the network, the newest prefix made earlier
# by this very script and compiler is used.
recipe=$(cat "${BASH_SOURCE[0]}" "$toolchain"; x86_64-w64-mingw32-g++-posix --version | head -n 1)
if apt-get "${apt_options[@]}" update 2>"$apt_dir/update.log"; then
  versions=$(for package in qt6-base curl; do
    apt-cache "${apt_options[@]}" showsrc "$package" |
      sed -n "s/^Version: //p" | sort -V | tail -n 1 | sed "s/^/$package=/"
  done)
else
  recipe_key=$(sha256sum <<<"$recipe" | cut -c1-16)
  for ready in "$cache_root"/*/ready; do
    [[ -f $ready && $(cat "$(dirname "$ready")/recipe-key") == "$recipe_key" ]] &&
      { dirname "$ready"; exit 0; }
  done
  echo "mingw deps: the source lists cannot be fetched:" >&2
  cat "$apt_dir/update.log" >&2
  exit 1
fi
key=$(printf '%s\n%s\n' "$recipe" "$versions" | sha256sum | cut -c1-16)
prefix="$cache_root/$key"
if [[ -f "$prefix/ready" ]]; then
  echo "$prefix"
  exit 0
fi

start=$SECONDS
echo "mingw deps: building $key ($(tr '\n' ' ' <<<"$versions"))" >&2
# The work folder stays after a failure, so that the next run goes on from there; it goes once
# the prefix is in place, which appears only complete, by one rename.
work="$cache_root/.build-$key"
if [[ ! -f "$work/sources/ready" ]]; then
  rm -rf "$work"
  mkdir -p "$work/sources"
  # shellcheck disable=SC2086  # one word per package=version
  (cd "$work/sources" && apt-get "${apt_options[@]}" source --download-only $versions)
  # dpkg-source unpacks each and applies Debian's patch series. apt has checked every file
  # against the archive's signed index; the uploaders' keys are not needed for that.
  dpkg-source -q --no-check -x "$work"/sources/qt6-base_*.dsc "$work/qtbase" >/dev/null
  dpkg-source -q --no-check -x "$work"/sources/curl_*.dsc "$work/curl" >/dev/null
  touch "$work/sources/ready"
fi

# Configured for the final prefix, installed under a staging root, then moved into place.
stage="$work/stage"
cross=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF)

# Qt: only what the window uses. The host's Qt tools (moc, rcc, uic) come from Debian's
# qt6-base-dev-tools; they compress resources with zstd by default, which this Qt cannot read,
# so every rcc run for it passes --no-zstd. The dfsg tarball has no wintab headers: no tablets.
# DirectWrite and Direct2D stay out: GDI draws the text on Windows and FreeType offscreen.
# OpenGL stays in: the windows platform does not build without it.
host_cmake_dir=$(dirname "$(dirname "$(dpkg -L qt6-base-dev | grep -m 1 '/cmake/Qt6HostInfo/')")")
cmake -S "$work/qtbase" -B "$work/qtbase-build" "${cross[@]}" -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR="$host_cmake_dir" \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DFEATURE_pkg_config=OFF \
  -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_xml=OFF \
  -DFEATURE_printsupport=OFF -DFEATURE_vulkan=OFF \
  -DFEATURE_concurrent=OFF -DFEATURE_zstd=OFF -DFEATURE_tabletevent=OFF \
  -DFEATURE_direct2d=OFF -DFEATURE_directwrite=OFF -DFEATURE_directwrite3=OFF \
  -DFEATURE_icu=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF -DFEATURE_freetype=ON \
  -DFEATURE_system_doubleconversion=OFF \
  >"$work/qtbase-configure.log" 2>&1 ||
  { tail -n 60 "$work/qtbase-configure.log" >&2; exit 1; }
cmake --build "$work/qtbase-build" --parallel "$jobs" >"$work/qtbase-build.log" 2>&1 ||
  { grep -B2 -A8 -m 5 -E 'error|FAILED' "$work/qtbase-build.log" >&2; exit 1; }
DESTDIR="$stage" cmake --install "$work/qtbase-build" >/dev/null
qt_seconds=$((SECONDS - start))

# curl: the protocols the mails and the push channels use, on Windows' own TLS. No CA bundle
# path is baked in: Schannel asks Windows' certificate store.
cmake -S "$work/curl" -B "$work/curl-build" "${cross[@]}" \
  -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF -DCURL_ENABLE_EXPORT_TARGET=ON \
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF -DUSE_LIBIDN2=OFF \
  -DCURL_ZLIB=OFF -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DCURL_DISABLE_LDAP=ON \
  -DCURL_DISABLE_LDAPS=ON -DCURL_DISABLE_FTP=ON -DCURL_DISABLE_FILE=ON -DCURL_DISABLE_DICT=ON \
  -DCURL_DISABLE_TELNET=ON -DCURL_DISABLE_TFTP=ON -DCURL_DISABLE_POP3=ON -DCURL_DISABLE_IMAP=ON \
  -DCURL_DISABLE_RTSP=ON -DCURL_DISABLE_GOPHER=ON -DCURL_DISABLE_MQTT=ON -DCURL_DISABLE_SMB=ON \
  >"$work/curl-configure.log" 2>&1 || { tail -n 60 "$work/curl-configure.log" >&2; exit 1; }
cmake --build "$work/curl-build" --parallel "$jobs" >"$work/curl-build.log" 2>&1 ||
  { grep -B2 -A8 -m 5 -E 'error|FAILED' "$work/curl-build.log" >&2; exit 1; }
DESTDIR="$stage" cmake --install "$work/curl-build" >/dev/null

# The licences of what is linked in, for the installer.
mkdir -p "$stage$prefix/licenses/qtbase" "$stage$prefix/licenses/curl"
cp "$work/qtbase/debian/copyright" "$stage$prefix/licenses/qtbase/copyright"
cp "$work/curl/debian/copyright" "$stage$prefix/licenses/curl/copyright"
echo "$versions" >"$stage$prefix/versions"
sha256sum <<<"$recipe" | cut -c1-16 >"$stage$prefix/recipe-key"
touch "$stage$prefix/ready"
rm -rf "$prefix"
mv "$stage$prefix" "$prefix"
rm -rf "$work"
echo "mingw deps: built in $((SECONDS - start)) s (Qt $qt_seconds s, curl $((SECONDS - start - qt_seconds)) s)" >&2
echo "$prefix"
