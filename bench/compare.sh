#!/bin/sh
# Compares Register Brevlin with what one would use instead, on this machine,
# in one run, and prints a table of figures beside their floor or peer:
#
#   1. host import: register-brevlin into a fresh registry store, beside plain
#      SQLite inserting the same rows (one transaction per key, and one for
#      all) and beside Wine's registry editor importing the same content;
#   2. the Windows build under Wine: wine64 register-brevlin.exe beside
#      wine64 regedit /s (bench/wine-compare.sh when it is there, else each
#      into a fresh Wine prefix whose server runs);
#   3. regstore export and regstore query /s of a store of 1 M values, beside
#      the sqlite3 command reading the same rows to /dev/null;
#   4. start-up: register-brevlin without arguments beside /bin/true;
#   5. time and peak resident memory at 10 k, 100 k, 1 M and 10 M values:
#      an import into an empty store, an import into a store that already
#      holds 1 M values, and an export of what the first import left, beside
#      sqlite3 reading the same rows and the one-transaction SQLite floor.
#
# It ends with one line per goal: the ratio and whether it holds. It also
# draws time and memory against size into docs/bench-scale.svg.
#
# Usage: bench/compare.sh [--quick] [RUNS]
#   RUNS   timed runs of each side of sections 1 to 3 (default 5)
#   --quick  skips 10 M values and the Wine section; 3 runs unless RUNS given
#
# It installs what is missing (scripts/install-deps.sh), builds Release
# programs in out/release and out/win64-release, and works in a temporary
# folder that it removes at the end. The default run takes 10 to 15 minutes
# on 2 CPUs and needs about 3 GB of disk; it is not part of the test command.
set -eu

cd "$(dirname "$0")/.."
root=$(pwd)
lib=scripts/lib
[ -f "$lib/wine-env.sh" ] || lib=scripts

quick=0
if [ "${1:-}" = --quick ]; then
  quick=1
  shift
fi
runs=${1:-$([ $quick = 1 ] && echo 3 || echo 5)}

if [ $quick = 0 ] && [ -z "${DISPLAY:-}" ] && [ -z "${BREVLIN_COMPARE_DISPLAY:-}" ]; then
  # The Windows program needs a display for its hidden window; regedit gets
  # the same.
  scripts/install-deps.sh
  BREVLIN_COMPARE_DISPLAY=1 exec "$lib/with-xvfb.sh" "$root/bench/compare.sh" "$@"
fi

load_before=$(cut -d ' ' -f 1-3 /proc/loadavg)
started=$(date +%s)
scripts/install-deps.sh

. "$lib/wine-env.sh"

