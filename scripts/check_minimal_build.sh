#!/usr/bin/env bash
# Configures with every optional package hidden (test, benchmark and oracle
# libraries, as on a ROS 2 machine where only the build dependencies were
# installed) and builds the controller: that must always succeed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-minimal
optional=(GTest benchmark orocos_kdl fastrtps fastcdr)
args=()
for p in "${optional[@]}"; do args+=("-DCMAKE_DISABLE_FIND_PACKAGE_$p=ON"); done
rm -rf "$build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DARM_BUILD_BENCH=ON "${args[@]}"
cmake --build "$build" -j"$(nproc)" --target arm_controller
test -x "$build/arm_controller"
echo "minimal build: arm_controller built with ${optional[*]} hidden"
