#!/bin/sh
# End-to-end test of the Linux program: runs register-brevlin as a user would,
# each time over a fresh registry store (REGSTORE), with a set of command
# lines and configuration files, and checks the store with `regstore export`,
# the messages on standard error, and the exit code, which is always 0.
#
# Usage: tests/e2e/run-host.sh BUILD_DIR
set -u

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
program=$build/register-brevlin
regstore=$build/regstore
for f in "$program" "$regstore"; do
  [ -x "$f" ] || { echo "no $f"; exit 1; }
done
. "$here/fixtures.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/brevlin-e2e-host.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
make_fixtures "$work"
mkfifo "$work/run/fifo"

failures=0
fail() {
  printf 'FAIL %s: %s\n' "$case" "$*"
  failures=$((failures + 1))
}

stores=0
# The export of Software\Mardovan, with LF line ends (regedit writes CR LF);
# fails when the key does not exist.
export_state() {
  "$regstore" export 'HKEY_CURRENT_USER\Software\Mardovan' >"$work/export" 2>/dev/null &&
    tr -d '\r' <"$work/export"
}

# run CWD STDERR ARGS...: runs the program in folder CWD with ARGS over a new
# store and checks its exit code and what it wrote to standard error.
run() {
  cwd=$1 expected_stderr=$2
  shift 2
  stores=$((stores + 1))
  export REGSTORE="$work/store-$stores.db"
  (cd "$cwd" && exec timeout 30 "$program" "$@") 2>"$work/stderr"
  status=$?
  [ $status = 0 ] || fail "exit code $status"
  printf '%s' "$expected_stderr" >"$work/expected-stderr"
  cmp -s "$work/stderr" "$work/expected-stderr" ||
    fail "standard error: $(cat "$work/stderr")"
}

# expect_export TEXT: the export of Software\Mardovan is TEXT (trailing
# line ends aside).
expect_export() {
  got=$(export_state)
  [ "$got" = "$1" ] || fail "store holds: $got"
}

expect_nothing_written() {
  export_state >/dev/null && fail "Software\\Mardovan exists: $(export_state)"
}

# The export after a complete import of a small.cfg or my config.cfg.
where_export() {
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Mardovan]\n\n[HKEY_CURRENT_USER\\Software\\Mardovan\\E2E]\n"Where"="%s"\n\n' "$1"
}

# The export after an import that stopped early, having written nothing.
loading_zero_export() {
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Mardovan]\n"Loading"=dword:00000000\n'
}

# check NAME CWD EXPECT ARGS...: one run with nothing on standard error;
# EXPECT is "nothing" or the value that E2E "Where" then holds.
check() {
  case=$1 cwd=$2 expect=$3
  shift 3
  run "$cwd" "" "$@"
  if [ "$expect" = nothing ]; then
    expect_nothing_written
  else
    expect_export "$(where_export "$expect")"
  fi
  echo "done $case"
}

check no-arguments "$work/run" nothing
check missing-file "$work/run" nothing /IC missing.cfg
check missing-folder "$work/run" nothing /IC "$work/missing/small.cfg"
check folder "$work/run" nothing /IC "$work/inst"
check folder-with-separator "$work/run" nothing /IC "$work/inst/"
check fifo "$work/run" nothing /IC fifo
check device "$work/run" nothing /IC /dev/null
check option-without-value "$work/run" nothing /IC
check relative-name "$work/run" run /IC small.cfg
check name-directly-behind "$work/run" run /ICsmall.cfg
check path-directly-behind "$work/run" inst "/IC$work/inst/small.cfg"
check relative-path "$work/run" sub /IC ../inst/sub/small.cfg
check backslash-path "$work/run" sub /IC '..\inst\sub\small.cfg'
check switches-ignored "$work/run" run /S /IC small.cfg /quiet /tmp
check install-folder "$work/run" sub /IC small.cfg /IP "$work/inst/sub/"
check install-file "$work/run" sub /IC small.cfg /IP "$work/inst/sub/setup.exe"
check install-folder-without-separator "$work/run" inst /IC small.cfg /IP "$work/inst/sub"
check install-path-relative "$work/run" sub /IP ../inst/sub/ /IC small.cfg
check install-path-unused "$work/run" run /IC ./small.cfg /IP "$work/inst/"
check letter-case "$work/run" sub /ic small.cfg /iP "$work/inst/sub/"
check name-with-spaces "$work/run" spaces /IC "$work/my dir/my config.cfg"
check name-with-spaces-unquoted "$work/my dir" spaces /IC my config.cfg
check quoted-name "$work/run" run '/IC"small.cfg"'
check install-path-with-spaces "$work/run" spaces /IC "my config.cfg" /IP "$work/my dir/"

case=complete-import
run "$work/run" "" /IC "$work/brevlin.cfg"
expect_export "$(cat <<'END'
REGEDIT4

[HKEY_CURRENT_USER\Software\Mardovan]

[HKEY_CURRENT_USER\Software\Mardovan\Brevlin]

[HKEY_CURRENT_USER\Software\Mardovan\Brevlin\Example]
"Text"="Hello world"
"Count"=dword:00000400
"Bytes"=hex:0a,ff,10
@="The unnamed value of the key"

[HKEY_CURRENT_USER\Software\Mardovan\Brevlin\Example\Window]
"Left"=dword:00000078
"Top"=dword:00000050
"Offset"=dword:ffffffd8
"Mask"=dword:0000ff00
"Title"="Brevlin"
END
)"
echo "done $case"

case=wrong-product
run "$work/run" "Register Brevlin Import Error
This configuration file belongs to Other
and is not compatible with this program.
" /IC ../wrong.cfg
expect_export "$(cat <<'END'
REGEDIT4

[HKEY_CURRENT_USER\Software\Mardovan]
"Loading"=dword:00000000

[HKEY_CURRENT_USER\Software\Mardovan\E2E]
"Before"="written"
END
)"
echo "done $case"

case=value-before-first-key
run "$work/run" "Register Brevlin
Failed to set data for 'Early'
" /IC "$work/early.cfg"
expect_export "$(loading_zero_export)"
echo "done $case"

# A regular file whose reading fails: the import's file error.
case=unreadable-file
run "$work/run" 'Register Brevlin
Could not import the program configuration due to the following error:
I/O error 1117

Filename: \proc\self\mem
' /IC /proc/self/mem
expect_export "$(loading_zero_export)"
echo "done $case"

# regstore's output that cannot be written is a failure with the reason,
# and a mistyped store is an error rather than a new empty store.
case=regstore-output-to-a-full-disk
if [ -w /dev/full ]; then
  for command in "query HKCU /s" "query HKCU /s --json" "export HKCU" "export HKCU - /5" "help"; do
    # shellcheck disable=SC2086
    "$regstore" $command >/dev/full 2>"$work/err"
    status=$?
    [ $status = 1 ] || fail "regstore $command >/dev/full exited with $status"
    grep -q 'No space left on device' "$work/err" || fail "regstore $command >/dev/full said: $(cat "$work/err")"
  done
fi
echo "done $case"

case=regstore-missing-store
REGSTORE="$work/no-such-store.db" "$regstore" query HKCU >/dev/null 2>"$work/err"
status=$?
[ $status = 1 ] || fail "query of a missing store exited with $status"
grep -q 'does not exist' "$work/err" || fail "query of a missing store said: $(cat "$work/err")"
[ ! -e "$work/no-such-store.db" ] || fail "query made the store"
echo "done $case"

if [ $failures -gt 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "all cases passed"
