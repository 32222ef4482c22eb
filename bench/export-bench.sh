#!/bin/sh
# Streaming export and query against the sqlite3 command reading the same
# rows: for stores of each size, the median time and the peak resident
# memory of
#   regstore export 'HKCU\Software\Bench' - >/dev/null
#   regstore query 'HKCU\Software\Bench' /s >/dev/null
#   sqlite3 STORE "SELECT key name, value name, type, hex(data) ..." >/dev/null
# and of `regstore query` of one key that holds 100,000 values. It ends with
# one line per goal: export within 2x of sqlite3, peak memory under 32 MB.
#
# Usage: bench/export-bench.sh BUILD_DIR [RUNS [VALUES...]]
#   BUILD_DIR   holds regstore (a Release build, say out/release)
#   RUNS        timed runs of each command (default 3)
#   VALUES      store sizes in values, 10 a key (default 1000000 10000000)
# The stores are made in a temporary folder (about 60 bytes a value) and
# removed at the end.
set -eu

build=$(cd "$1" && pwd)
runs=${2:-3}
shift $(($# < 2 ? $# : 2))
sizes=${*:-1000000 10000000}
regstore=$build/regstore
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/brevlin-export-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# measure NAME COMMAND...: the median seconds and the largest peak memory
# (MB) of RUNS runs, as "NAME SECONDS MB".
measure() {
  name=$1
  shift
  : >"$work/times"
  i=0
  while [ $i -lt "$runs" ]; do
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
      { echo "$name failed: $(cat "$work/err")" >&2; exit 1; }
    cat "$work/time" >>"$work/times"
    i=$((i + 1))
  done
  sort -n "$work/times" | awk -v name="$name" '
    { t[NR] = $1; if ($2 > m) m = $2 }
    END { printf "%s %.3f %.1f\n", name, t[int((NR + 1) / 2)], m / 1024 }'
}

floor_sql="SELECT k.name, v.name, v.type, hex(v.data) FROM vals v JOIN keys k ON k.id = v.key"
printf '%-28s %10s %10s %8s\n' "" "seconds" "peak MB" "ratio"
: >"$work/goals"
for n in $sizes; do
  store="$work/store-$n.db"
  "$here/make-store.sh" "$regstore" "$store" $((n / 10)) 10 100000
  export REGSTORE="$store"
  floor=$(measure "sqlite3" sqlite3 "$store" "$floor_sql")
  ex=$(measure "export" "$regstore" export 'HKEY_CURRENT_USER\Software\Bench' -)
  query=$(measure "query /s" "$regstore" query 'HKEY_CURRENT_USER\Software\Bench' /s)
  big=$(measure "query of 100,000 values" "$regstore" query 'HKEY_CURRENT_USER\Software\Bench\Big')
  floor_s=$(echo "$floor" | cut -d ' ' -f 2)
  for line in "$floor" "$ex" "$query" "$big"; do
    echo "$line" | awk -v n="$n" -v f="$floor_s" '{
      label = $1; for (i = 2; i <= NF - 2; i++) label = label " " $i
      printf "%-28s %10s %10s %8.2f\n", label " (" n ")", $(NF - 1), $NF, $(NF - 1) / f }'
  done
  echo "$ex" | awk -v n="$n" -v f="$floor_s" '{ r = $2 / f
    printf "goal: export of %d values within 2x of sqlite3: %.2fx %s\n", n, r, r <= 2 ? "holds" : "FAILS" }' >>"$work/goals"
  for line in "$ex" "$query" "$big"; do
    echo "$line" | awk -v n="$n" '{ label = $1; for (i = 2; i <= NF - 2; i++) label = label " " $i
      printf "goal: peak memory of %s (%d values) under 32 MB: %s MB %s\n", label, n, $NF, $NF < 32 ? "holds" : "FAILS" }' >>"$work/goals"
  done
  rm -f "$store" "$store-wal" "$store-shm"
done
cat "$work/goals"
