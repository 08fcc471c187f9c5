#!/usr/bin/env bash
# Builds into the given folder (default "build"; extra arguments go to cmake) with the tests
# on, and runs them. Fails when the build fails, when a test fails, and when no test ran at
# all: a folder configured earlier without tests must not pass as "nothing failed".
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build}"
shift || true

options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELORA_TESTS=ON)
if command -v ccache >/dev/null 2>&1; then
  options+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" "${options[@]}" "$@"
cmake --build "$dir" -j"${PELORA_JOBS:-2}"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=0:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
ctest --test-dir "$dir" --output-on-failure --no-tests=error -j"${PELORA_JOBS:-2}"
