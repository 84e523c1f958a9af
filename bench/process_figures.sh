#!/usr/bin/env bash
# Whole-process figures of arm_controller on a simulated servo bus (six servos):
#   1. CPU of the controller while idle, over a window;
#   2. CPU while a stream-server client is connected;
#   3. resident memory (VmRSS) each minute during continuous movj over DDS
#      (with the stream client connected), plus the CPU of that run; with
#      --churn every movj comes from a participant of its own, as from
#      `ros2 topic pub --once`, and --malloc-stats logs the controller's glibc
#      heap (bench/figures_malloc_stats.c) to malloc_stats.txt every 10 s;
#   4. latency movj published on DDS -> first new goal write on the bus
#      (figures_latency_bench, which runs its own sim and controller).
#
# Usage: bench/process_figures.sh [-b BUILD_DIR] [-w CPU_WINDOW_S] [-m MOVE_MINUTES]
#                                 [-n LATENCY_MOVES] [-o OUT_DIR] [--no-latency]
#                                 [-p MOVE_PERIOD_MS] [-a AMPLITUDE_RAD] [-s SCALE] [--churn]
#                                 [--malloc-stats] [--own-netns]
#   MOVE_MINUTES >= 1. BUILD_DIR is the build of scripts/test.sh (build/, whose servo
#   port is build/servoBus and which builds the benchmarks), or any build configured
#   with -DSERVO_BUS_DEVICE=<a path you may create> -DARM_BUILD_BENCH=ON.
#   Defaults: build, 30 s,
#   10 min, 50 moves, 2500 ms, 0.2 rad, scale 0.5, a fresh
#   directory under /tmp. Everything stays on loopback: the servers listen on
#   127.0.0.1 and DDS runs loopback-only in a ROS_DOMAIN_ID of its own.
#   The controller's fixed ports 8006/8007 must be free; the script waits up to
#   ten minutes for them, or with --own-netns (root) runs everything in a new
#   network namespace with only loopback. All processes it starts are ended on exit.
set -u

here="$(cd "$(dirname "$0")" && pwd)"
build="$here/../build"
window=30
move_minutes=10
latency_moves=50
out=""
run_latency=1
period_ms=2500
amplitude=0.2
scale=0.5
churn=0
malloc_stats=0
all_args=("$@")
while [ $# -gt 0 ]; do
  case "$1" in
    -b) build="$2"; shift 2 ;;
    -w) window="$2"; shift 2 ;;
    -m) move_minutes="$2"; shift 2 ;;
    -n) latency_moves="$2"; shift 2 ;;
    -o) out="$2"; shift 2 ;;
    --no-latency) run_latency=0; shift ;;
    -p) period_ms="$2"; shift 2 ;;
    -a) amplitude="$2"; shift 2 ;;
    -s) scale="$2"; shift 2 ;;
    --churn) churn=1; shift ;;
    --malloc-stats) malloc_stats=1; shift ;;
    --own-netns)
      rest=(); for a in "${all_args[@]}"; do [ "$a" = --own-netns ] || rest+=("$a"); done
      exec unshare -n bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "${rest[@]}" ;;
    -h|--help) sed -n '2,29p' "$0"; exit 0 ;;
    *) echo "unknown argument: $1 (see --help)" >&2; exit 2 ;;
  esac
done
build="$(cd "$build" 2>/dev/null && pwd)" || { echo "no build directory" >&2; exit 2; }
[ -n "$out" ] || out="$(mktemp -d /tmp/arm_process_figures.XXXXXX)"
mkdir -p "$out"

controller="$build/arm_controller"
sim="$build/sim/servo_bus_sim"
mover="$build/bench/figures_mover"
client="$build/bench/figures_stream_client"
latency_bench="$build/bench/figures_latency_bench"
for f in "$controller" "$sim" "$mover" "$client"; do
  [ -x "$f" ] || { echo "missing $f: build it first" >&2; exit 2; }
done
device="$(sed -n 's/^SERVO_BUS_DEVICE:[A-Z]*=//p' "$build/CMakeCache.txt")"
if [ -z "$device" ] || [ ! -w "$(dirname "$device")" ]; then
  echo "the controller in $build opens '$device', which this user cannot create;" \
       "configure with -DSERVO_BUS_DEVICE=<writable path>" >&2
  exit 2
fi

hz="$(getconf CLK_TCK)"
report="$out/figures.txt"
: > "$report"
say() { echo "$*" | tee -a "$report"; }

pids=()
stop_pid() {  # pid [grace seconds]: TERM, then KILL if it is still there
  local pid="$1" grace="${2:-3}" i
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null
  for ((i = 0; i < grace * 10; i++)); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; return 0; }
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop_pid "${pids[$i]}"; done
  pids=()
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A DDS domain of our own, locked the same way the test support code does.
domain=""
for id in $(seq 150 199); do
  exec 9>"/tmp/arm_ros_domain_$id.lock" || continue
  if flock -n 9; then domain="$id"; break; fi
  exec 9>&-
