#!/usr/bin/env bash
# Configures with every optional package the build looks for hidden (test,
# benchmark and oracle libraries, as on a ROS 2 machine where only the build
# dependencies were installed) and builds the controller: that must always
# succeed. With the test library hidden, tests/ ends before it looks for the
# oracles, so a first configure finds out which ones are looked for at all:
# hiding one that is not leaves CMake warning about an unused variable.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-minimal
optional=(GTest benchmark orocos_kdl fastrtps fastcdr)

configure() {
  local args=()
  for p in "$@"; do args+=("-DCMAKE_DISABLE_FIND_PACKAGE_$p=ON"); done
  rm -rf "$build"
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DARM_BUILD_BENCH=ON "${args[@]}" 2>&1
}

out=$(configure "${optional[@]}") || { printf '%s\n' "$out" >&2; exit 1; }
unused=$(sed -n 's/^ *CMAKE_DISABLE_FIND_PACKAGE_\([A-Za-z0-9_]*\)$/\1/p' <<<"$out")
hidden=() skipped=()
for p in "${optional[@]}"; do
  if grep -qx "$p" <<<"$unused"; then skipped+=("$p"); else hidden+=("$p"); fi
done
echo "minimal build: hiding ${hidden[*]}; not looked for with those hidden: ${skipped[*]:-none}"
configure "${hidden[@]}"
cmake --build "$build" -j"$(nproc)" --target arm_controller
test -x "$build/arm_controller"
echo "minimal build: arm_controller built with ${hidden[*]} hidden"
