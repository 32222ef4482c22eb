#!/bin/sh
# Runs the differential test (run.py) on a virtual display of its own, with
# the Wine settings every Wine run here gets.
#
# Usage: tests/differential/run.sh --linux-build DIR --windows-build DIR
#            [--windows-program EXE] [--wine WINE] [--count N] [--first-seed S]
#            [--keep DIR]
# BREVLIN_DIFF_FILES and BREVLIN_DIFF_SEED set the count and the first seed
# when the options are not given (40 files from seed 1 by default).
# With `--prefer-32 DIR` first, the 32-bit program built in DIR is the
# Windows side when Wine can run it here; otherwise this says why in one line
# and the --windows-build given after it (the 64-bit build) stands in.
set -u
here=$(cd "$(dirname "$0")" && pwd)
scripts=$here/../../scripts
lib=$scripts/lib
. "$lib/wine-env.sh"
export WINE64 WINESERVER WINEDEBUG=-all
if [ "${1:-}" = --prefer-32 ]; then
  dir32=$2
  shift 2
  why=$(wine32_unavailable)
  if [ -z "$why" ] && [ -f "$dir32/register-brevlin.exe" ] && [ -f "$dir32/diff_runner.exe" ]; then
    echo "differential: the shipped 32-bit program ($dir32) under Wine's WoW64"
    set -- "$@" --windows-build "$dir32" --wine "$WINE32"
  else
    echo "differential: NOTE: the 32-bit program cannot run here (${why:-it is not built in $dir32}); the 64-bit build stands in"
  fi
fi
exec "$lib/with-xvfb.sh" python3 "$here/run.py" "$@"
