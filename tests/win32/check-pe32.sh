#!/bin/sh
# Checks that a file is a 32-bit Windows executable of the GUI subsystem that
# needs no runtime DLL beyond those every Windows has.
set -eu
exe=$1
format=$(objdump -f "$exe" | sed -n 's/.*file format //p')
[ "$format" = "pei-i386" ] || { echo "$exe: format $format, not pei-i386 (PE32)"; exit 1; }
i686-w64-mingw32-objdump -p "$exe" | grep -q 'Subsystem.*(Windows GUI)' ||
  { echo "$exe: not a GUI-subsystem program"; exit 1; }
dlls=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll in $dlls; do
  case $dll in
    kernel32.dll|user32.dll|advapi32.dll|msvcrt.dll|gdi32.dll|comctl32.dll) ;;
    *) echo "$exe: needs $dll, which is not part of Windows"; exit 1 ;;
  esac
done
echo "$exe: PE32, Windows GUI, imports: $(echo $dlls)"
