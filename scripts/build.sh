#!/usr/bin/env bash
# Configures and builds Coilhatch into build/ (or $COILHATCH_BUILD_DIR). Extra arguments go to
# CMake's configure step, e.g. -DCOILHATCH_SANITIZE=ON.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${COILHATCH_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja "$@" > "$build_dir.configure.log" 2>&1 || {
  cat "$build_dir.configure.log"; exit 1; }
grep -E "Embedding Python|wxPython embedding" "$build_dir.configure.log" || true
cmake --build "$build_dir" -j"$(nproc)"
