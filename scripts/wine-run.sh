#!/bin/sh
# Runs a 64-bit Windows program under wine64 in a throwaway Wine prefix and
# answers the program's exit code. The prefix is removed afterwards. Without a
# display, the program gets a virtual one (Xvfb).
set -u

WINE64=/usr/lib/wine/wine64
[ -x "$WINE64" ] || WINE64=$(command -v wine64 || echo wine64)
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver || echo wineserver)

prefix=$(mktemp -d "${TMPDIR:-/tmp}/brevlin-wine.XXXXXX")
export WINEPREFIX="$prefix"
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: nothing here needs them, and looking for them is slow.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Windows programs need a display for their windows and message boxes: give
# them a virtual one unless one is set.
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
  xvfb-run -a -s "-screen 0 1024x768x24" "$WINE64" "$@"
else
  "$WINE64" "$@"
fi
status=$?
"$WINESERVER" -k >/dev/null 2>&1
"$WINESERVER" -w >/dev/null 2>&1
rm -rf "$prefix"
exit $status
