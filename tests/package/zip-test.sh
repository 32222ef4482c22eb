#!/bin/sh
# Builds the .zip of a 32-bit Windows build and checks what it holds: the
# stripped 32-bit program, with the project's version in its version
# resource, and its README.
#
# Usage: tests/package/zip-test.sh WIN32_BUILD_DIR
set -eu

. "$(dirname "$0")/make-package.sh"
make_package ZIP "$1"
zip=$work/packages/register-brevlin-$version-win32.zip
[ -f "$zip" ] || { echo "no $(basename "$zip"): $(ls "$work/packages")"; exit 1; }

mkdir "$work/unpacked"
(cd "$work/unpacked" && unzip -q "$zip")
exe=$work/unpacked/register-brevlin.exe
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
for f in register-brevlin.exe README.md LICENSE; do
  [ -f "$work/unpacked/$f" ] || fail "the zip lacks $f"
done
"$source_dir/tests/win32/check-pe32.sh" "$exe" || fail "not the 32-bit GUI program"
if i686-w64-mingw32-objdump -h "$exe" | grep -q '\.debug'; then
  fail "the program is not stripped"
fi
strings -el "$exe" | grep -qx "$version.0" || fail "the version resource lacks $version.0"

if [ $failures -gt 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "$(basename "$zip"): $(ls "$work/unpacked" | tr '\n' ' ')"
