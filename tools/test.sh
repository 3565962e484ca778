#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: an optimised build,
# and a build under AddressSanitizer and UndefinedBehaviorSanitizer where any report
# fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

jobs=$(nproc)
build_and_test() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 600
}

mkdir -p build
build_and_test build/release -DCMAKE_BUILD_TYPE=Release
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Line tables are all a sanitizer report needs; full debug information costs the WebSocket
# translation units a third more compile time.
build_and_test build/sanitize -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
  -DCMAKE_C_FLAGS_DEBUG=-g1 -DTVX_SANITIZE=ON -DTVX_BENCH=OFF
