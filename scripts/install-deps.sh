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
#
# The shipped program is 32-bit: to run it, Wine needs its 32-bit half
# (wine32:i386, for which the i386 architecture is added). That half is
# optional here: when it cannot be installed, this says so in one line and
# ends with 0, and the Wine tests run the 64-bit build instead (saying so as
# well). Every other package is needed, and a failure to install one fails.
# Wine's preloaders reserve the addresses Windows programs expect before
# anything else takes them; without them a Wine start now and then fails with
# "failed to map the shared user data".
set -eu

profile=${1:-all}

# The one list of the project's packages, by what needs them.
BUILD_PACKAGES="cmake ninja-build g++ pkg-config libsqlite3-dev"
TEST_PACKAGES="hyperfine time libgtest-dev googletest libbenchmark-dev sqlite3
  dpkg-dev unzip
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 wine64-preloader fonts-wine xvfb xdotool x11-apps imagemagick
  clang libclang-rt-14-dev"

case $profile in
  build) PACKAGES=$BUILD_PACKAGES; PACKAGES_I386="" ;;
  all) PACKAGES="$BUILD_PACKAGES $TEST_PACKAGES"; PACKAGES_I386="wine32:i386 wine32-preloader:i386" ;;
  *) echo "usage: $0 [build|all]" >&2; exit 2 ;;
esac

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing=""
for p in $PACKAGES; do
  installed "$p" || missing="$missing $p"
done
missing32=""
for p in $PACKAGES_I386; do
  installed "$p" || missing32="$missing32 $p"
done
[ -z "$missing$missing32" ] && exit 0

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
# Another apt or dpkg may be at work (an unattended upgrade, a second set-up):
# wait for it rather than fail.
APT="$SUDO apt-get -q -o DPkg::Lock::Timeout=900"

if [ -n "$missing32" ]; then
  case " $(dpkg --print-foreign-architectures | tr '\n' ' ') " in
    *" i386 "*) ;;
    *) $SUDO dpkg --add-architecture i386 ;;
  esac
fi

# A mirror may be briefly out of step, so that one of its indexes (seen: the
# i386 security index) fails to download. apt then keeps the indexes it has
# and the others that did download, and the installs below tell whether what
# is there is enough.
update() {
  if ! $APT update; then
    echo "install-deps.sh: apt-get update did not fetch every package index; going on with those there are" >&2
  fi
}
update

if [ -n "$missing" ]; then
  echo "Installing:$missing"
  # shellcheck disable=SC2086
  if ! $APT install -y $missing; then
    # Perhaps only the indexes were stale: once more with fresh ones.
    update
    # shellcheck disable=SC2086
    $APT install -y $missing
  fi
fi

if [ -n "$missing32" ]; then
  echo "Installing:$missing32"
  # shellcheck disable=SC2086
  if ! $APT install -y $missing32; then
    echo "install-deps.sh: cannot install$missing32 today: the Wine tests will run the 64-bit build instead of the 32-bit one" >&2
  fi
fi
exit 0
