#!/bin/sh
# Builds the .deb of a Linux build, unpacks it into a clean folder, checks
# what it holds, and runs the worked example with the unpacked programs over
# a store of its own.
#
# Usage: tests/package/deb-test.sh BUILD_DIR
set -eu

. "$(dirname "$0")/make-package.sh"
make_package DEB "$1"
. "$source_dir/tests/e2e/fixtures.sh"
deb=$(ls "$work"/packages/*.deb)
case $(basename "$deb") in
  "register-brevlin_${version}_"*.deb) ;;
  *) echo "package name $(basename "$deb") does not carry version $version"; exit 1 ;;
esac

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

field() {
  dpkg-deb -f "$deb" "$1"
}
[ "$(field Package)" = register-brevlin ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
field Depends | grep -q 'libsqlite3-0' || fail "Depends: $(field Depends)"
field Depends | grep -q 'libc6' || fail "Depends: $(field Depends)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"

root=$work/root
mkdir "$root"
dpkg-deb -x "$deb" "$root"
for f in usr/bin/register-brevlin usr/bin/regstore \
  usr/share/man/man1/register-brevlin.1 usr/share/man/man1/regstore.1 \
  usr/share/bash-completion/completions/register-brevlin \
  usr/share/bash-completion/completions/regstore \
  usr/share/doc/register-brevlin/README.md usr/share/doc/register-brevlin/CHANGELOG.md \
  usr/share/doc/register-brevlin/LICENSE; do
  [ -e "$root/$f" ] || fail "the package lacks /$f"
done
# The programs are stripped.
for f in register-brevlin regstore; do
  file_type=$(od -An -c -N4 "$root/usr/bin/$f" | tr -d ' ')
  [ "$file_type" = "177ELF" ] || fail "$f is not an ELF program"
  if readelf -S "$root/usr/bin/$f" | grep -q '\.debug_info'; then
    fail "$f is not stripped"
  fi
done
if command -v man >/dev/null 2>&1; then
  for page in register-brevlin regstore; do
    warnings=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
  done
fi
bash -n "$root/usr/share/bash-completion/completions/register-brevlin" ||
  fail "the completion is not valid bash"

# The worked example, with the programs from the package.
export REGSTORE="$work/store/registry.db"
got=$("$root/usr/bin/register-brevlin" --version)
[ "$got" = "register-brevlin (Register Brevlin) $version" ] || fail "--version: $got"
status=0
"$root/usr/bin/register-brevlin" /IC "$source_dir/examples/brevlin.cfg" || status=$?
[ $status = 0 ] || fail "the import ended with $status"
exported=$("$root/usr/bin/regstore" export 'HKCU\Software\Mardovan' | tr -d '\r')
expected=$(example_export)
[ "$exported" = "$expected" ] || fail "the store holds:
$exported"

if [ $failures -gt 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "$(basename "$deb"): $(field Depends); the example imports"
