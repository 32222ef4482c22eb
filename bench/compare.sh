#!/bin/sh
# Compares Register Brevlin with what one would use instead, on this machine,
# and prints a table of medians and ratios:
#
#   1. host import: register-brevlin into a fresh registry store, beside plain
#      SQLite inserting the same rows (one transaction per key, and one for
#      all) and beside Wine's registry editor importing the same content;
#   2. the Windows build under Wine: wine64 register-brevlin.exe beside
#      wine64 regedit /s, each into a fresh Wine prefix whose server runs;
#   3. start-up: register-brevlin without arguments beside /bin/true;
#   4. peak resident memory for a small and a ten times larger file.
#
# Usage: bench/compare.sh [RUNS]     (RUNS timed runs of each import, default 5)
#
# It installs what is missing (scripts/install-deps.sh), builds the host
# programs in out/host and the 64-bit Windows program in out/win64, and works
# in a temporary folder that it removes at the end. It takes a few minutes.
set -eu

if [ -z "${DISPLAY:-}" ] && [ -z "${BREVLIN_COMPARE_DISPLAY:-}" ]; then
  # The Windows program needs a display for its hidden window; regedit gets
  # the same.
  cd "$(dirname "$0")/.."
  scripts/install-deps.sh
  BREVLIN_COMPARE_DISPLAY=1 exec scripts/lib/with-xvfb.sh "$(pwd)/bench/compare.sh" "$@"
fi

cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-5}
load_before=$(cut -d ' ' -f 1-3 /proc/loadavg)
scripts/install-deps.sh

. scripts/lib/wine-env.sh

