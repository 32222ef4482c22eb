#!/bin/sh
# Runs a 64-bit Windows program under wine64 in a throwaway Wine prefix and
# answers the program's exit code. The prefix is removed afterwards. Without a
# display, the program gets a virtual one (Xvfb).
set -u

. "$(dirname "$0")/../../scripts/lib/wine-env.sh"

prefix=$(mktemp -d "${TMPDIR:-/tmp}/brevlin-wine.XXXXXX")
export WINEPREFIX="$prefix"
export WINEDEBUG=${WINEDEBUG:--all}

# Windows programs need a display for their windows and message boxes: give
# them a virtual one unless one is set.
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
  xvfb-run -a -s "-screen 0 1024x768x24" "$WINE64" "$@"
else
  "$WINE64" "$@"
fi
status=$?
stop_wineserver
rm -rf "$prefix"
exit $status
