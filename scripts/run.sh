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
cmake --build "$build" -j"$(nproc)" --target arm_controller servo_bus_sim

# Its own session: the terminal's Ctrl-C is for the controller.
setsid "$build/sim/servo_bus_sim" --link "$device" --servos 6 &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [[ -e "$device" ]] && break; sleep 0.05; done

cat <<'TEXT'
-------------------------------------------------------------------------------
Simulated servo bus up (ids 1..6). Starting the controller. Command it with:
  ROS 2 topics (domain $ROS_DOMAIN_ID, loopback):
    serve_on_topic (std_msgs/Bool true)      switch the servos' torque on
    movj_topic (std_msgs/Float64MultiArray)  six joint targets in rad + velocity scale
    movj_s_topic, stop_topic, set_home_topic, recover_topic, follow_b_arm_topic
  State: A_arm_joint_pos_topic, A_arm_tcp_posture_topic, A_arm_motor_enable_topic
  TCP on 127.0.0.1: calls on port 8007, the 30 ms state stream on port 8006
Stop: Ctrl-C ends the ROS 2 spin; a second Ctrl-C ends the process.
-------------------------------------------------------------------------------
TEXT
set +e
"$build/arm_controller" "$@"
