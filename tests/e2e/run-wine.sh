#!/bin/sh
# End-to-end test of the Windows program: runs register-brevlin.exe, the
# shipped 32-bit program or the 64-bit build, under wine64 (32-bit programs
# in the same 64-bit prefix, through Wine's WoW64), on a virtual display of
# its own and in a fresh Wine prefix, over a set of command lines and
# configuration files, and reads the registry back with Wine's own reg.exe.
# For each message box the program shows, it finds the box by its caption,
# checks that the program is still waiting on it and that it holds the
# expected text, closes it, and checks that the program then ends with exit
# code 0. No other window of the program may ever become visible.
#
# Usage: tests/e2e/run-wine.sh PROGRAM [SCREENSHOT_DIR]
# PROGRAM is register-brevlin.exe or the build folder that holds it. With
# SCREENSHOT_DIR, a PNG of each box is kept there, named after its case:
# wrong-product and unreadable-file (the importer's boxes) and
# value-before-first-key (the application's error box); docs/ holds copies
# for the README. Where a 32-bit program cannot run (no 32-bit Wine, or a
# kernel without 32-bit support), it says why in one line and exits with 77,
# which the test command counts as skipped; the 64-bit build's run then
# stands in for it.
set -u

here=$(cd "$(dirname "$0")" && pwd)
lib=$here/../../scripts/lib
. "$lib/wine-env.sh"
wine_program_or_skip "$1"

if [ -z "${BREVLIN_E2E_DISPLAY:-}" ]; then
  BREVLIN_E2E_DISPLAY=1 exec "$lib/with-xvfb.sh" "$0" "$@"
fi

shots=${2:-}
[ -n "$shots" ] && mkdir -p "$shots" && shots=$(cd "$shots" && pwd)
. "$here/fixtures.sh"
echo "program: $exe ($bits-bit)"

new_wine_work brevlin-e2e-wine
install_wine_fonts
# Wine then draws the windows' captions itself (there is no window manager),
# so that the screenshots show them.
"$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
make_fixtures "$work"

# The Windows name of a path here.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
W=$(winpath "$work")

# The windows visible before the program runs (the root window, say).
baseline=$(xdotool search --onlyvisible --name '' 2>/dev/null | sort)

failures=0
fail() {
  printf 'FAIL %s: %s\n' "$case" "$*"
  failures=$((failures + 1))
}

# Wine's own notation of a text in its trace: \ and " escaped, CR and LF as
# \r and \n.
traced() { printf '%s' "$1" | sed -e 's/\\/\\\\/g' -e 's/"/\\"/g' -e 's/\r/\\r/g' | awk 'NR > 1 { printf "\\n" } { printf "%s", $0 }'; }

# run_program CWD CAPTION TEXT ARGS...: runs the program in folder CWD with
# ARGS; CAPTION and TEXT are those of the one box expected, or empty. The
# program is started directly, or by `start` with the options in $launch.
launch=""
run_program() {
  cwd=$1 caption=$2 text=$3
  shift 3
  trace="$work/trace.txt"
  # shellcheck disable=SC2086
  (cd "$cwd" && WINEDEBUG=trace+win exec "$WINE64" $launch "$exe" "$@" 2>"$trace") &
  pid=$!
  box="" closed=0 polls=0 reported=" "
  while kill -0 "$pid" 2>/dev/null; do
    visible=$(xdotool search --onlyvisible --name '' 2>/dev/null | sort)
    new=$(printf '%s\n' "$visible" | grep -vxF "$baseline" | grep -v '^$')
    for w in $new; do
      name=$(xdotool getwindowname "$w" 2>/dev/null)
      if [ -n "$caption" ] && [ "$name" = "$caption" ] && [ $closed = 0 ]; then
        box=$w
      elif [ "${reported#* $w }" = "$reported" ]; then
        fail "a window \"$name\" became visible"
        reported="$reported$w "
      fi
    done
    if [ -n "$box" ] && [ $closed = 0 ]; then
      sleep 0.5  # let the box finish drawing
      kill -0 "$pid" 2>/dev/null || fail "the program did not wait on its box"
      [ -n "$shots" ] && import -window "$box" "$shots/$case.png"
      xdotool windowfocus --sync "$box" key --clearmodifiers Return
      closed=1
    fi
    polls=$((polls + 1))
    if [ $polls -gt 600 ]; then
      fail "still running after 60 s"
      kill "$pid"
      break
    fi
    sleep 0.1
  done
  wait "$pid"
  status=$?
  if [ $status != 0 ]; then
    fail "exit code $status"
    grep -av 'trace:' "$trace" | tail -5
  fi
  if [ -n "$caption" ]; then
    [ -n "$box" ] || fail "no box \"$caption\" appeared"
    grep -qF "set_window_text L\"$(traced "$text")\"" "$trace" ||
      fail "the box did not say: $text"
  fi
}

