#!/bin/sh
# Runs the differential test (run.py) on a virtual display of its own, with
# the Wine settings every Wine run here gets.
#
# Usage: tests/differential/run.sh --linux-build DIR --windows-build DIR
#            [--windows-program EXE] [--wine WINE] [--count N] [--first-seed S]
#            [--keep DIR]
# BREVLIN_DIFF_FILES and BREVLIN_DIFF_SEED set the count and the first seed
# when the options are not given (40 files from seed 1 by default).
set -u
here=$(cd "$(dirname "$0")" && pwd)
scripts=$here/../../scripts
if [ -f "$scripts/lib/wine-env.sh" ]; then lib=$scripts/lib; else lib=$scripts; fi
. "$lib/wine-env.sh"
export WINE64 WINESERVER WINEDEBUG=-all
exec "$lib/with-xvfb.sh" python3 "$here/run.py" "$@"
