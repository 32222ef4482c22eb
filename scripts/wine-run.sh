#!/bin/sh
# Runs a 64-bit Windows program under wine64 in a throwaway Wine prefix and
# answers the program's exit code. The prefix is removed afterwards.
set -u

# Programs with windows need an X display under Wine; without one, the run
# gets a virtual display of its own.
if [ -z "${DISPLAY:-}" ]; then
  exec "$(dirname "$0")/with-xvfb.sh" "$0" "$@"
fi

WINE64=/usr/lib/wine/wine64
[ -x "$WINE64" ] || WINE64=$(command -v wine64 || echo wine64)
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver || echo wineserver)

prefix=$(mktemp -d "${TMPDIR:-/tmp}/brevlin-wine.XXXXXX")
export WINEPREFIX="$prefix"
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: nothing here needs them, and looking for them is slow.
export WINEDLLOVERRIDES="mscoree,mshtml="

"$WINE64" "$@"
status=$?
"$WINESERVER" -k >/dev/null 2>&1
"$WINESERVER" -w >/dev/null 2>&1
rm -rf "$prefix"
exit $status
