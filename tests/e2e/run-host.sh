#!/bin/sh
# End-to-end test of the Linux program: runs register-brevlin as a user would,
# each time over a fresh registry store (REGSTORE), with a set of command
# lines and configuration files, and checks the store with `regstore export`,
# the messages on standard error, and the exit status.
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

# run_in STORE CWD STATUS STDERR ARGS...: runs the program in folder CWD
# with ARGS over the store STORE and checks its exit status and what it wrote
# to standard error; what it wrote to standard output is in $work/stdout.
run_in() {
  export REGSTORE="$1"
  cwd=$2 expected_status=$3 expected_stderr=$4
  shift 4
  (cd "$cwd" && exec timeout 30 "$program" "$@") >"$work/stdout" 2>"$work/stderr"
  status=$?
  [ $status = "$expected_status" ] || fail "exit status $status, not $expected_status"
  printf '%s' "$expected_stderr" >"$work/expected-stderr"
  cmp -s "$work/stderr" "$work/expected-stderr" ||
    fail "standard error: $(cat "$work/stderr")"
}

# run CWD STATUS STDERR ARGS...: the same over a new store.
run() {
  stores=$((stores + 1))
  run_in "$work/store-$stores.db" "$@"
}

# The usage error's text on standard error.
usage_error() {
  printf "register-brevlin: %s\nUsage: register-brevlin [--check] /IC FILE [/IP FOLDER]\n       register-brevlin --help | --version\nTry 'register-brevlin --help' for more information.\n" "$1"
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

# check NAME CWD WHERE ARGS...: one complete import with nothing on
# standard error; WHERE is the value that E2E "Where" then holds.
check() {
  case=$1 cwd=$2 expect=$3
  shift 3
  run "$cwd" 0 "" "$@"
  expect_export "$(where_export "$expect")"
  echo "done $case"
}

# check_no_file NAME CWD SHOWN REASON ARGS...: a run that finds no file to
# import: one line that names it as SHOWN and says why, exit status 3,
# nothing written.
check_no_file() {
  case=$1 cwd=$2 shown=$3 reason=$4
  shift 4
  run "$cwd" 3 "register-brevlin: $shown: $reason
" "$@"
  expect_nothing_written
  echo "done $case"
}

# check_usage NAME ERROR ARGS...: a wrong command line: the usage on standard
# error, exit status 2, nothing written and no store made.
check_usage() {
  case=$1 error=$2
  shift 2
  run "$work/run" 2 "$(usage_error "$error")
" "$@"
  [ ! -e "$REGSTORE" ] || fail "the store was made"
  echo "done $case"
}

check_usage no-arguments "no configuration file: /IC is missing"
check_usage option-without-value "/IC needs a file name" /IC
check_usage install-path-without-value "/IP needs a folder" /IC small.cfg /IP
check_usage no-config-option "no configuration file: /IC is missing" small.cfg
check_usage unknown-option "unknown option '--chek'" --chek /IC small.cfg
check_usage unknown-short-option "unknown option '-q'" /IC small.cfg -q
missing="No such file or directory"
check_no_file missing-file "$work/run" missing.cfg "$missing" /IC missing.cfg
check_no_file missing-folder "$work/run" "$work/missing/small.cfg" "$missing" \
  /IC "$work/missing/small.cfg"
check_no_file folder "$work/run" "$work/inst" "a folder, not a file" /IC "$work/inst"
check_no_file folder-with-separator "$work/run" "$work/inst/" "a folder, not a file" /IC "$work/inst/"
check_no_file fifo "$work/run" fifo "not a regular file" /IC fifo
check_no_file device "$work/run" /dev/null "not a regular file" /IC /dev/null
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
run "$work/run" 0 "" /IC "$work/brevlin.cfg"
expect_export "$(example_export)"
echo "done $case"

case=wrong-product
run "$work/run" 4 "Register Brevlin Import Error
../wrong.cfg:4: This configuration file belongs to Other
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
run "$work/run" 5 "Register Brevlin
$work/early.cfg:1: Failed to set data for 'Early'
" /IC "$work/early.cfg"
expect_export "$(loading_zero_export)"
echo "done $case"

# A regular file whose reading fails: the import's file error.
case=unreadable-file
run "$work/run" 3 'Register Brevlin
/proc/self/mem:1: Could not import the program configuration due to the following error:
I/O error 1117 (Input/output error)

Filename: /proc/self/mem
' /IC /proc/self/mem
expect_export "$(loading_zero_export)"
echo "done $case"

case=help
run "$work/run" 0 "" --help
head -n 1 "$work/stdout" | grep -q '^Usage: register-brevlin ' || fail "help: $(cat "$work/stdout")"
[ ! -e "$REGSTORE" ] || fail "the store was made"
echo "done $case"

case=version
run "$work/run" 0 "" -V
version=$(sed -n 's/^project(RegisterBrevlin VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
[ "$(cat "$work/stdout")" = "register-brevlin (Register Brevlin) $version" ] ||
  fail "version: $(cat "$work/stdout")"
echo "done $case"

# The dry run lists what the import would write, and opens no store.
case=check-complete
run "$work/run" 0 "" --check /IC "$work/brevlin.cfg"
grep -qxF "$work/brevlin.cfg:8: value HKEY_CURRENT_USER\\Software\\Mardovan\\Brevlin\\Example \"Bytes\" REG_BINARY 0a,ff,10" "$work/stdout" ||
  fail "check output: $(cat "$work/stdout")"
tail -n 1 "$work/stdout" | grep -qxF "$work/brevlin.cfg: 2 keys, 9 values, 0 warnings" ||
  fail "check summary: $(tail -n 1 "$work/stdout")"
[ ! -e "$REGSTORE" ] || fail "the check made the store"
echo "done $case"

case=check-warnings
printf '<[Brevlin]>\n[Software\\Mardovan\\E2E]\nstrng\tWhere\tx\ninteger\tBig\t4294967296\n' >"$work/warn.cfg"
run "$work/run" 5 "" /IC ../warn.cfg --check
grep -q '^\.\./warn\.cfg:3: warning: unknown type word "strng"' "$work/stdout" ||
  fail "check output: $(cat "$work/stdout")"
grep -q '^\.\./warn\.cfg:4: warning: integer text "4294967296" does not fit in 32 bits' "$work/stdout" ||
  fail "check output: $(cat "$work/stdout")"
[ ! -e "$REGSTORE" ] || fail "the check made the store"
echo "done $case"

case=check-wrong-product
run "$work/run" 4 "" --check /IC "$work/wrong.cfg"
echo "done $case"

# The import of the same file ends as the check said.
case=unknown-type-word
run "$work/run" 5 "" /IC ../warn.cfg
expect_export "$(printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Mardovan]\n\n[HKEY_CURRENT_USER\\Software\\Mardovan\\E2E]\n"Big"=dword:19999999\n')"
echo "done $case"

# A key the user may not write: skipped without a message, exit status 5.
case=protected-key
store=$work/protected.db
run_in "$store" "$work/run" 0 "" /IC small.cfg
REGSTORE=$store "$regstore" protect 'HKCU\Software\Mardovan\E2E' >/dev/null 2>&1 ||
  fail "regstore protect"
run_in "$store" "$work/run" 5 "" /IC small.cfg
echo "done $case"

# A file that is no store: the store's own note, exit status 6.
case=not-a-store
store=$work/garbage.db
head -c 8192 /dev/urandom >"$store"
run_in "$store" "$work/run" 6 "register-brevlin: cannot use the registry store $store: cannot read the store: file is not a database
Register Brevlin Registry Error
small.cfg: The registry store is damaged, was replaced or removed, or is not a registry store.
The import stopped; nothing more was written.
" /IC small.cfg
echo "done $case"

# regstore's output that cannot be written is a failure with the reason,
# and a mistyped store is an error rather than a new empty store.
case=regstore-output-to-a-full-disk
export REGSTORE="$work/protected.db"
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
