#!/usr/bin/env bash
# Installs what is needed, builds everything and runs all tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
build=build
jobs=$(nproc)
# The end-to-end tests serve the controller's servo port from a simulated bus,
# so the test build takes its port path inside the build folder.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DARM_BUILD_BENCH=ON -DSERVO_BUS_DEVICE="$PWD/$build/servoBus"
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" -j"$jobs" --output-on-failure
