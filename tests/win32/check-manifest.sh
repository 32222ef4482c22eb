#!/bin/sh
# Checks that a Windows program carries its application manifest as the
# process's own (resource type 24, id 1) with administrator rights, DPI
# awareness, common controls version 6 and Windows Vista to 10 declared, and
# a version resource with the title.
set -eu
exe=$1
# Each windres reads the executables of its own architecture only.
rc=$(i686-w64-mingw32-windres -i "$exe" -O rc 2>/dev/null ||
  x86_64-w64-mingw32-windres -i "$exe" -O rc 2>/dev/null) ||
  { echo "$exe: resources cannot be read"; exit 1; }

fail=0
need() {
  if ! printf '%s\n' "$rc" | grep -q -- "$1"; then
    echo "$exe: $2"
    fail=1
  fi
}
need '^1 24 ' "no manifest of type 24 with id 1"
need 'requestedExecutionLevel level=""requireAdministrator""' "does not require administrator rights"
need '<dpiAware[^>]*>true</dpiAware>' "not declared DPI-aware"
need 'name=""Microsoft.Windows.Common-Controls"" version=""6.0.0.0""' "no common controls 6"
for os in e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
  4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 \
  8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
  need "supportedOS Id=\"\"{$os}\"\"" "Windows version $os not declared"
done
need 'VALUE "ProductName", "Register Brevlin"' "no version resource with the title"
[ $fail = 0 ] && echo "$exe: manifest and version resource in place"
exit $fail
