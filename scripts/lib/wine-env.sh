# Sourced by the scripts that run Windows programs under wine64: where Wine's
# programs are, the environment every run gets, and how its server stops.
# The caller sets WINEPREFIX and WINEDEBUG.
#
# wine64 runs 32-bit programs too, in the same 64-bit prefix (WoW64): it
# hands them to the 32-bit loader of Debian's wine32:i386, when that is
# installed and the kernel runs 32-bit code.

WINE64=/usr/lib/wine/wine64
[ -x "$WINE64" ] || WINE64=$(command -v wine64 || echo wine64)
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver || echo wineserver)
# No Mono or Gecko: nothing here needs them, and looking for them is slow.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Stops the server of $WINEPREFIX and waits until it has gone.
stop_wineserver() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
}

# Makes a fresh Wine prefix at DIR the current one ($WINEPREFIX) and sets
# it up, waiting until Wine's first start there has finished.
new_wine_prefix() {
  export WINEPREFIX="$1"
  mkdir -p "$WINEPREFIX"
  "$WINE64" wineboot -i >/dev/null 2>&1
  "$WINESERVER" -w
}

# Makes a throwaway folder NAME.XXXXXX, sets `work` to it, and gives it a
# fresh Wine prefix, $work/prefix; at exit the prefix's server is stopped and
# the folder removed.
new_wine_work() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  export WINEDEBUG=-all
  trap 'stop_wineserver; rm -rf "$work"' EXIT
  trap 'exit 1' INT TERM
  new_wine_prefix "$work/prefix"
}

# Whether PROGRAM is a 32-bit Windows program (PE32, i386).
is_pe32() {
  # The PE header's offset is at 0x3C; the machine field follows "PE\0\0".
  pe=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j $((pe + 4)) -N 2 "$1" | tr -d ' ')
  [ "$machine" = 014c ]
}

# Says in one line why 32-bit Windows programs cannot run here; says nothing
# when they can.
wine32_unavailable() {
  if [ ! -x "$WINE32" ]; then
    echo "32-bit Wine is not installed (Debian's wine32:i386, which scripts/install-deps.sh could not install)"
  elif ! "$WINE32" --version >/dev/null 2>&1; then
    echo "this machine cannot run 32-bit programs (the 32-bit Wine loader does not start)"
  fi
}

# Puts Wine's own TrueType fonts (Debian's fonts-wine) into the Fonts folder
# of $WINEPREFIX after wineboot. Debian's Wine does not find them where the
# package installs them, and without Marlett a window's close button is drawn
# as the letter "r" and dialog text falls back to a bitmap font.
install_wine_fonts() {
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
}

# Takes the program a Wine test runs (register-brevlin.exe, or the build
# folder that holds it) and sets `exe` to its full path and `bits` to 32 or
# 64. Where a 32-bit program cannot run here, says why in one line and ends
# the script with 77, which the test command counts as skipped: the 64-bit
# build's run stands in for it.
wine_program_or_skip() {
  exe=$1
  [ -d "$exe" ] && exe=$exe/register-brevlin.exe
  [ -f "$exe" ] || { echo "no $exe"; exit 1; }
  exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
  bits=64
  if is_pe32 "$exe"; then
    bits=32
    why=$(wine32_unavailable)
    if [ -n "$why" ]; then
      echo "SKIPPED: the 32-bit program cannot run under Wine here: $why; the 64-bit build's run stands in for it"
      exit 77
    fi
  fi
}
