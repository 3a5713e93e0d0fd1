#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless under Xvfb.
#   scripts/test.sh              the normal build, in build/
#   scripts/test.sh --sanitize   with AddressSanitizer and UndefinedBehaviorSanitizer, in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake_args=()
ctest_args=()
if [ "${1:-}" = "--sanitize" ]; then
  export COILHATCH_BUILD_DIR=build-asan
  # A debug build: the interpreter-lock preconditions are checked by assertions.
  cmake_args+=(-DCOILHATCH_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  # The editor's library and the plug-in module both carry the interface classes, as every
  # plug-in does; that is not an ODR fault. Leaks of the toolkit and of the interpreter (which
  # is kept until the process ends) are suppressed; ours are reported.
  #
  # intercept_tls_get_addr=0: GCC 12's runtime takes a dynamic TLS block (the interpreter's and
  # the toolkit's loaded libraries have them) that happens to start 16 bytes into a page for one
  # of glibc before 2.25, reads the two words before it as its bounds, and LeakSanitizer's
  # tracer then faults at exit ("Tracer caught signal 11"), failing a test that passed.
  export ASAN_OPTIONS=detect_leaks=1:detect_odr_violation=0:intercept_tls_get_addr=0
  export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  # A test that fails once gets one more run; a real fault fails both.
  ctest_args+=(--repeat until-pass:2)
fi
# CI sets COILHATCH_WERROR=ON: a warning in our code fails the build there.
cmake_args+=(-DCOILHATCH_WERROR="${COILHATCH_WERROR:-OFF}")
build_dir=${COILHATCH_BUILD_DIR:-build}
scripts/build.sh "${cmake_args[@]}"

cd "$build_dir"
# -noreset: without it the server resets whenever its last client leaves, and a test that
# connects during the reset finds no display.
xvfb-run -a -s "-noreset -screen 0 1280x1024x24" \
  ctest --output-on-failure -j"$(nproc)" --timeout 180 "${ctest_args[@]}"
