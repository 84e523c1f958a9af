#!/usr/bin/env bash
# Runs the tests again under AddressSanitizer with UndefinedBehaviorSanitizer
# (all tests) and under ThreadSanitizer (the threaded ones).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
jobs=$(nproc)

configure_and_build() {
  local build=$1 sanitizers=$2
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DARM_SANITIZE="$sanitizers" \
    -DARM_BUILD_BENCH=OFF -DSERVO_BUS_DEVICE="$PWD/$build/servoBus"
  cmake --build "$build" -j"$jobs"
}

configure_and_build build-asan address,undefined
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan -j"$jobs" --output-on-failure

configure_and_build build-tsan thread
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/.ci/tsan.supp" \
  ctest --test-dir build-tsan -L threaded -j"$jobs" --output-on-failure
