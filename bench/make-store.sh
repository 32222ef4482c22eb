#!/bin/sh
# Makes a registry store of KEYS keys with VALUES values each, below
# HKEY_CURRENT_USER\Software\Bench (keys Key0000000, ...). Of every three
# values one is REG_SZ text, one REG_DWORD, one 16 bytes of REG_BINARY. With
# BIGKEY (a number), the key Software\Bench\Big gets that many REG_DWORD
# values too. The keys and values are written as a REGEDIT4 file and
# imported with `regstore import`, so the store is made by the program
# itself, with its own schema and name collation (about a minute for
# 10,000,000 values).
#
# Usage: bench/make-store.sh REGSTORE_PROGRAM STORE KEYS VALUES [BIGKEY]
set -eu

regstore=$1 store=$2 keys=$3 values=$4 big=${5:-0}
rm -f "$store" "$store-wal" "$store-shm"
reg=$store.reg
trap 'rm -f "$reg"' EXIT

awk -v keys="$keys" -v values="$values" -v big="$big" 'BEGIN {
  printf "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Bench\\Big]\r\n"
  for (i = 0; i < big; i++)
    printf "\"Value%d\"=dword:%08x\r\n", i, (i * 7919) % 4294967296
  for (k = 0; k < keys; k++) {
    printf "\r\n[HKEY_CURRENT_USER\\Software\\Bench\\Key%07d]\r\n", k
    for (v = 0; v < values; v++) {
      if (v % 3 == 0) {
        printf "\"Value%d\"=\"Text %d of Key%07d\"\r\n", v, v, k
      } else if (v % 3 == 1) {
        printf "\"Value%d\"=dword:%08x\r\n", v, (k * 31 + v) % 4294967296
      } else {
        printf "\"Value%d\"=hex:", v
        for (j = 0; j < 16; j++)
          printf "%02x%s", (k * 7 + v * 13 + j * 29) % 256, j < 15 ? "," : "\r\n"
      }
    }
  }
}' >"$reg"
REGSTORE=$store "$regstore" import "$reg" >/dev/null
