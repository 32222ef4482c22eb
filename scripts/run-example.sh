#!/bin/sh
# Builds the Linux program and regstore, imports examples/brevlin.cfg and
# shows what it wrote.
#
#   scripts/run-example.sh [--default-store]
#
# The import goes into a temporary store, removed at the end, so that trying
# the example never changes the registry store of the user. With
# --default-store it goes into the store REGSTORE names, or else the user's
# default one (~/.local/share/regstore/registry.db), and stays there.
set -eu
cd "$(dirname "$0")/.."

case ${1:-} in
  --default-store) use_default=1 ;;
  "") use_default=0 ;;
  *) echo "usage: $0 [--default-store]" >&2; exit 2 ;;
esac

scripts/install-deps.sh build
cmake -S . -B out/host -G Ninja >/dev/null
cmake --build out/host --target register-brevlin regstore

if [ "$use_default" = 0 ]; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  REGSTORE=$tmp/registry.db
  export REGSTORE
fi
echo "== registry store: ${REGSTORE:-the default one}"

echo "== out/host/register-brevlin --check /IC examples/brevlin.cfg"
out/host/register-brevlin --check /IC examples/brevlin.cfg
echo "== out/host/register-brevlin /IC examples/brevlin.cfg"
status=0
out/host/register-brevlin /IC examples/brevlin.cfg || status=$?
echo "exit status $status"
echo "== out/host/regstore query 'HKEY_CURRENT_USER\\Software\\Mardovan\\Brevlin' /s"
out/host/regstore query 'HKEY_CURRENT_USER\Software\Mardovan\Brevlin' /s
exit "$status"
