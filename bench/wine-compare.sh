#!/bin/sh
# Compares the Windows program's import with the registry's own under Wine:
# the same content, 10,000 keys of 10 values each, imported by
# register-brevlin.exe from a configuration file and by `regedit /s` from the
# equivalent REGEDIT4 file (both written by bench/workload.awk). Both run on
# one Wine server that stays up for the whole comparison (started once,
# wineboot once), in pairs, each pair's order the other way round from the
# last; the tree a run made is deleted before the next (not timed), so that
# every run makes new keys. Prints each side's median, the median of the
# pairs' ratios (register-brevlin.exe / regedit), and each side's registry
# calls per key: calls into the registry functions of advapi32 in a relay
# trace of a small import, counted the same way for both.
#
# Usage: bench/wine-compare.sh [PAIRS] [BITS]
#   PAIRS  timed pairs of runs (default 7), after one pair not counted
#   BITS   32 (the shipped program, default) or 64 (the 64-bit build)
# With BREVLIN_BENCH_CPUS set (a taskset list such as 0), the server and
# every run are held to those CPUs.
#
# It installs what is missing (scripts/install-deps.sh), builds the program
# (out/win32 or out/win64), and works in a temporary folder that it removes
# at the end. Without a display it makes a virtual one (Xvfb), as installers
# run with a desktop: the program then has its hidden window, and the Wine
# desktop is up before the first run. With BREVLIN_BENCH_NO_DISPLAY=1 it
# runs with none (the program then imports without its window). Not part of
# the test command.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
lib=scripts/lib
if [ -n "${BREVLIN_BENCH_NO_DISPLAY:-}" ]; then
  unset DISPLAY
elif [ -z "${DISPLAY:-}" ]; then
  scripts/install-deps.sh
  exec "$lib/with-xvfb.sh" "$root/bench/wine-compare.sh" "$@"
fi
pairs=${1:-7}
bits=${2:-32}
scripts/install-deps.sh
. "$lib/wine-env.sh"

if [ "$bits" = 32 ]; then
  why=$(wine32_unavailable)
  if [ -n "$why" ]; then
    echo "wine-compare.sh: the 32-bit program cannot run here ($why): the 64-bit build stands in"
    bits=64
  fi
fi
echo "== Building out/win$bits"
dir=out/win$bits
if [ ! -f "$dir/build.ninja" ]; then
  if [ "$bits" = 32 ]; then
    cmake -S . -B "$dir" -G Ninja -DBREVLIN_WERROR=ON -DBREVLIN_TESTS=OFF \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake >/dev/null
  else
    cmake -S . -B "$dir" -G Ninja -DBREVLIN_WERROR=ON \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
  fi
fi
cmake --build "$dir" --target register-brevlin >/dev/null
exe=$root/$dir/register-brevlin.exe

work=$(mktemp -d "${TMPDIR:-/tmp}/brevlin-wine-compare.XXXXXX")
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
cpus=""
[ -n "${BREVLIN_BENCH_CPUS:-}" ] && cpus="taskset -c $BREVLIN_BENCH_CPUS"
cleanup() {
  stop_wineserver
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

echo "== Workloads"
awk -v keys=10000 -v parents=300 -v cfg="$work/full.cfg" -v reg="$work/full.reg" \
  -f bench/workload.awk
for n in 100 300; do
  awk -v keys=$n -v parents=300 -v cfg="$work/k$n.cfg" -v reg="$work/k$n.reg" -f bench/workload.awk
done
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

echo "== One Wine server for every run"
mkdir -p "$WINEPREFIX"
# In the foreground of a background job, so that its process is known and
# its CPU time can be read.
$cpus "$WINESERVER" -f -p &
server=$!
$cpus "$WINE64" wineboot -i >/dev/null 2>&1
ticks=$(getconf CLK_TCK)
# The server's CPU time so far (user and system), in clock ticks.
server_ticks() { awk '{ print $14 + $15 }' "/proc/$server/stat"; }

# import SIDE FILE: one import by SIDE (exe or regedit) of FILE (without its
# extension).
import() {
  if [ "$1" = exe ]; then
    $cpus "$WINE64" "$exe" /IC "$(winpath "$2.cfg")"
  else
    $cpus "$WINE64" regedit /s "$(winpath "$2.reg")"
  fi
}
clear_tree() {
  $cpus "$WINE64" reg delete 'HKCU\Software\Mardovan' /f >/dev/null 2>&1 || true
}
now() { date +%s.%N; }
last_key='HKCU\Software\Mardovan\BrevlinBench\Group099\Key009999'
check_full() {
  got=$("$WINE64" reg query "$last_key" 2>/dev/null | grep -c REG_ || true)
  [ "$got" = 10 ] || {
    echo "wine-compare.sh: $1 did not import the file ($got values in the last key)" >&2
    exit 1
  }
}
# timed SIDE: one timed import of the full workload into a tree without its
# keys; adds the wall seconds to $work/SIDE.runs and the Wine server's CPU
# seconds to $work/SIDE.cpu, and prints both. (The program's own CPU time
# cannot be had from outside: wine64 starts a 32-bit program, and regedit,
# as processes that are not its children.)
timed() {
  clear_tree
  before=$(server_ticks)
  start=$(now)
  import "$1" "$work/full"
  end=$(now)
  after=$(server_ticks)
  check_full "$1"
  t=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }')
  c=$(awk -v b="$before" -v a="$after" -v hz="$ticks" 'BEGIN { printf "%.2f", (a - b) / hz }')
  echo "$t" >>"$work/$1.runs"
  echo "$c" >>"$work/$1.cpu"
  printf '%s %s' "$t" "$c"
}

