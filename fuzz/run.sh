#!/bin/sh
# Runs one libFuzzer target for a fixed time, starting from the seed corpus
# in the repository (which stays untouched: new inputs go to a scratch copy).
# Usage: fuzz/run.sh FUZZER SEED_DIR SECONDS [ARTIFACT_DIR]
set -eu
fuzzer=$1
seeds=$2
seconds=$3
artifacts=${4:-$(pwd)/fuzz-artifacts}

work=$(mktemp -d "${TMPDIR:-/tmp}/brevlin-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$artifacts"
if [ -d "$seeds" ]; then cp -R "$seeds/." "$work/corpus/"; fi

# Inputs that once failed are kept beside the seeds as regression cases; they
# run first.
"$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -timeout=30 -rss_limit_mb=2048 \
  -artifact_prefix="$artifacts/$(basename "$fuzzer")-" "$work/corpus" 2>"$work/log" || {
  status=$?
  tail -60 "$work/log"
  exit $status
}
grep -E '^(Done|stat::number_of_executed_units)' "$work/log"