echo "== Building (Release)"
build() {
  dir=$1
  shift
  [ -f "$dir/build.ninja" ] ||
    cmake -S . -B "$dir" -G Ninja -DBREVLIN_WERROR=ON -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
}
build out/release
cmake --build out/release --target register-brevlin regstore store_floor_bench >/dev/null
brevlin=$root/out/release/register-brevlin
regstore=$root/out/release/regstore
floor=$root/out/release/store_floor_bench
if [ $quick = 0 ]; then
  build out/win64-release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
  cmake --build out/win64-release --target register-brevlin >/dev/null
  brevlin_exe=$root/out/win64-release/register-brevlin.exe
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/brevlin-compare.XXXXXX")
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
cleanup() {
  [ $quick = 1 ] || stop_wineserver
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# workload KEYS TREE CFG [REG]: KEYS keys of 10 values below 300 parents.
workload() {
  awk -v keys="$1" -v parents=300 -v tree="$2" -v cfg="$3" -v reg="${4:-}" -f bench/workload.awk
}
echo "== Workloads"
workload 10000 BrevlinBench "$work/small.cfg" "$work/small.reg"
workload 100000 BrevlinBench "$work/large.cfg"
# The Windows name of a file here.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# run_once NAME PREPARE COMMAND: runs COMMAND once with hyperfine (output to
# /dev/null), after PREPARE (both without a shell), and adds its wall time
# and CPU time (user and system) in seconds to $work/NAME.runs.
run_once() {
  hyperfine -N --style none --runs 1 --prepare "$2" --export-csv "$work/once.csv" "$3" \
    >"$work/once.log" 2>&1 || {
    cat "$work/once.log"
    echo "compare.sh: $1 failed"
    exit 1
  }
  # CSV: command, mean, stddev, median, user, system, min, max; the command
  # may hold commas, so the fields are counted from the end.
  awk -F, 'NR == 2 { print $(NF - 6), $(NF - 3) + $(NF - 2) }' "$work/once.csv" >>"$work/$1.runs"
}
# keep_median NAME: keeps the median wall time and the median CPU time of
# NAME's runs as NAME in $work/medians.
median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
keep_median() {
  wall=$(cut -d ' ' -f 1 "$work/$1.runs" | median)
  cpu=$(cut -d ' ' -f 2 "$work/$1.runs" | median)
  echo "$1 $wall $cpu" >>"$work/medians"
  printf '  %-22s median %.4f s, CPU %.4f s\n' "$1" "$wall" "$cpu"
}
keep() { echo "$1 $2" >>"$work/medians"; }

# check_count DB EXPECTED WHAT: the store holds EXPECTED values.
check_count() {
  got=$(sqlite3 "$1" "SELECT count(*) FROM vals NOT INDEXED")
  [ "$got" = "$2" ] || {
    echo "compare.sh: $3 left $got values instead of $2"
    exit 1
  }
}

: >"$work/medians"
store=$work/store.db
export REGSTORE="$store"
remove_store="rm -f $store $store-wal $store-shm"
# The sides of a comparison take turns, one run each, so that a change in
# the machine's load while the script runs affects them alike.
echo "== 1. Host import of 100,000 values, $runs runs each, in turns"
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

if [ $quick = 0 ]; then
  echo "== 2. Under Wine"
  key='HKCU\Software\Mardovan\BrevlinBench\Group099\Key009999'
  if [ -x bench/wine-compare.sh ]; then
    # The paired comparison on one warm Wine server, with its own build of
    # the shipped program; its medians and paired ratio are taken from what
    # it prints.
    bench/wine-compare.sh "$runs" | tee "$work/wine-compare.out"
    sed -n 's/^ *register-brevlin\.exe *median \([0-9.]*\) s.*/wine_brevlin \1/p;
      s/^ *regedit \/s *median \([0-9.]*\) s.*/wine_regedit \1/p;
      s/^ *paired ratio register-brevlin\.exe \/ regedit: median \([0-9.]*\).*/wine_ratio \1/p' \
      "$work/wine-compare.out" >>"$work/medians"
  else
    echo "   fresh prefix with its server running, $runs runs each, in turns"
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
    check_wine() {
      got=$("$WINE64" reg query "$key" 2>/dev/null | grep -c REG_ || true)
      [ "$got" = 10 ] || {
        echo "compare.sh: $1 did not import the file ($got values in the last key)"
        exit 1
      }
    }
    # wine_round SUFFIX PREFIX: one run of each program, every command started
    # by PREFIX (empty, or taskset to keep the server and the program on one
    # CPU, where a round trip to the server does not wait for a CPU to wake).
    wine_round() {
      run_once "wine_brevlin$1" "$2 sh $work/fresh-prefix.sh" \
        "$2 $WINE64 $brevlin_exe /IC '$(winpath "$work/small.cfg")'"
      check_wine "wine64 register-brevlin.exe"
      run_once "wine_regedit$1" "$2 sh $work/fresh-prefix.sh" \
        "$2 $WINE64 regedit /s '$(winpath "$work/small.reg")'"
      check_wine "wine64 regedit"
    }
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
  fi
fi

# The rows that an export reads, read by the sqlite3 command: every key and
# every value, in the tables' order.
sqlite_rows="SELECT id, parent, name FROM keys NOT INDEXED; SELECT key, name, type, data FROM vals NOT INDEXED;"
bench_key='HKEY_CURRENT_USER\Software\Mardovan\BrevlinBench'

echo "== 3. Export and query /s of 1,000,000 values, $runs runs each, in turns"
eval "$remove_store"
"$brevlin" /IC "$work/large.cfg"
check_count "$store" 1000000 "register-brevlin with the large file"
cp "$store" "$work/base.db" # a store of 1 M values for section 5
i=0
while [ $i -lt "$runs" ]; do
  run_once export "true" "$regstore export HKEY_CURRENT_USER"
  run_once query "true" "$regstore query '$bench_key' /s"
  run_once sqlite3 "true" "sqlite3 -readonly $store '$sqlite_rows'"
  i=$((i + 1))
done
for name in export query sqlite3; do keep_median $name; done
[ "$("$regstore" export HKEY_CURRENT_USER | grep -c Bytes8)" = 100000 ] &&
  [ "$("$regstore" query "$bench_key" /s | grep -c Bytes8)" = 100000 ] || {
  echo "compare.sh: regstore export or query /s did not write every key"
  exit 1
}

echo "== 4. Start-up without arguments, 300 runs each"
startup() {
  # Without arguments the program ends with a usage error (exit status 2).
  hyperfine -N -i --style basic --warmup 30 --runs 300 --export-csv "$work/$1.csv" "$2" \
    >"$work/$1.log" 2>&1
  keep "$1" "$(awk -F, 'NR == 2 { print $4 }' "$work/$1.csv")"
}
startup start_brevlin "$brevlin"
startup start_true /bin/true

# measure NAME COMMAND...: runs COMMAND (output to /dev/null) and appends
# "NAME SECONDS KIB CPU" (wall time, peak resident memory, user and system
# time) to $work/scale.runs.
measure() {
  name=$1
  shift
  /usr/bin/time -o "$work/time.out" -f '%e %M %U %S' "$@" >/dev/null 2>"$work/measure.err" || {
    cat "$work/measure.err"
    echo "compare.sh: $name failed"
    exit 1
  }
  awk -v n="$name" 'END { print n, $1, $2, $3 + $4 }' "$work/time.out" >>"$work/scale.runs"
}
sizes="10000 100000 1000000 10000000"
[ $quick = 0 ] || sizes="10000 100000 1000000"
echo "== 5. Time and peak memory against size (values): $sizes"
: >"$work/scale"
for values in $sizes; do
  keys=$((values / 10))
  echo "   $values values"
  workload $keys BrevlinMore "$work/size.cfg"
  # Small sizes are noisy: the median of three runs. Large ones run once.
  tries=1
  [ $values -gt 100000 ] || tries=3
  : >"$work/scale.runs"
  t=0
  while [ $t -lt $tries ]; do
    cp "$work/base.db" "$store"
    rm -f "$store-wal" "$store-shm"
    measure more "$brevlin" /IC "$work/size.cfg"
    eval "$remove_store"
    measure empty "$brevlin" /IC "$work/size.cfg"
    measure export "$regstore" export HKEY_CURRENT_USER
    measure sqlite3 sqlite3 -readonly "$store" "$sqlite_rows"
    # The floor of the import: the same rows in one transaction (the file is
    # read whole first, so its memory is not comparable).
    rm -f "$work/floor.db" "$work/floor.db-wal" "$work/floor.db-shm"
    measure floor "$floor" single "$work/size.cfg" "$work/floor.db"
    rm -f "$work/floor.db" "$work/floor.db-wal" "$work/floor.db-shm"
    t=$((t + 1))
  done
  check_count "$store" $values "register-brevlin with $values values"
  line="$values"
  for name in empty more export sqlite3 floor; do
    s=$(awk -v n=$name '$1 == n { print $2 }' "$work/scale.runs" | median)
    kib=$(awk -v n=$name '$1 == n { print $3 }' "$work/scale.runs" | median)
    c=$(awk -v n=$name '$1 == n { print $4 }' "$work/scale.runs" | median)
    line="$line $s $kib $c"
  done
  echo "$line" >>"$work/scale"
  rm -f "$work/size.cfg"
done
eval "$remove_store"

finished=$(date +%s)
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
echo
echo "Register Brevlin against the alternatives ($(date -u '+%Y-%m-%d %H:%M UTC'), $(((finished - started + 30) / 60)) minutes)"
echo "Machine: $(nproc) CPUs, ${cpu:-unknown CPU}; load average at the start: $load_before"
echo "Sections 1-2: 10,000 keys x 10 values (4 strings, 3 integers, 3 x 12 bytes) below 300 parents;"
echo "          $(wc -c <"$work/small.cfg") bytes as a configuration file, $(wc -c <"$work/small.reg") as REGEDIT4."
echo "Section 3: a store of 100,000 such keys (1,000,000 values). Medians of $runs runs, the sides in turns"
echo "(start-up: 300 runs). CPU: user + system time of the process (under Wine most of the work is in"
echo "wineserver, which is not counted)."
awk -v m="$work/medians" -v quick=$quick '
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
    if (wr != "")
      row("   wine64 regedit /s, server running", wr, "s", "", \
          sprintf("register-brevlin / regedit = %.3f", b / wr))
    if (wb != "") {
      wratio = v["wine_ratio"] != "" ? v["wine_ratio"] : wb / wr
      row("2. wine64 register-brevlin.exe", wb, "s", "", "")
      row("   wine64 regedit /s", wr, "s", "", \
          sprintf("register-brevlin.exe / regedit = %.2f", wratio))
    }
    ob = v["wine_brevlin_one_cpu"]; orr = v["wine_regedit_one_cpu"]
    if (ob != "") {
      row("   the same on one CPU: register-brevlin.exe", ob, "s", "", "")
      row("   the same on one CPU: regedit /s", orr, "s", "", \
          sprintf("register-brevlin.exe / regedit = %.2f", ob / orr))
    }
    e = v["export"]; q = v["query"]; l = v["sqlite3"]
    row("3. regstore export HKEY_CURRENT_USER", e, "s", c["export"], \
        sprintf("export / sqlite3 = %.2f", e / l))
    row("   regstore query KEY /s", q, "s", c["query"], sprintf("query / sqlite3 = %.2f", q / l))
    row("   sqlite3, the same rows to /dev/null", l, "s", c["sqlite3"], "")
    row("4. register-brevlin, no arguments", v["start_brevlin"] * 1000, "ms", "", "")
    row("   /bin/true", v["start_true"] * 1000, "ms", "", \
        sprintf("difference %.2f ms", (v["start_brevlin"] - v["start_true"]) * 1000))
  }
  function dashes(n,   d) { d = ""; while (n-- > 0) d = d "-"; return d }
  function row(name, value, unit, cpu, ratio) {
    printf "| %-46s | %6s %-3s | %-8s | %-37s |\n", name, \
      sprintf(unit == "s" ? "%.3f" : "%.2f", value), unit, (cpu == "" ? "" : sprintf("%.3f s", cpu)), ratio
  }'