done
[ -n "$domain" ] || { echo "no free ROS_DOMAIN_ID in 150..199" >&2; exit 3; }
export ROS_DOMAIN_ID="$domain"
unset CYCLONEDDS_URI ROS_LOCALHOST_ONLY

# A port is busy when something accepts a connection on it (bash's own /dev/tcp).
port_busy() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
ports_busy() { port_busy 8006 || port_busy 8007; }
wait_ports() {
  local i
  for ((i = 0; i < 60; i++)); do
    ports_busy || return 0
    [ "$i" -eq 0 ] && echo "ports 8006/8007 in use; waiting for them" >&2
    sleep 10
  done
  echo "ports 8006/8007 still in use; try later" >&2
  return 1
}

ticks() {  # utime+stime of a process or thread, in clock ticks
  local stat
  stat="$(cat "$1/stat" 2>/dev/null)" || { echo 0; return; }
  # Fields after the command name, which ends with the last ')'.
  echo "${stat##*) }" | awk '{print $12 + $13}'
}
now_s() { date +%s.%N; }
load() { cut -d' ' -f1-3 /proc/loadavg; }

# cpu_window <pid> <seconds> <label>: share of one core over the window, with
# the busiest threads and the load of the machine.
cpu_window() {
  local pid="$1" secs="$2" label="$3" t0 t1 c0 c1 simc0 simc1 pct simpct
  declare -A th0=()
  local task
  for task in /proc/"$pid"/task/*; do th0[${task##*/}]="$(ticks "$task")"; done
  c0="$(ticks /proc/"$pid")"; simc0="$(ticks /proc/"$sim_pid")"; t0="$(now_s)"
  local load0; load0="$(load)"
  sleep "$secs"
  c1="$(ticks /proc/"$pid")"; simc1="$(ticks /proc/"$sim_pid")"; t1="$(now_s)"
  pct="$(awk -v a="$c0" -v b="$c1" -v t0="$t0" -v t1="$t1" -v hz="$hz" \
         'BEGIN{printf "%.2f", (b - a) / hz / (t1 - t0) * 100}')"
  simpct="$(awk -v a="$simc0" -v b="$simc1" -v t0="$t0" -v t1="$t1" -v hz="$hz" \
         'BEGIN{printf "%.2f", (b - a) / hz / (t1 - t0) * 100}')"
  local threads=""
  for task in /proc/"$pid"/task/*; do
    local tid="${task##*/}" d
    d=$(( $(ticks "$task") - ${th0[$tid]:-0} ))
    [ "$d" -gt 0 ] && threads+="$(awk -v d="$d" -v t0="$t0" -v t1="$t1" -v hz="$hz" -v n="$(cat "$task/comm")" -v tid="$tid" \
      'BEGIN{printf " %s/%s=%.2f%%", n, tid, d / hz / (t1 - t0) * 100}')"
  done
  say "cpu[$label]: controller ${pct}% of one core over ${secs} s (sim ${simpct}%); load ${load0} -> $(load)"
  say "  threads (name/tid, main first):${threads}"
  CPU_RESULT="$pct"
}

rss_kb() { awk '/^VmRSS:/{print $2}' /proc/"$1"/status 2>/dev/null; }

# Mappings whose resident size grew most between two copies of smaps, to tell
# a heap leak from a buffer that is still being touched for the first time.
rss_growth_by_mapping() {
  awk '
    FNR == 1 { file++ }
    $1 ~ /^[0-9a-f]+-[0-9a-f]+$/ { key = $1 " " ($6 == "" ? "[anon]" : $6); next }
    $1 == "Rss:" { rss[file, key] = $2; keys[key] = 1 }
    END {
      for (k in keys) { d = rss[2, k] - rss[1, k]; if (d > 0) printf "%d kB %s\n", d, k }
    }' "$1" "$2" | sort -rn | head -n 3 | paste -sd ';' -
}

start_stack() {  # sim + controller; sets sim_pid and ctl_pid
  wait_ports || exit 3
  "$sim" --link "$device" --servos 6 --wire-time > "$out/sim.log" 2>&1 &
  sim_pid=$!; pids+=("$sim_pid")
  local i
  for ((i = 0; i < 50; i++)); do [ -e "$device" ] && break; sleep 0.1; done
  [ -e "$device" ] || { echo "sim never made $device" >&2; exit 4; }
  local preload=""
  [ "$malloc_stats" -eq 1 ] && preload="$build/bench/libfigures_malloc_stats.so"
  LD_PRELOAD="$preload" FIGURES_MALLOC_STATS="${preload:+$out/malloc_stats.txt}" \
    "$controller" > "$out/controller.log" 2>&1 &
  ctl_pid=$!; pids+=("$ctl_pid")
  for ((i = 0; i < 300; i++)); do
    grep -q -- "---robot_cmd_processor node init. ---" "$out/controller.log" && return 0
    kill -0 "$ctl_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "controller did not come up; see $out/controller.log" >&2
  exit 4
}