# value KEY NAME: "TYPE DATA" of the value, or "missing"; (Default) is the
# unnamed value.
value() {
  if [ "$2" = '(Default)' ]; then set -- "$1" "$2" /ve; else set -- "$1" "$2" /v "$2"; fi
  out=$("$WINE64" reg query "HKCU\\Software\\Mardovan$1" "$3" ${4:+"$4"} 2>/dev/null | tr -d '\r' |
    sed -n "s/^    $2    \\([A-Z_]*\\)    \\(.*\\)\$/\\1 \\2/p")
  printf '%s\n' "${out:-missing}"
}

expect_value() {
  got=$(value "$1" "$2")
  [ "$got" = "$3" ] || fail "Software\\Mardovan$1 \"$2\" is \"$got\", expected \"$3\""
}

expect_nothing_written() {
  "$WINE64" reg query 'HKCU\Software\Mardovan' >/dev/null 2>&1 &&
    fail "Software\\Mardovan exists"
}

# check NAME CWD EXPECT [ARGS...]: one run with no box, then the registry.
#   EXPECT: nothing, or the value of E2E "Where" after a complete import.
check() {
  case=$1 cwd=$2 expect=$3
  shift 3
  "$WINE64" reg delete 'HKCU\Software\Mardovan' /f >/dev/null 2>&1
  run_program "$cwd" "" "" "$@"
  if [ "$expect" = nothing ]; then
    expect_nothing_written
  else
    expect_value '\E2E' Where "REG_SZ $expect"
    expect_value '' Loading missing
  fi
  echo "done $case"
}

check no-arguments "$work/run" nothing
check missing-file "$work/run" nothing /IC missing.cfg
check folder "$work/run" nothing /IC "$W\\inst"
check folder-with-separator "$work/run" nothing /IC "$W\\inst\\"
check relative-name "$work/run" run /IC small.cfg
check name-directly-behind "$work/run" run /ICsmall.cfg
check install-folder "$work/run" sub /IC small.cfg /IP "$W\\inst\\sub\\"
check install-file "$work/run" sub /IC small.cfg /IP "$W\\inst\\sub\\setup.exe"
check install-folder-without-separator "$work/run" inst /IC small.cfg /IP "$W\\inst\\sub"
check install-path-relative "$work/run" sub /IC small.cfg /IP '..\inst\sub\'
check letter-case "$work/run" sub /ic small.cfg /iP "$W\\inst\\sub\\"
check name-with-spaces "$work/run" spaces /IC "$W\\my dir\\my config.cfg"
check name-with-spaces-unquoted "$work/my dir" spaces /IC my config.cfg
# Wine passes an argument that holds quotes with backslashes before them, so
# a name quoted inside its argument cannot be written here; wine64 quotes the
# names with spaces above itself.
check install-path-with-spaces "$work/run" spaces /IC "my config.cfg" /IP "$W\\my dir\\"
# The show state that the starting program asks for changes nothing. (start
# gives the program a current folder of its own, so the name is absolute.)
launch="start /wait /max /unix"
check started-maximised "$work/run" run /IC "$W\\run\\small.cfg"
launch="start /wait /min /unix"
check started-minimised "$work/run" run /IC "$W\\run\\small.cfg"
launch=""

case=complete-import
"$WINE64" reg delete 'HKCU\Software\Mardovan' /f >/dev/null 2>&1
run_program "$work/run" "" "" /IC "$W\\brevlin.cfg" /S
expect_value '\Brevlin\Example' Text 'REG_SZ Hello world'
expect_value '\Brevlin\Example' Count 'REG_DWORD 0x400'
expect_value '\Brevlin\Example' Bytes 'REG_BINARY 0AFF10'
expect_value '\Brevlin\Example' '(Default)' 'REG_SZ The unnamed value of the key'
expect_value '\Brevlin\Example\Window' Offset 'REG_DWORD 0xffffffd8'
expect_value '\Brevlin\Example\Window' Mask 'REG_DWORD 0xff00'
expect_value '' Loading missing
echo "done $case"

case=wrong-product
"$WINE64" reg delete 'HKCU\Software\Mardovan' /f >/dev/null 2>&1
run_program "$work/run" "Register Brevlin Import Error" \
  "$(printf 'This configuration file belongs to Other\r\nand is not compatible with this program.')" \
  /IC ..\\wrong.cfg
expect_value '\E2E' Before 'REG_SZ written'
expect_value '\E2E' After missing
expect_value '' Loading 'REG_DWORD 0x0'
echo "done $case"

case=value-before-first-key
"$WINE64" reg delete 'HKCU\Software\Mardovan' /f >/dev/null 2>&1
run_program "$work/run" "Register Brevlin" "Failed to set data for 'Early'" /IC "$W\\early.cfg"
expect_value '' Loading 'REG_DWORD 0x0'
expect_value '\E2E' After missing
echo "done $case"

