#!/bin/sh
# Installs the Debian packages that building and testing need, once: packages
# that are already there are left alone, and nothing is fetched when none is
# missing.
#
#   scripts/install-deps.sh [build|all]
#
# "build" is what building the Linux programs needs; "all" (the default) adds
# what the tests, the Windows builds, Wine, the fuzzing and the benchmarks
# need.
set -eu

profile=${1:-all}

# The one list of the project's packages, by what needs them.
BUILD_PACKAGES="cmake ninja-build g++ pkg-config libsqlite3-dev"
TEST_PACKAGES="hyperfine time libgtest-dev googletest libbenchmark-dev sqlite3
  dpkg-dev unzip
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 fonts-wine xvfb xdotool x11-apps imagemagick
  clang libclang-rt-14-dev"

case $profile in
  build) PACKAGES=$BUILD_PACKAGES ;;
  all) PACKAGES="$BUILD_PACKAGES $TEST_PACKAGES" ;;
  *) echo "usage: $0 [build|all]" >&2; exit 2 ;;
esac

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
