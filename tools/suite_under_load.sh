#!/usr/bin/env bash
# Runs the test suite in rounds on a loaded machine: beside each round a second
# copy of the same suite runs from another build folder (with its own servo
# port) over and over, and one busy process spins per core. The sanitizer
# suites run as scripts/sanitize.sh runs them. Prints each round's result and,
# at the end, rounds and failures per suite with the failing tests.
#
#   tools/suite_under_load.sh [--plain N] [--asan N] [--tsan N] [--rounds N]
#                             [--jobs J] [--busy B] [--logs DIR]
#
#   --plain/--asan/--tsan  rounds of that suite (default 10, 3, 3; 0 skips it)
#   --rounds N             the same N for all three (later options win)
#   --jobs J               ctest -j of each copy (default: cores)
#   --busy B               busy processes (default: cores)
#   --logs DIR             where every run's ctest output goes (default: a new
#                          folder under /tmp, printed at the end)
#
# Build folders (configured on first use like scripts/test.sh and
# scripts/sanitize.sh do): build and build-load, build-asan and
# build-asan-load, build-tsan and build-tsan-load. Exit status 0 when every
# run passed. Ctrl-C (or any exit) ends every process the tool started.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
self="$root/tools/suite_under_load.sh"

# --- one suite run, in the environment its kind needs -------------------------
run_suite() {  # kind build jobs log
  local kind=$1 build=$2 jobs=$3 log=$4
  case $kind in
    plain) ctest --test-dir "$build" -j"$jobs" --output-on-failure >"$log" 2>&1 ;;
    asan)
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        ctest --test-dir "$build" -j"$jobs" --output-on-failure >"$log" 2>&1 ;;
    tsan)
      TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/.ci/tsan.supp" \
        ctest --test-dir "$build" -L threaded -j"$jobs" --output-on-failure >"$log" 2>&1 ;;
  esac
}

# Names of the tests a ctest log lists as failed, one a line ("name (Failed)").
failed_tests() {
  awk '/The following tests FAILED:/ { f = 1; next }
       f && /^[[:space:]]*[0-9]+ - / { sub(/^[[:space:]]*[0-9]+ - /, ""); print }' "$1"
}

# --- internal modes, started in sessions of their own ---------------------------
# The load copy: runs its suite again and again until the stop file appears or
# the tool is gone, one result line per run.
if [[ ${1:-} == --load-loop ]]; then
  kind=$2 build=$3 jobs=$4 dir=$5 parent=$6
  n=0
  while [[ ! -e $dir/$kind.stop ]] && kill -0 "$parent" 2>/dev/null; do
    n=$((n + 1))
    log=$dir/$kind-load-$n.log
    if run_suite "$kind" "$build" "$jobs" "$log"; then
      echo "$n passed" >>"$dir/$kind-load.results"
    else
      echo "$n FAILED $(failed_tests "$log" | paste -sd ' ')" >>"$dir/$kind-load.results"
    fi
  done
  exit 0
fi
if [[ ${1:-} == --run-suite ]]; then
  run_suite "$2" "$3" "$4" "$5"
  exit
fi
# A busy process: spins, and ends by itself should the tool be gone.
if [[ ${1:-} == --busy ]]; then
  while kill -0 "$2" 2>/dev/null; do
    for ((i = 0; i < 200000; ++i)); do :; done
  done
  exit 0
fi

# --- options -------------------------------------------------------------------
declare -A rounds=([plain]=10 [asan]=3 [tsan]=3)
jobs=$(nproc)
busy=$(nproc)
logs=""
while (($#)); do
  case $1 in
    --plain | --asan | --tsan) rounds[${1#--}]=$2; shift 2 ;;
    --rounds) rounds[plain]=$2 rounds[asan]=$2 rounds[tsan]=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --busy) busy=$2; shift 2 ;;
    --logs) logs=$2; shift 2 ;;
    -h | --help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1 (--help lists them)" >&2; exit 2 ;;
  esac
done
for kind in plain asan tsan; do
  [[ ${rounds[$kind]} =~ ^[0-9]+$ ]] || { echo "--$kind wants a number of rounds" >&2; exit 2; }
done
[[ -n $logs ]] || logs=$(mktemp -d /tmp/suite_under_load.XXXXXX)
mkdir -p "$logs"

# --- cleanup: every process the tool started, by id ------------------------------
# Whatever the tool starts carries SUITE_UNDER_LOAD=<run>:<part> in its
# environment, and so does everything started under it: test processes left
# to init by a ctest that was ended, controllers left by their test process.
folders=()  # build folders in use
run_id=$$-$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n')

