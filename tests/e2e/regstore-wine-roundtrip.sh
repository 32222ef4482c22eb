#!/bin/sh
# Registry files travel between Wine's registry tools and regstore unchanged.
#
# Values of every type are written with Wine's `reg add` into a fresh Wine
# prefix and exported both with `reg export` and with `regedit /e` (version 5
# files in UTF-16LE). regstore imports each file into a fresh store and
# exports it again, as a version 5 file (/5) and as REGEDIT4. Those files are
# imported into fresh prefixes with `reg import` and `regedit /s`, and the
# prefixes' own exports must equal the first prefix's, byte for byte. The
# REGEDIT4 way carries only the key whose names and texts are ASCII: Wine
# reads REGEDIT4 files in the Windows code page, the store holds UTF-8.
#
# Usage: tests/e2e/regstore-wine-roundtrip.sh BUILD_DIR
set -u

root=$(cd "$(dirname "$0")/../.." && pwd)
regstore=$(cd "$1" && pwd)/regstore
[ -x "$regstore" ] || { echo "no $regstore"; exit 1; }
. "$root/scripts/lib/wine-env.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/brevlin-roundtrip.XXXXXX")
export WINEDEBUG=-all
prefixes=""
cleanup() {
  for p in $prefixes; do
    WINEPREFIX=$p stop_wineserver
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

failures=0
fail() {
  printf 'FAIL %s\n' "$*"
  failures=$((failures + 1))
}

# new_prefix NAME: a fresh Wine prefix, made the current one.
new_prefix() {
  new_wine_prefix "$work/$1"
  prefixes="$prefixes $WINEPREFIX"
}

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

reg() { "$WINE64" reg "$@" >/dev/null 2>&1 || fail "reg $*"; }

ascii='HKEY_CURRENT_USER\Software\RoundTrip'
unicode='HKEY_CURRENT_USER\Software\RoundTripUnicode'

# --- The values, written by Wine's reg.exe. ---
new_prefix source
reg add "$ascii" /ve /d 'the unnamed value' /f
reg add "$ascii" /v Text /t REG_SZ /d 'C:\Program Files\"quoted" ; not a comment' /f
reg add "$ascii" /v Empty /t REG_SZ /d '' /f
reg add "$ascii" /v Expand /t REG_EXPAND_SZ /d '%SystemRoot%\system32' /f
reg add "$ascii" /v Multi /t REG_MULTI_SZ /d 'one\0two\0three' /f
reg add "$ascii" /v Dword /t REG_DWORD /d 0x12345678 /f
reg add "$ascii" /v DwordMax /t REG_DWORD /d 4294967295 /f
reg add "$ascii" /v Qword /t REG_QWORD /d 0x123456789abcdef0 /f
reg add "$ascii" /v Binary /t REG_BINARY /d 00ff10ab /f
reg add "$ascii" /v BinaryEmpty /t REG_BINARY /f
reg add "$ascii" /v None /t REG_NONE /d 'xy' /f
reg add "$ascii" /v 'Name with = and "quotes"' /d 'value' /f
reg add "$ascii\\Sub Key\\Deeper" /v Long /t REG_BINARY /d "$(i=0; while [ $i -lt 200 ]; do printf '%02x' $((i * 7 % 256)); i=$((i + 1)); done)" /f
reg add "$ascii\\Empty Key" /f
reg add "$unicode" /v 'Caf'"$(printf '\303\251')"' '"$(printf '\342\202\254')" \
  /d 'na'"$(printf '\303\257')"'ve '"$(printf '\342\230\203')" /f
reg add "$unicode" /v Multi /t REG_MULTI_SZ /d "$(printf '\316\261')"'\0'"$(printf '\316\262')" /f
reg add "$unicode" /v Expand /t REG_EXPAND_SZ /d "%$(printf '\303\204')%" /f

# dump NAME KEY: Wine's own export of KEY in the current prefix.
dump() {
  "$WINE64" reg export "$2" "$(winpath "$work/$1")" /y >/dev/null 2>&1 || fail "reg export $2 ($1)"
}

# --- Exported by Wine both ways. ---
for key in "$ascii" "$unicode"; do
  tag=${key##*\\}
  dump "$tag.source.reg" "$key"
  "$WINE64" regedit /e "$(winpath "$work/$tag.regedit.reg")" "$key" >/dev/null 2>&1 ||
    fail "regedit /e $key"
  for file in "$tag.source.reg" "$tag.regedit.reg"; do
    head -c 2 "$work/$file" | od -An -tx1 | grep -q 'ff fe' || fail "$file is not UTF-16LE with a byte order mark"
  done
done
stop_wineserver

# --- Through regstore and back into fresh prefixes. ---
for key in "$ascii" "$unicode"; do
  tag=${key##*\\}
  for made_by in source regedit; do
    case_name="$tag from $made_by"
    export REGSTORE="$work/$tag.$made_by.db"
    "$regstore" import "$work/$tag.$made_by.reg" >"$work/out.txt" 2>&1 ||
      { fail "$case_name: regstore import: $(cat "$work/out.txt")"; continue; }
    "$regstore" export "$key" "$work/$tag.$made_by.v5.reg" /5 >/dev/null ||
      fail "$case_name: regstore export /5"
    "$regstore" export "$key" "$work/$tag.$made_by.v4.reg" >/dev/null ||
      fail "$case_name: regstore export"

    new_prefix "$tag.$made_by.v5"
    reg import "$(winpath "$work/$tag.$made_by.v5.reg")"
    dump "$tag.$made_by.v5.back.reg" "$key"
    stop_wineserver
    cmp -s "$work/$tag.source.reg" "$work/$tag.$made_by.v5.back.reg" ||
      fail "$case_name: version 5 file from regstore, imported with reg import, differs"

    if [ "$tag" = RoundTrip ]; then
      new_prefix "$tag.$made_by.v4"
      "$WINE64" regedit /s "$(winpath "$work/$tag.$made_by.v4.reg")" >/dev/null 2>&1 ||
        fail "$case_name: regedit /s"
      dump "$tag.$made_by.v4.back.reg" "$key"
      stop_wineserver
      cmp -s "$work/$tag.source.reg" "$work/$tag.$made_by.v4.back.reg" ||
        fail "$case_name: REGEDIT4 file from regstore, imported with regedit /s, differs"
    fi
    echo "done $case_name"
  done
  # Both of Wine's files give the same store.
  REGSTORE="$work/$tag.source.db" "$regstore" export "$key" >"$work/a.txt"
  REGSTORE="$work/$tag.regedit.db" "$regstore" export "$key" >"$work/b.txt"
  cmp -s "$work/a.txt" "$work/b.txt" || fail "$tag: reg export and regedit /e files give different stores"
done

# What the store holds is what reg.exe wrote.
REGSTORE="$work/RoundTrip.source.db" "$regstore" query "$ascii" /v Dword >"$work/q.txt"
grep -q '    Dword    REG_DWORD    0x12345678' "$work/q.txt" || fail "Dword: $(cat "$work/q.txt")"
REGSTORE="$work/RoundTripUnicode.source.db" "$regstore" query "$unicode" /v Multi >"$work/q.txt"
grep -q "    Multi    REG_MULTI_SZ    $(printf '\316\261')\\\\0$(printf '\316\262')" "$work/q.txt" ||
  fail "Unicode Multi: $(cat "$work/q.txt")"

if [ $failures -gt 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "all round trips passed"
