#!/usr/bin/env bash
# Builds the plug-in module a second time, from the same sources, against the SDK of the other
# libmarrowpad (tests/foreign/sdk), then has ForeignEditor load that module and drive it.
#
#   sdk_build.sh SOURCE_DIR BUILD_DIR SDK_DIR FOREIGN_EDITOR [CMAKE_ARGS...]
#
# The build folder is kept between runs, so that a later run builds only what changed. Set
# COILHATCH_SKIP_SDK_BUILD=1 to skip it (exit status 77).
set -euo pipefail

if [ "${COILHATCH_SKIP_SDK_BUILD:-0}" = 1 ]; then
  echo "Skipped: COILHATCH_SKIP_SDK_BUILD=1 (the plug-in is not built against the SDK)."
  exit 77
fi
if [ $# -lt 4 ]; then
  echo "usage: $0 SOURCE_DIR BUILD_DIR SDK_DIR FOREIGN_EDITOR [CMAKE_ARGS...]" >&2
  exit 2
fi
source_dir=$1
build_dir=$2
sdk_dir=$3
editor=$4
shift 4

started=$(date +%s)
cmake -S "$source_dir" -B "$build_dir" -DMARROWPAD_SDK_DIR="$sdk_dir" "$@" >"$build_dir.configure.log" 2>&1 || {
  cat "$build_dir.configure.log"
  exit 1
}
cmake --build "$build_dir" --target Coilhatch --parallel "${COILHATCH_SDK_BUILD_JOBS:-2}"
echo "The plug-in built against the SDK in $(($(date +%s) - started)) s."

module=$build_dir/bin/plugins/Coilhatch.so
# The module asks for the editor's library by the name every editor gives it.
if ! readelf -d "$module" | grep -q 'NEEDED.*\[libmarrowpad\.so\]'; then
  echo "FAILED: $module does not need libmarrowpad.so" >&2
  exit 1
fi
# The stand-in was not built: the SDK took its place.
if [ -e "$build_dir/bin/libmarrowpad.so" ]; then
  echo "FAILED: the SDK build made a libmarrowpad of its own" >&2
  exit 1
fi
"$editor" "$module"
