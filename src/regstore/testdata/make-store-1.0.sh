#!/bin/sh
# Makes store-1.0.db, a registry store written by the 1.0 programs: run it
# from a build of version 1.0 (commit f33aff4) as
#   src/regstore/testdata/make-store-1.0.sh out/host src/regstore/testdata/store-1.0.db
# The store holds keys and values in mixed letter case, names with accented
# letters that are one name only under the registry's code page 1252 fold
# (é/É, š/Š, ÿ/Ÿ), values of every type, a protected key and a locked key.
# The configuration file is 8-bit text in code page 1252.
set -eu
bin=$1
out=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -f "$out" "$out-wal" "$out-shm"
export REGSTORE="$out"

printf '%s\r\n' \
  '<[Brevlin]>' \
  '<HKEY_CURRENT_USER>' \
  '[Software\Mardovan\Brevlin\Fixture]' \
  'string	Title	Mixed Case Title' \
  'integer	Count	1,024' \
  'binary	Bytes	0A,FF,10,' \
  'string		The unnamed value' \
  "$(printf '[Software\\Mardovan\\Brevlin\\Fixture\\Caf\351]')" \
  "$(printf 'string\tR\351sum\351\tcp1252 e acute')" \
  "$(printf 'integer\t\232koda\t7')" \
  "$(printf '[Software\\Mardovan\\Brevlin\\Fixture\\CAF\311\\Sub\377]')" \
  'string	Deep	below the same key' \
  '[Software\Mardovan\Brevlin\Fixture\Window]' \
  'integer	Left	120' \
  'integer	Offset	-40' \
  '<HKEY_LOCAL_MACHINE>' \
  '[SOFTWARE\Mardovan\Brevlin]' \
  'string	InstallDir	C:\Program Files\Brevlin' \
  >"$work/fixture.cfg"
"$bin/register-brevlin" /IC "$work/fixture.cfg"

r="$bin/regstore"
k='HKCU\Software\Mardovan\Brevlin\Fixture'
"$r" add "$k\\Types" /v Expand /t REG_EXPAND_SZ /d '%WINDIR%\system32' /f
"$r" add "$k\\Types" /v Multi /t REG_MULTI_SZ /d 'one\0two' /f
"$r" add "$k\\Types" /v Quad /t REG_QWORD /d 0x123456789ABCDEF0 /f
"$r" add "$k\\Types" /v Nothing /t REG_NONE /d '' /f
"$r" add "$k\\Types" /v Dword /t REG_DWORD /d 0xFFFFFFFF /f
"$r" add "$k\\Types" /ve /d 'unnamed in Types' /f
"$r" add "$k\\Protected\\Inner" /v Kept /d 'under protection' /f
"$r" add "$k\\Locked" /v Frozen /t REG_DWORD /d 5 /f
"$r" add 'HKLM\SOFTWARE\Mardovan\MiXeD\cAsE' /v VaLuE /d 'mixed' /f
"$r" protect "$k\\Protected"
"$r" lock "$k\\Locked"
# One file, without a write-ahead log beside it.
sqlite3 "$out" 'PRAGMA wal_checkpoint(TRUNCATE)' >/dev/null 2>&1 || true