echo
echo "5. Time and peak resident memory against size (one run each; the median of three below 1 M values)."
echo "   Each cell: wall time, CPU time (user + system) per value, peak resident memory. \"into 1 M\": the same"
echo "   file imported into a store that already holds 1,000,000 values."
awk '
  BEGIN {
    printf "\n| %10s | %-29s | %-29s | %-29s | %-9s | %-14s |\n", "Values", "import, empty store", \
      "import, into 1 M", "regstore export", "sqlite3", "export/sqlite3"
    printf "|-----------:|-------------------------------|-------------------------------|"
    printf "-------------------------------|----------:|---------------:|\n"
  }
  {
    printf "| %10d | %s | %s | %s | %7.3f s | %14.2f |\n", $1, cell($2, $3, $4, $1), \
      cell($5, $6, $7, $1), cell($8, $9, $10, $1), $11, ($11 > 0 ? $8 / $11 : 0)
  }
  function cell(s, kib, cpu, n) {
    return sprintf("%7.2f s %5.2f us %6.1f MiB", s, cpu * 1e6 / n, kib / 1024)
  }
' "$work/scale"

# The plot: time (log-log) and peak memory against size, one line per
# measurement.
mkdir -p docs
awk -v when="$(date -u '+%Y-%m-%d')" -v machine="$(nproc) CPUs, ${cpu:-unknown CPU}" '
  { n[NR] = $1; for (i = 2; i <= 13; i++) d[NR, i] = $i; rows = NR }
  function lx(v) { return log(v) / log(10) }
  function px(v) { return 70 + (lx(v) - 4) / 3 * 300 }
  function ty(s) { if (s < 0.01) s = 0.01; return 240 - (lx(s) + 2) / 5 * 200 }
  function my(kib) { return 240 - kib / 1024 / top * 200 }
  function series(col, colour, label, k, scale, i, pts) {
    pts = ""
    for (i = 1; i <= rows; i++)
      pts = pts sprintf("%.1f,%.1f ", px(n[i]) + k, scale == "t" ? ty(d[i, col]) : my(d[i, col]))
    printf "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"2\" points=\"%s\"/>\n", colour, pts
    for (i = 1; i <= rows; i++)
      printf "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"%s\"/>\n", px(n[i]) + k, \
        scale == "t" ? ty(d[i, col]) : my(d[i, col]), colour
  }
  function axes(k, title, ylabels, i) {
    printf "<text x=\"%d\" y=\"28\" font-weight=\"bold\">%s</text>\n", 70 + k, title
    printf "<rect x=\"%d\" y=\"40\" width=\"300\" height=\"200\" fill=\"none\" stroke=\"#888\"/>\n", 70 + k
    for (i = 4; i <= 7; i++)
      printf "<text x=\"%.1f\" y=\"258\" text-anchor=\"middle\">10^%d</text>\n", px(10 ^ i) + k, i
    printf "<text x=\"%d\" y=\"280\" text-anchor=\"middle\">values</text>\n", 220 + k
  }
  END {
    # The memory scale: to 32 MiB at least, in steps of 16 MiB.
    top = 32
    for (i = 1; i <= rows; i++)
      for (c = 3; c <= 9; c += 3)
        while (d[i, c] / 1024 > top * 0.95) top += 16
    print "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"820\" height=\"340\" font-family=\"sans-serif\" font-size=\"12\">"
    print "<rect width=\"820\" height=\"340\" fill=\"white\"/>"
    axes(0, "Time (s, log scale)")
    for (e = -2; e <= 3; e++)
      printf "<text x=\"64\" y=\"%.1f\" text-anchor=\"end\">%s</text>\n", ty(10 ^ e) + 4, 10 ^ e
    axes(400, "Peak resident memory (MiB)")
    for (m = 0; m <= top; m += (top > 128 ? 64 : 16))
      printf "<text x=\"464\" y=\"%.1f\" text-anchor=\"end\">%d</text>\n", my(m * 1024) + 4, m
    printf "<line x1=\"470\" y1=\"%.1f\" x2=\"770\" y2=\"%.1f\" stroke=\"#c00\" stroke-dasharray=\"4 3\"/>\n", my(32768), my(32768)
    printf "<text x=\"766\" y=\"%.1f\" text-anchor=\"end\" fill=\"#c00\">32 MiB</text>\n", my(32768) - 4
    # A line of slope 1 through the first import: linear growth.
    printf "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#aaa\" stroke-dasharray=\"2 3\"/>\n", \
      px(n[1]), ty(d[1, 2]), px(n[rows]), ty(d[1, 2] * n[rows] / n[1])
    split("2 5 8 11", tc, " "); split("3 6 9", mc, " ")
    split("#1f77b4 #ff7f0e #2ca02c #7f7f7f", colour, " ")
    split("import, empty store|import, into 1 M values|regstore export|sqlite3, same rows", label, "|")
    for (i = 1; i <= 4; i++) series(tc[i], colour[i], label[i], 0, "t")
    for (i = 1; i <= 3; i++) series(mc[i], colour[i], label[i], 400, "m")
    for (i = 1; i <= 4; i++) {
      printf "<rect x=\"%d\" y=\"300\" width=\"12\" height=\"12\" fill=\"%s\"/>\n", 70 + (i - 1) * 180, colour[i]
      printf "<text x=\"%d\" y=\"310\">%s</text>\n", 86 + (i - 1) * 180, label[i]
    }
    printf "<text x=\"70\" y=\"332\" fill=\"#555\">bench/compare.sh, %s, %s; dotted: linear growth</text>\n", when, machine
    print "</svg>"
  }' "$work/scale" >docs/bench-scale.svg
