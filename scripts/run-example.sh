#!/bin/sh
# Builds the Linux program and regstore, imports examples/brevlin.cfg into the
# default registry store (or the one REGSTORE names) and shows what it wrote.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B out/host -G Ninja >/dev/null
cmake --build out/host --target register-brevlin regstore

echo "== out/host/register-brevlin /IC examples/brevlin.cfg"
out/host/register-brevlin /IC examples/brevlin.cfg
echo "== out/host/regstore query 'HKEY_CURRENT_USER\\Software\\Mardovan\\Brevlin' /s"
out/host/regstore query 'HKEY_CURRENT_USER\Software\Mardovan\Brevlin' /s
