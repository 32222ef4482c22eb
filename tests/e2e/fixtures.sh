# Configuration files for the end-to-end tests, sourced by run-host.sh and
# run-wine.sh. make_fixtures DIR writes them below DIR:
#   run/small.cfg, inst/small.cfg, inst/sub/small.cfg, my dir/my config.cfg:
#       each writes Software\Mardovan\E2E "Where" = run, inst, sub or spaces,
#       so that a test can tell which file was found;
#   brevlin.cfg: the example that ships with the program;
#   wrong.cfg: writes "Before", then names another product;
#   early.cfg: a value line before the first key line.
# example_export prints what the example leaves in the store, as
# `regstore export 'HKEY_CURRENT_USER\Software\Mardovan'` writes it, without
# the carriage returns. deb-test.sh sources this file for it too.

write_where() {
  printf '<[Brevlin]>\n[Software\\Mardovan\\E2E]\nstring\tWhere\t%s\n' "$2" >"$1"
}

make_fixtures() {
  dir=$1
  mkdir -p "$dir/run" "$dir/inst/sub" "$dir/my dir"
  write_where "$dir/run/small.cfg" run
  write_where "$dir/inst/small.cfg" inst
  write_where "$dir/inst/sub/small.cfg" sub
  write_where "$dir/my dir/my config.cfg" spaces
  cp "$(dirname "$0")/../../examples/brevlin.cfg" "$dir/brevlin.cfg"
  printf '<[Brevlin]>\r\n[Software\\Mardovan\\E2E]\r\nstring\tBefore\twritten\r\n<[Other]>\r\nstring\tAfter\tnever\r\n' \
    >"$dir/wrong.cfg"
  printf 'string\tEarly\tnever\n[Software\\Mardovan\\E2E]\nstring\tAfter\tnever\n' >"$dir/early.cfg"
}

example_export() {
  cat <<'END'
REGEDIT4

[HKEY_CURRENT_USER\Software\Mardovan]

[HKEY_CURRENT_USER\Software\Mardovan\Brevlin]

[HKEY_CURRENT_USER\Software\Mardovan\Brevlin\Example]
"Text"="Hello world"
"Count"=dword:00000400
"Bytes"=hex:0a,ff,10
@="The unnamed value of the key"

[HKEY_CURRENT_USER\Software\Mardovan\Brevlin\Example\Window]
"Left"=dword:00000078
"Top"=dword:00000050
"Offset"=dword:ffffffd8
"Mask"=dword:0000ff00
"Title"="Brevlin"
END
}