echo
echo "Plot: docs/bench-scale.svg"

echo
echo "Goals:"
awk -v m="$work/medians" -v s="$work/scale" '
  BEGIN {
    while ((getline line < m) > 0) { split(line, f, " "); v[f[1]] = f[2] }
    while ((getline line < s) > 0) {
      split(line, f, " "); rss[f[1]] = f[9]
      # Per size: import wall time and CPU, export and sqlite3 wall times,
      # the floor wall time, and the highest peak memory of the programs.
      imp[f[1]] = f[2]; icpu[f[1]] = f[4]; exp_s[f[1]] = f[8]; sql_s[f[1]] = f[11]
      fl[f[1]] = f[14]
      for (i = 3; i <= 9; i += 3) if (f[i] > peak) { peak = f[i]; peak_at = f[1] }
    }
    goal("host import <= 1.5 x SQLite (b), one transaction", v["brevlin"] / v["floor_single"], 1.5, "x")
    goal("host import <= 1.0 x SQLite (a), one per key", v["brevlin"] / v["floor_per_key"], 1.0, "x")
    goal("regstore export <= 2 x sqlite3, same rows", v["export"] / v["sqlite3"], 2.0, "x")
    if (1000000 in rss)
      goal("export peak memory < 32 MiB at 1 M values", rss[1000000] / 1024, 32, " MiB", 1)
    if (10000000 in rss)
      goal("export peak memory < 32 MiB at 10 M values", rss[10000000] / 1024, 32, " MiB", 1)
    else
      print "  export peak memory < 32 MiB at 10 M values: not measured (--quick)"
    if (1000000 in fl && fl[1000000] > 0)
      goal("import <= 1.2 x SQLite one transaction, 1 M values", imp[1000000] / fl[1000000], 1.2, "x")
    if (10000000 in icpu && 100000 in icpu)
      goal("import CPU per value, 10 M <= 1.5 x 100 k", \
           (icpu[10000000] / 1e7) / (icpu[100000] / 1e5), 1.5, "x")
    else
      print "  import CPU per value, 10 M <= 1.5 x 100 k: not measured (--quick)"
    if (10000000 in exp_s)
      goal("regstore export <= 1.5 x sqlite3 at 10 M values", exp_s[10000000] / sql_s[10000000], 1.5, "x")
    else
      print "  regstore export <= 1.5 x sqlite3 at 10 M values: not measured (--quick)"
    goal("peak memory < 32 MiB, every import and export", peak / 1024, 32, " MiB", 1)
    if (v["wine_regedit"] != "")
      goal("Windows build <= 1.0 x regedit /s under Wine", \
           v["wine_ratio"] != "" ? v["wine_ratio"] : v["wine_brevlin"] / v["wine_regedit"], 1.0, "x")
    else
      print "  Windows build <= 1.0 x regedit /s under Wine: not measured (--quick)"
  }
  function goal(text, value, limit, unit, strict) {
    printf "  %-50s %8.2f%s  %s\n", text ":", value, unit, \
      (strict ? value < limit : value <= limit) ? "holds" : "does NOT hold"
  }'
