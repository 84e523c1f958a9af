#!/usr/bin/env bash
# Installs what is needed, builds the controller for a simulated servo bus of
# six servos, and runs both. Ctrl-C (twice: the first ends the ROS 2 spin)
# stops the controller; the simulated bus stops with it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
build=build-run
device="$PWD/$build/servoBus"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
  -DSERVO_BUS_DEVICE="$device"
cmake --build "$build" -j"$(nproc)" --target arm_controller servo_bus_sim arm_command

# Its own session: the terminal's Ctrl-C is for the controller.
setsid "$build/sim/servo_bus_sim" --link "$device" --servos 6 &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [[ -e "$device" ]] && break; sleep 0.05; done

ready="---robot_cmd_processor node init. ---"
banner() {
  cat <<TEXT
-------------------------------------------------------------------------------
Ready: servers on 127.0.0.1:8007 (calls) and :8006 (state stream), node
robot_cmd_processor on ROS 2 domain ${ROS_DOMAIN_ID:-0} (loopback). From another shell in
$PWD:
  $build/tools/arm_command tcp on                  servos' torque on
  $build/tools/arm_command tcp move 0.3 0.2 0.1 0 0 0   joints in rad; replies on arrival
  $build/tools/arm_command ros movj -2.5 0.2 0.1 0 0 0 0.1   velocity scale 0.1: about 10.6 s
  $build/tools/arm_command ros stop                controlled stop, typed during that move
  $build/tools/arm_command tcp state               (or: ros state)
  $build/tools/arm_command tcp off                 servos' torque off
Stop: Ctrl-C ends the ROS 2 spin; a second Ctrl-C ends the process.
-------------------------------------------------------------------------------
TEXT
}
set +e
# The reader ignores Ctrl-C so that the controller's last lines still show.
"$build/arm_controller" "$@" 2>&1 | (
  trap '' INT
  shown=0
  while IFS= read -r line; do
    printf '%s\n' "$line"
    if ((!shown)) && [[ $line == *"$ready"* ]]; then banner; shown=1; fi
  done
)
