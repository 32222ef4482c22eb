#!/bin/sh
# Installs the Debian packages that building and testing need, once: packages
# that are already there are left alone, and nothing is fetched when none is
# missing.
set -eu

PACKAGES="cmake ninja-build g++ pkg-config hyperfine time
  libgtest-dev googletest libbenchmark-dev libsqlite3-dev sqlite3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 fonts-wine xvfb xdotool x11-apps imagemagick
  clang libclang-rt-14-dev"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q $missing
