#!/usr/bin/env bash
# `cmake --install` below a prefix of its own: everything it installs lies in the documented
# plug-ins folder, and the plug-in runs from there (check_installed.sh).
#   install_prefix_test.sh CMAKE BUILD_DIR SOURCE_DIR PLUGINS_DIR_BELOW_PREFIX
set -euo pipefail
cmake=$1
build=$2
source=$3
below=$4
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >"$prefix/install.log" || {
  cat "$prefix/install.log"
  exit 1
}
rm "$prefix/install.log"
outside=$(find "$prefix" -type f ! -path "$prefix/$below/*")
[ -z "$outside" ] || {
  echo "FAIL: installed outside $prefix/$below: $outside" >&2
  exit 1
}
"$(dirname "$0")/check_installed.sh" "$prefix/$below" "$build/bin/marrowpad" "$source"
