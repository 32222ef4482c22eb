#!/bin/sh
# The Windows program under Wine with no display at all (DISPLAY unset, no
# Xvfb, a Wine prefix made that way): it has no desktop for its hidden window
# or its message boxes, and must import all the same, writing each message
# that would be a box to standard error (the caption on one line, then the
# text). Reads the registry back with Wine's own reg.exe.
#
# Usage: tests/e2e/wine-headless.sh PROGRAM
# PROGRAM is register-brevlin.exe (32- or 64-bit) or the build folder that
# holds it. Where a 32-bit program cannot run here, it says why in one line
# and exits with 77 (skipped).
set -u

root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/lib/wine-env.sh"
wine_program_or_skip "$1"
echo "program: $exe ($bits-bit), no display"

unset DISPLAY WAYLAND_DISPLAY
new_wine_work brevlin-headless
W=$(printf 'Z:%s' "$work" | tr / '\\')
. "$root/tests/e2e/fixtures.sh"
make_fixtures "$work"

failures=0
fail() {
  printf 'FAIL %s: %s\n' "$case" "$*"
  failures=$((failures + 1))
}

# run CONFIG: imports CONFIG into a registry without Software\Mardovan; its
# standard error goes to $work/stderr.
run() {
  "$WINE64" reg delete 'HKCU\Software\Mardovan' /f >/dev/null 2>&1
  timeout 120 "$WINE64" "$exe" /IC "$W\\$1" 2>"$work/stderr"
  status=$?
  [ $status = 0 ] || fail "exit code $status"
}

# expect_value KEY NAME "TYPE DATA" (or missing), KEY below HKCU\Software\Mardovan.
expect_value() {
  if [ "$2" = '(Default)' ]; then n=/ve; else n="/v $2"; fi
  # shellcheck disable=SC2086
  got=$("$WINE64" reg query "HKCU\\Software\\Mardovan$1" $n 2>/dev/null | tr -d '\r' |
    sed -n "s/^    [^ ].*    \\([A-Z_]*\\)    \\(.*\\)\$/\\1 \\2/p")
  [ "${got:-missing}" = "$3" ] || fail "Software\\Mardovan$1 \"$2\" is \"${got:-missing}\", expected \"$3\""
}

# expect_stderr TEXT: standard error holds TEXT (a message as lines), and
# nothing else but Wine's own notes.
expect_stderr() {
  printf '%s\n' "$1" >"$work/expected"
  grep -v '^[0-9a-f]*:\(err\|fixme\|warn\):' "$work/stderr" | cmp -s - "$work/expected" || {
    fail "standard error is not the message; it holds:"
    sed 's/^/    /' "$work/stderr"
  }
}

case=example
run brevlin.cfg
expect_value '\Brevlin\Example' Text 'REG_SZ Hello world'
expect_value '\Brevlin\Example' Count 'REG_DWORD 0x400'
expect_value '\Brevlin\Example' Bytes 'REG_BINARY 0AFF10'
expect_value '\Brevlin\Example' '(Default)' 'REG_SZ The unnamed value of the key'
expect_value '\Brevlin\Example\Window' Offset 'REG_DWORD 0xffffffd8'
expect_value '\Brevlin\Example\Window' Title 'REG_SZ Brevlin'
expect_value '' Loading missing
grep -v '^[0-9a-f]*:\(err\|fixme\|warn\):' "$work/stderr" | grep -q . &&
  fail "standard error holds: $(cat "$work/stderr")"
echo "done $case"

case=wrong-product
run wrong.cfg
expect_value '\E2E' Before 'REG_SZ written'
expect_value '\E2E' After missing
expect_value '' Loading 'REG_DWORD 0x0'
expect_stderr "Register Brevlin Import Error
This configuration file belongs to Other
and is not compatible with this program."
echo "done $case"

case=value-before-first-key
run early.cfg
expect_value '\E2E' After missing
expect_value '' Loading 'REG_DWORD 0x0'
expect_stderr "Register Brevlin
Failed to set data for 'Early'"
echo "done $case"

if [ $failures -gt 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "all cases passed"