# A key that Wine's registry cannot hold (a name of 300 characters) is one
# the user may not write. The program imports without showing that box (the
# importer's key-refused box is for callers that ask for it): the key and the
# keys after it are skipped, quietly, and the import ends normally.
case=key-refused
long=$(printf '%0300d' 0 | tr 0 K)
printf '<[Brevlin]>\n[Software\\Mardovan\\E2E]\nstring\tBefore\twritten\n[Software\\Mardovan\\%s]\nstring\tAfter\tnever\n' \
  "$long" >"$work/run/refused.cfg"
"$WINE64" reg delete 'HKCU\Software\Mardovan' /f >/dev/null 2>&1
run_program "$work/run" "" "" /IC refused.cfg
expect_value '\E2E' Before 'REG_SZ written'
expect_value '' Loading missing
echo "done $case"

# Wine answers the attributes of a Unix socket as those of a file but cannot
# open it: the import's file error, with Wine's code for it.
case=unreadable-file
perl -MSocket -e 'socket(S, PF_UNIX, SOCK_STREAM, 0) && bind(S, pack_sockaddr_un($ARGV[0])) or die "$!\n"' \
  "$work/run/socket"
"$WINE64" reg delete 'HKCU\Software\Mardovan' /f >/dev/null 2>&1
run_program "$work/run" "Register Brevlin" \
  "$(printf 'Could not import the program configuration due to the following error:\r\nI/O error 433\r\n\r\nFilename: %s' "$W\\run\\socket")" \
  /IC socket /IP "$W\\run\\"
expect_nothing_written
echo "done $case"

# Where the keys land. A 32-bit program's HKEY_LOCAL_MACHINE\Software is the
# registry's 32-bit view: 64-bit programs such as reg.exe see it below
# Software\Wow6432Node, and reg.exe's /reg:32 shows it in its place. So is
# its HKEY_CLASSES_ROOT\CLSID. A 64-bit program's keys stay where it names
# them. HKEY_CURRENT_USER\Software is one for both.
case=redirection
printf '<[Brevlin]>\r\n<HKEY_LOCAL_MACHINE>\r\n[Software\\Mardovan\\E2E]\r\nstring\tWhere\tmachine\r\n<HKEY_CURRENT_USER>\r\n[Software\\Mardovan\\E2E]\r\nstring\tWhere\tuser\r\n<HKEY_CLASSES_ROOT>\r\n[CLSID\\{B2E2E2E2-0000-4000-8000-00000000B1E5}]\r\nstring\t\tBrevlin test class\r\n' \
  >"$work/machine.cfg"
"$WINE64" reg delete 'HKCU\Software\Mardovan' /f >/dev/null 2>&1
run_program "$work/run" "" "" /IC "$W\\machine.cfg"
clsid='CLSID\{B2E2E2E2-0000-4000-8000-00000000B1E5}'
# reg_value KEY NAME [VIEW]: "TYPE DATA" of the value, or "missing".
reg_value() {
  if [ "$2" = '(Default)' ]; then n=/ve; else n="/v $2"; fi
  # shellcheck disable=SC2086
  out=$("$WINE64" reg query "$1" $n ${3:-} 2>/dev/null | tr -d '\r' |
    sed -n "s/^    [^ ].*    \([A-Z_]*\)    \(.*\)\$/\1 \2/p")
  printf '%s\n' "${out:-missing}"
}
expect_reg() {
  got=$(reg_value "$1" "$2" "${4:-}")
  [ "$got" = "$3" ] || fail "$1${4:+ ($4)} \"$2\" is \"$got\", expected \"$3\""
}
if [ $bits = 32 ]; then
  expect_reg 'HKLM\Software\Wow6432Node\Mardovan\E2E' Where 'REG_SZ machine'
  expect_reg 'HKLM\Software\Mardovan\E2E' Where 'REG_SZ machine' /reg:32
  expect_reg 'HKLM\Software\Mardovan\E2E' Where missing
  expect_reg "HKCR\\Wow6432Node\\$clsid" '(Default)' 'REG_SZ Brevlin test class'
  expect_reg "HKCR\\$clsid" '(Default)' 'REG_SZ Brevlin test class' /reg:32
  expect_reg "HKCR\\$clsid" '(Default)' missing
else
  expect_reg 'HKLM\Software\Mardovan\E2E' Where 'REG_SZ machine'
  expect_reg 'HKLM\Software\Wow6432Node\Mardovan\E2E' Where missing
  expect_reg 'HKLM\Software\Mardovan\E2E' Where missing /reg:32
  expect_reg "HKCR\\$clsid" '(Default)' 'REG_SZ Brevlin test class'
  expect_reg "HKCR\\Wow6432Node\\$clsid" '(Default)' missing
fi
expect_reg 'HKCU\Software\Mardovan\E2E' Where 'REG_SZ user'
expect_reg 'HKCU\Software\Mardovan\E2E' Where 'REG_SZ user' /reg:32
expect_reg 'HKCU\Software\Wow6432Node\Mardovan\E2E' Where missing
expect_value '' Loading missing
echo "done $case"

if [ $failures -gt 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "all cases passed"
