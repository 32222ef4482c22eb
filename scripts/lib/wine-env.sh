# Sourced by the scripts that run Windows programs under wine64: where Wine's
# programs are, the environment every run gets, and how its server stops.
# The caller sets WINEPREFIX and WINEDEBUG.

WINE64=/usr/lib/wine/wine64
[ -x "$WINE64" ] || WINE64=$(command -v wine64 || echo wine64)
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver || echo wineserver)
# No Mono or Gecko: nothing here needs them, and looking for them is slow.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Stops the server of $WINEPREFIX and waits until it has gone.
stop_wineserver() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
}

# Puts Wine's own TrueType fonts (Debian's fonts-wine) into the Fonts folder
# of $WINEPREFIX after wineboot. Debian's Wine does not find them where the
# package installs them, and without Marlett a window's close button is drawn
# as the letter "r" and dialog text falls back to a bitmap font.
install_wine_fonts() {
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
}
