#!/usr/bin/env bash
# Installs what is needed, builds the controller for the simulated servo bus
# and runs it. Ctrl-C stops both.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
build=build-run
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DARM_BUILD_TESTS=OFF -DARM_BUILD_BENCH=OFF
cmake --build "$build" -j"$(nproc)" --target arm_controller
exec "$build/arm_controller"