starttime() {  # pid -> REPLY: its start time since boot, which tells a reused pid apart
  local line fields
  REPLY=""
  { read -r line <"/proc/$1/stat"; } 2>/dev/null || return 1
  read -ra fields <<<"${line##*) }"
  REPLY=${fields[19]}
}
alive() { starttime "${1%%:*}" && [[ $REPLY == "${1##*:}" ]]; }
ours() {  # part (a regex, default any) -> "pid:start time" of each such process
  local f p
  for f in $(grep -lzxE "SUITE_UNDER_LOAD=$run_id:(${1:-.*})" /proc/[0-9]*/environ 2>/dev/null); do
    p=${f#/proc/}
    p=${p%/environ}
    starttime "$p" && echo "$p:$REPLY"
  done
}
# SIGTERM, then SIGKILL for what is left after 5 s; looked for again until none
# is left, so one started meanwhile is ended too.
end_part() {
  local pass procs left p i
  for pass in 1 2 3 4 5; do
    mapfile -t procs < <(ours "${1:-}")
    ((${#procs[@]})) || return 0
    for p in "${procs[@]}"; do alive "$p" && kill -TERM "${p%%:*}" 2>/dev/null; done
    for ((i = 0; i < 50; ++i)); do
      left=()
      for p in "${procs[@]}"; do alive "$p" && left+=("$p"); done
      ((${#left[@]})) || break
      sleep 0.1
    done
    for p in "${left[@]}"; do alive "$p" && kill -KILL "${p%%:*}" 2>/dev/null; done
  done
}
spawn() {  # part args...: the tool itself, in a session of its own (the terminal's Ctrl-C is ours)
  local part=$1
  shift
  SUITE_UNDER_LOAD=$run_id:$part setsid -w "$self" "$@" &
  last_spawned=$!
}
cleaned=0
cleanup() {
  ((cleaned)) && return 0
  cleaned=1
  trap '' INT TERM
  end_part
  wait 2>/dev/null
  # A simulated bus cut short leaves its link to a pty that is gone or someone else's.
  local b
  for b in "${folders[@]}"; do [[ -L $b/servoBus ]] && rm -f "$b/servoBus"; done
  return 0
}
trap 'cleanup' EXIT
trap 'echo; echo "interrupted: ending every process the tool started" >&2; cleanup; exit 130' INT TERM

# --- builds ----------------------------------------------------------------------
build_folder() {  # kind build
  local kind=$1 build=$2 args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSERVO_BUS_DEVICE="$root/$2/servoBus")
  case $kind in
    plain) args+=(-DARM_BUILD_BENCH=ON) ;;
    asan) args+=(-DARM_SANITIZE=address,undefined -DARM_BUILD_BENCH=OFF) ;;
    tsan) args+=(-DARM_SANITIZE=thread -DARM_BUILD_BENCH=OFF) ;;
  esac
  echo "building $build"
  if ! { cmake -S . -B "$build" "${args[@]}" && cmake --build "$build" -j"$(nproc)"; } >"$logs/build-$build.log" 2>&1
  then
    tail -30 "$logs/build-$build.log"
    echo "build of $build failed (log: $logs/build-$build.log)" >&2
    exit 1
  fi
}
primary() { [[ $1 == plain ]] && echo build || echo "build-$1"; }
kinds=()
for kind in plain asan tsan; do ((rounds[$kind] > 0)) && kinds+=("$kind"); done
for kind in "${kinds[@]}"; do
  folders+=("$(primary "$kind")" "$(primary "$kind")-load")
  build_folder "$kind" "$(primary "$kind")"
  build_folder "$kind" "$(primary "$kind")-load"
done

# --- rounds --------------------------------------------------------------------------
for ((i = 0; i < busy; ++i)); do spawn busy --busy $$; done
echo "load: $busy busy processes; each round has a second copy of its suite beside it; logs in $logs"
declare -A failed_rounds failures
for kind in "${kinds[@]}"; do
  build=$(primary "$kind")
  failed_rounds[$kind]=0
  failures[$kind]=""
  spawn "load-$kind" --load-loop "$kind" "$root/$build-load" "$jobs" "$logs" $$
  loader=$last_spawned
  sleep 5  # the load copy is under way before the first round starts
  for ((r = 1; r <= rounds[$kind]; ++r)); do
    log=$logs/$kind-$r.log
    begin=$SECONDS
    spawn "suite-$kind" --run-suite "$kind" "$root/$build" "$jobs" "$log"
    if wait "$last_spawned"; then
      result="passed"
    else
      names=$(failed_tests "$log" | paste -sd ' ')
      result="FAILED ${names:-(no test named: see the log)}"
      failed_rounds[$kind]=$((failed_rounds[$kind] + 1))
      failures[$kind]+="  round $r: ${names:-see $log}"$'\n'
    fi
    printf '[%s %d/%d] %s (%d s, log %s)\n' "$kind" "$r" "${rounds[$kind]}" "$result" $((SECONDS - begin)) "$log"
  done
  # Its run under way is cut short: only whole runs count.
  touch "$logs/$kind.stop"
  end_part "load-$kind"
  { wait "$loader"; } 2>/dev/null
done

# --- summary ---------------------------------------------------------------------------
echo
echo "== $(date '+%F %T'): rounds under load ($busy busy processes, a second copy of each suite beside it) =="
status=0
for kind in "${kinds[@]}"; do
  printf '%-6s %3d rounds, %d failed\n' "$kind" "${rounds[$kind]}" "${failed_rounds[$kind]}"
  printf '%s' "${failures[$kind]}"
  ((failed_rounds[$kind] == 0)) || status=1
  if [[ -s $logs/$kind-load.results ]]; then
    runs=$(wc -l <"$logs/$kind-load.results")
    bad=$(grep -c FAILED "$logs/$kind-load.results")
    printf '       load copy: %d runs, %d failed\n' "$runs" "$bad"
    ((bad == 0)) || status=1
    grep FAILED "$logs/$kind-load.results" | sed 's/^\([0-9]*\) FAILED /         run \1: /'
  fi
done
echo "logs: $logs"
exit $status