echo "== $pairs pairs (and one not counted), the order turning each pair"
: >"$work/ratios"
: >"$work/cpu_ratios"
i=0
while [ $i -le "$pairs" ]; do
  if [ $((i % 2)) = 0 ]; then
    a=$(timed exe)
    b=$(timed regedit)
  else
    b=$(timed regedit)
    a=$(timed exe)
  fi
  # shellcheck disable=SC2086
  set -- $a $b
  if [ $i = 0 ]; then
    rm -f "$work"/*.runs "$work"/*.cpu
    echo "  warm-up: register-brevlin.exe $1 s, regedit $3 s"
  else
    r=$(awk -v a="$1" -v b="$3" 'BEGIN { printf "%.3f", a / b }')
    rc=$(awk -v a="$2" -v b="$4" 'BEGIN { printf "%.3f", a / b }')
    echo "$r" >>"$work/ratios"
    echo "$rc" >>"$work/cpu_ratios"
    echo "  pair $i: register-brevlin.exe $1 s (server CPU $2 s), regedit $3 s (server CPU $4 s), ratio $r (server CPU $rc)"
  fi
  i=$((i + 1))
done

echo "== Registry calls per key"
# calls SIDE N: the calls into advapi32's registry functions (Reg...) in a
# relay trace of the import of N keys.
calls() {
  clear_tree
  (
    export WINEDEBUG=+relay
    import "$1" "$work/k$2" 2>&1 >/dev/null | grep -cE 'Call (advapi32|KERNELBASE)\.Reg[A-Za-z]+\('
  )
}
per_key() {
  few=$(calls "$1" 100)
  more=$(calls "$1" 300)
  awk -v a="$few" -v b="$more" 'BEGIN { printf "%.2f", (b - a) / 200 }'
}
exe_calls=$(per_key exe)
regedit_calls=$(per_key regedit)
# The program's own count of the calls that reached advapi32, over the full
# workload (the start and the end of the import included).
clear_tree
(
  export BREVLIN_CALL_STATS=1
  import exe "$work/full" 2>"$work/stats"
)
own=$(sed -n 's/^registry calls: \([0-9]*\).*/\1/p' "$work/stats")
own_detail=$(sed -n 's/^registry calls: [0-9]* (\(.*\))/\1/p' "$work/stats")
own_per_key=$(awk -v n="${own:-0}" 'BEGIN { printf "%.4f", n / 10000 }')

median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
echo
echo "register-brevlin.exe ($bits-bit) against regedit /s (64-bit) under Wine $("$WINE64" --version 2>/dev/null) ($(date -u '+%Y-%m-%d %H:%M UTC'))"
echo "Machine: $(nproc) CPUs, ${cpu:-unknown CPU}, load average $(cut -d ' ' -f 1-3 /proc/loadavg)${cpus:+; runs held to CPUs $BREVLIN_BENCH_CPUS}; ${DISPLAY:+display $DISPLAY}${DISPLAY:-no display}"
echo "Workload: 10,000 keys x 10 values, $(wc -c <"$work/full.cfg") bytes as a configuration file, $(wc -c <"$work/full.reg") as REGEDIT4"
echo "Medians of $pairs pairs; server CPU is the Wine server's user and system time during the run."
printf '  register-brevlin.exe   median %.3f s, server CPU %.2f s\n' "$(median <"$work/exe.runs")" \
  "$(median <"$work/exe.cpu")"
printf '  regedit /s             median %.3f s, server CPU %.2f s\n' "$(median <"$work/regedit.runs")" \
  "$(median <"$work/regedit.cpu")"
printf '  paired ratio register-brevlin.exe / regedit: median %.3f (pairs: %s)\n' \
  "$(median <"$work/ratios")" "$(tr '\n' ' ' <"$work/ratios" | sed 's/ $//')"
printf '  paired ratio of server CPU time:             median %.3f (pairs: %s)\n' \
  "$(median <"$work/cpu_ratios")" "$(tr '\n' ' ' <"$work/cpu_ratios" | sed 's/ $//')"
echo "Registry calls per key (advapi32 Reg... calls in a relay trace, 300 keys less 100 keys):"
echo "  register-brevlin.exe   $exe_calls   (its own count over the full workload: $own_per_key per key; $own_detail)"
echo "  regedit /s             $regedit_calls"