echo "== Building"
build() {
  dir=$1
  shift
  [ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja -DBREVLIN_WERROR=ON "$@" >/dev/null
}
build out/host -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build out/host --target register-brevlin store_floor_bench >/dev/null
build out/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
cmake --build out/win64 --target register-brevlin >/dev/null
brevlin=$root/out/host/register-brevlin
floor=$root/out/host/store_floor_bench
brevlin_exe=$root/out/win64/register-brevlin.exe

work=$(mktemp -d "${TMPDIR:-/tmp}/brevlin-compare.XXXXXX")
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
cleanup() {
  stop_wineserver
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

echo "== Workloads"
awk -v keys=10000 -v parents=300 -v cfg="$work/small.cfg" -v reg="$work/small.reg" \
  -f bench/workload.awk
awk -v keys=100000 -v parents=300 -v cfg="$work/large.cfg" -v reg="" -f bench/workload.awk
# The Windows name of a file here.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

echo "== Wine prefix (made once, copied fresh for every run)"
WINEPREFIX="$work/template" "$WINE64" wineboot -i >/dev/null 2>&1
WINEPREFIX="$work/template" "$WINESERVER" -w
# Run before every Wine run: a fresh prefix, its server started and the
# prefix's programs up, so that none of this is timed.
cat >"$work/fresh-prefix.sh" <<EOF
"$WINESERVER" -k >/dev/null 2>&1
"$WINESERVER" -w >/dev/null 2>&1
rm -rf "$WINEPREFIX"
cp -a "$work/template" "$WINEPREFIX"
"$WINESERVER" -p
"$WINE64" wineboot >/dev/null 2>&1
EOF

# run_once NAME PREPARE COMMAND: runs COMMAND once with hyperfine, after
# PREPARE (both without a shell), and adds its wall time and CPU time (user
# and system) in seconds to $work/NAME.runs.
run_once() {
  hyperfine -N --style none --runs 1 --prepare "$2" --export-csv "$work/once.csv" "$3" \
    >"$work/once.log" 2>&1 || {
    cat "$work/once.log"
    echo "compare.sh: $1 failed"
    exit 1
  }
  # CSV: command, mean, stddev, median, user, system, min, max.
  awk -F, 'NR == 2 { print $2, $5 + $6 }' "$work/once.csv" >>"$work/$1.runs"
}
# keep_median NAME: keeps the median wall time and the median CPU time of
# NAME's runs as NAME in $work/medians.
keep_median() {
  median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
  wall=$(cut -d ' ' -f 1 "$work/$1.runs" | median)
  cpu=$(cut -d ' ' -f 2 "$work/$1.runs" | median)
  echo "$1 $wall $cpu" >>"$work/medians"
  printf '  %-22s median %.4f s, CPU %.4f s\n' "$1" "$wall" "$cpu"
}

# check_count DB EXPECTED WHAT: the store holds EXPECTED values.
check_count() {
  got=$(sqlite3 "$1" "SELECT count(*) FROM vals")
  [ "$got" = "$2" ] || {
    echo "compare.sh: $3 left $got values instead of $2"
    exit 1
  }
}

: >"$work/medians"
store=$work/store.db
# The sides of a comparison take turns, one run each, so that a change in
# the machine's load while the script runs affects them alike.
echo "== 1. Host import, $runs runs each, in turns"
export REGSTORE="$store"
remove_store="rm -f $store $store-wal $store-shm"
host_round() {
  run_once brevlin "$remove_store" "$brevlin /IC $work/small.cfg"
  check_count "$store" 100000 "register-brevlin"
  run_once floor_per_key "$remove_store" "$floor per-key $work/small.cfg $store"
  check_count "$store" 100000 "the per-key floor"
  run_once floor_single "$remove_store" "$floor single $work/small.cfg $store"
  check_count "$store" 100000 "the single-transaction floor"
}
host_round # a warm-up round, not counted
rm -f "$work"/*.runs
i=0
while [ $i -lt "$runs" ]; do
  host_round
  i=$((i + 1))
done
for name in brevlin floor_per_key floor_single; do keep_median $name; done

echo "== 2. Under Wine, fresh prefix with its server running, $runs runs each, in turns"
key='HKCU\Software\Mardovan\BrevlinBench\Group099\Key009999'
check_wine() {
  got=$("$WINE64" reg query "$key" 2>/dev/null | grep -c REG_ || true)
  [ "$got" = 10 ] || {
    echo "compare.sh: $1 did not import the file ($got values in the last key)"
    exit 1
  }
}
# wine_round SUFFIX PREFIX: one run of each program, every command started by
# PREFIX (empty, or taskset to keep the server and the program on one CPU).
wine_round() {
  run_once "wine_brevlin$1" "$2 sh $work/fresh-prefix.sh" \
    "$2 $WINE64 $brevlin_exe /IC '$(winpath "$work/small.cfg")'"
  check_wine "wine64 register-brevlin.exe"
  run_once "wine_regedit$1" "$2 sh $work/fresh-prefix.sh" \
    "$2 $WINE64 regedit /s '$(winpath "$work/small.reg")'"
  check_wine "wine64 regedit"
}
# Each registry call is a round trip to the Wine server. On an idle machine
# the two processes tend to run on different CPUs, and every round trip
# then waits for a CPU to wake up; the same runs on one CPU show what the
# programs themselves cost.
i=0
while [ $i -lt "$runs" ]; do
  wine_round "" ""
  wine_round _one_cpu "taskset -c 0"
  i=$((i + 1))
done
for name in wine_brevlin wine_regedit wine_brevlin_one_cpu wine_regedit_one_cpu; do
  keep_median $name
done
stop_wineserver

echo "== 3. Start-up without arguments, 300 runs each"
startup() {
  # Without arguments the program ends with a usage error (exit status 2).
  hyperfine -N -i --style basic --warmup 30 --runs 300 --export-csv "$work/$1.csv" "$2" \
    >"$work/$1.log" 2>&1
  echo "$1 $(awk -F, 'NR == 2 { print $4 }' "$work/$1.csv")" >>"$work/medians"
}
startup start_brevlin "$brevlin"
startup start_true /bin/true

echo "== 4. Peak resident memory, 3 runs each"
peak_kib() {
  for _ in 1 2 3; do
    eval "$remove_store"
    /usr/bin/time -f %M "$brevlin" /IC "$1" 2>&1 >/dev/null | tail -n 1
  done | sort -n | sed -n 2p
}
echo "rss_small $(peak_kib "$work/small.cfg")" >>"$work/medians"
echo "rss_large $(peak_kib "$work/large.cfg")" >>"$work/medians"
check_count "$store" 1000000 "register-brevlin with the large file"

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
echo
echo "Register Brevlin against the alternatives ($(date -u '+%Y-%m-%d %H:%M UTC'))"
echo "Machine: $(nproc) CPUs, ${cpu:-unknown CPU}; load average before the run: $load_before"
echo "Workload: 10,000 keys x 10 values (4 strings, 3 integers, 3 x 12 bytes) below 300 parents;"
echo "          $(wc -c <"$work/small.cfg") bytes as a configuration file, $(wc -c <"$work/small.reg") as REGEDIT4."
echo "Medians of $runs runs, the sides of each comparison in turns (start-up: 300 runs; memory: 3 runs)."
echo "CPU: user + system time of the process (under Wine most of the work is in wineserver, not counted)."
awk -v m="$work/medians" '
  BEGIN {
    while ((getline line < m) > 0) { split(line, f, " "); v[f[1]] = f[2]; c[f[1]] = f[3] }
    b = v["brevlin"]; a = v["floor_per_key"]; s = v["floor_single"]
    wb = v["wine_brevlin"]; wr = v["wine_regedit"]
    printf "\n| %-46s | %-10s | %-8s | %-37s |\n", "Measurement", "Median", "CPU", "Ratio"
    printf "|%s|%s|%s|%s|\n", dashes(48), dashes(12), dashes(10), dashes(39)
    row("1. register-brevlin, host, fresh store", b, "s", c["brevlin"], "")
    row("   SQLite (a): one transaction per key", a, "s", c["floor_per_key"], \
        sprintf("register-brevlin / (a) = %.2f", b / a))
    row("   SQLite (b): one transaction for all", s, "s", c["floor_single"], \
        sprintf("register-brevlin / (b) = %.2f", b / s))
    row("   wine64 regedit /s, server running", wr, "s", "", \
        sprintf("regedit / register-brevlin = %.2f", wr / b))
    row("2. wine64 register-brevlin.exe, fresh prefix", wb, "s", "", "")
    row("   wine64 regedit /s, fresh prefix", wr, "s", "", \
        sprintf("register-brevlin.exe / regedit = %.2f", wb / wr))
    ob = v["wine_brevlin_one_cpu"]; orr = v["wine_regedit_one_cpu"]
    row("   the same on one CPU: register-brevlin.exe", ob, "s", "", "")
    row("   the same on one CPU: regedit /s", orr, "s", "", \
        sprintf("register-brevlin.exe / regedit = %.2f", ob / orr))
    row("3. register-brevlin, no arguments", v["start_brevlin"] * 1000, "ms", "", "")
    row("   /bin/true", v["start_true"] * 1000, "ms", "", \
        sprintf("difference %.2f ms", (v["start_brevlin"] - v["start_true"]) * 1000))
    row("4. peak RSS, 10,000 keys x 10 values", v["rss_small"] / 1024, "MiB", "", "")
    row("   peak RSS, 100,000 keys x 10 values", v["rss_large"] / 1024, "MiB", "", \
        sprintf("large / small = %.3f", v["rss_large"] / v["rss_small"]))
  }
  function dashes(n,   d) { d = ""; while (n-- > 0) d = d "-"; return d }
  function row(name, value, unit, cpu, ratio) {
    printf "| %-46s | %6s %-3s | %-8s | %-37s |\n", name, \
      sprintf(unit == "s" ? "%.3f" : "%.2f", value), unit, (cpu == "" ? "" : sprintf("%.3f s", cpu)), ratio
  }'
