# Sourced by the package tests. make_package GENERATOR BUILD_DIR sets
# `source_dir`, `build`, `version` (the project's, from CMakeLists.txt) and
# `work` (a folder removed at exit), and makes BUILD_DIR's package with
# CPack's GENERATOR into $work/packages: a package of its own, so that a test
# run never races another cpack. Ends the script when cpack fails.
make_package() {
  source_dir=$(cd "$(dirname "$0")/../.." && pwd)
  build=$(cd "$2" && pwd)
  version=$(sed -n 's/^project(RegisterBrevlin VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
  work=$(mktemp -d "${TMPDIR:-/tmp}/brevlin-package.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  (cd "$build" && cpack -G "$1" -B "$work/packages" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; exit 1; }
}
