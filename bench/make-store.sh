#!/bin/sh
# Makes a registry store of KEYS keys with VALUES values each, below
# HKEY_CURRENT_USER\Software\Bench (keys Key0000000, ...), fast: the store and
# its schema are made by regstore, the rows by one SQL statement each. Of
# every three values one is REG_SZ text, one REG_DWORD, one 16 bytes of
# REG_BINARY. With BIGKEY (a number), the key Software\Bench\Big gets that
# many values too.
#
# Usage: bench/make-store.sh REGSTORE_PROGRAM STORE KEYS VALUES [BIGKEY]
set -eu

regstore=$1 store=$2 keys=$3 values=$4 big=${5:-0}
rm -f "$store" "$store-wal" "$store-shm"
REGSTORE=$store "$regstore" add 'HKEY_CURRENT_USER\Software\Bench\Big' >/dev/null

sqlite3 "$store" >/dev/null <<SQL
PRAGMA journal_mode=WAL;
PRAGMA synchronous=OFF;
BEGIN;
CREATE TEMP TABLE n(i INTEGER PRIMARY KEY);
WITH RECURSIVE c(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM c WHERE i < max($keys, $values, $big) - 1)
INSERT INTO n SELECT i FROM c;
INSERT INTO keys(parent, name)
  SELECT (SELECT id FROM keys WHERE name = 'Bench'), printf('Key%07d', i) FROM n WHERE i < $keys;
INSERT INTO vals(key, name, type, data)
  SELECT k.id, printf('Value%d', v.i),
         CASE v.i % 3 WHEN 0 THEN 1 WHEN 1 THEN 4 ELSE 3 END,
         CASE v.i % 3
           WHEN 0 THEN CAST(printf('Text %d of %s', v.i, k.name) || x'00' AS BLOB)
           WHEN 1 THEN randomblob(4)
           ELSE randomblob(16) END
  FROM keys k, n v
  WHERE k.parent = (SELECT id FROM keys WHERE name = 'Bench') AND k.name != 'Big'
    AND v.i < $values;
INSERT INTO vals(key, name, type, data)
  SELECT (SELECT id FROM keys WHERE name = 'Big'), printf('Value%d', i), 4, randomblob(4)
  FROM n WHERE i < $big;
COMMIT;
PRAGMA wal_checkpoint(TRUNCATE);
SQL