say "arm_controller process figures, $(date -u '+%F %T UTC'), $(nproc) cores, ROS_DOMAIN_ID=$domain"
say "build: $build; device: $device; logs: $out"
start_stack
sleep 5  # let start-up settle (DDS discovery, first passes)

cpu_window "$ctl_pid" "$window" "idle, servos off"
idle_cpu="$CPU_RESULT"

"$client" --port 8006 --seconds $((window + 10)) > "$out/stream_idle.txt" 2>&1 &
client_pid=$!; pids+=("$client_pid")
sleep 3
cpu_window "$ctl_pid" "$window" "idle, stream client connected"
stream_cpu="$CPU_RESULT"
wait "$client_pid"; say "  $(cat "$out/stream_idle.txt")"

# Long run: moves back and forth with a stream client attached, RSS each minute.
move_s=$((move_minutes * 60))
"$client" --port 8006 --seconds $((move_s + 120)) > "$out/stream_moves.txt" 2>&1 &
client_pid=$!; pids+=("$client_pid")
mover_args=(--seconds "$move_s" --period-ms "$period_ms" --amplitude "$amplitude" --scale "$scale")
[ "$churn" -eq 1 ] && mover_args+=(--fresh-participant)
"$mover" "${mover_args[@]}" > "$out/mover.log" 2>&1 &
mover_pid=$!; pids+=("$mover_pid")
for ((i = 0; i < 300; i++)); do
  grep -q "servos on" "$out/mover.log" && break
  kill -0 "$mover_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q "servos on" "$out/mover.log" || { echo "mover failed: $(cat "$out/mover.log")" >&2; exit 5; }
rss_line="rss_kb[moves]:"
rss_first=""; rss_min1=""; rss_last=""
c0="$(ticks /proc/"$ctl_pid")"; t0="$(now_s)"; load0="$(load)"
for ((m = 0; m <= move_minutes; m++)); do
  r="$(rss_kb "$ctl_pid")"
  rss_line+=" ${m}min=${r}"
  [ -z "$rss_first" ] && rss_first="$r"
  [ "$m" -eq 1 ] && { rss_min1="$r"; cp /proc/"$ctl_pid"/smaps "$out/smaps.1min" 2>/dev/null; }
  rss_last="$r"
  [ "$m" -lt "$move_minutes" ] && sleep 60
done
c1="$(ticks /proc/"$ctl_pid")"; t1="$(now_s)"
cp /proc/"$ctl_pid"/smaps "$out/smaps.end" 2>/dev/null
wait "$mover_pid"; mover_rc=$?
stop_pid "$client_pid"
move_cpu="$(awk -v a="$c0" -v b="$c1" -v t0="$t0" -v t1="$t1" -v hz="$hz" 'BEGIN{printf "%.2f", (b - a) / hz / (t1 - t0) * 100}')"
say "$rss_line"
say "  VmHWM $(awk '/^VmHWM:/{print $2, $3}' /proc/"$ctl_pid"/status); growth after minute 1: $(( ${rss_last:-0} - ${rss_min1:-${rss_first:-0}} )) kB"
[ -f "$out/smaps.1min" ] && say "  grew most since minute 1: $(rss_growth_by_mapping "$out/smaps.1min" "$out/smaps.end")"
say "cpu[moves + stream client]: controller ${move_cpu}% of one core over ${move_s} s; load ${load0} -> $(load)"
say "  $(tail -n 1 "$out/mover.log") (exit $mover_rc)"
say "  $(cat "$out/stream_moves.txt")"
[ -s "$out/malloc_stats.txt" ] && say "  glibc heap at the end: $(tail -n 1 "$out/malloc_stats.txt")"
if ! kill -0 "$ctl_pid" 2>/dev/null; then say "controller DIED during the run; see $out/controller.log"; fi
cleanup

if [ "$run_latency" -eq 1 ]; then
  if [ -x "$latency_bench" ]; then
    wait_ports || exit 3
    ARM_CONTROLLER="$controller" ARM_LATENCY_MOVES="$latency_moves" \
      "$latency_bench" --benchmark_counters_tabular=true > "$out/latency.txt" 2>&1
    say "latency (movj published -> first new goal write on the bus), load $(load):"
    grep -E "^(Movj|-|Benchmark|figures)" "$out/latency.txt" | tee -a "$report"
  else
    say "latency: $latency_bench not built; skipped"
  fi
fi
say "summary: idle ${idle_cpu}%  stream ${stream_cpu}%  moves ${move_cpu}%  rss ${rss_first} -> ${rss_min1} (1 min) -> ${rss_last} kB"
