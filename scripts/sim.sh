# shellcheck shell=bash
# Starting the analyzer simulator from a script; sourced, not run. Used by
# scripts/run-program.sh and the test drivers that need a simulated analyzer.
#
#   KSVW_SIM                 the native ksvw-sim to run (required)
#   KSVW_SIM_TIMEOUT         if set, seconds after which a simulator is ended
#                            even when its script was killed before stopping it
#   start_sim NAME ARGS...   runs "$KSVW_SIM" ARGS... in the background with its
#                            output in NAME.out and NAME.err, and waits until
#                            every link it was given (--tcp, --pty; without
#                            either the simulator listens on one TCP port) is
#                            listening. When it ends or does not listen within
#                            10 seconds, prints NAME.err and exits the script
#                            with status 1 (its EXIT trap should call
#                            stop_all_sims).
#   sim_port NAME [N]        the port of NAME's Nth TCP listener (default 1st)
#   stop_sim NAME            SIGTERM, then its exit status
#   stop_all_sims            SIGTERM to every simulator still running, then waits
# NAME may hold a directory part; the simulator's pid is ${sim_pids[NAME]}.
# Safe under set -e.

declare -gA sim_pids=()

start_sim() {
  local name="$1" a links=0
  shift
  for a in "$@"; do [[ "$a" == --tcp || "$a" == --pty ]] && links=$((links + 1)); done
  ((links > 0)) || links=1
  local -a run=("$KSVW_SIM")
  [[ -n "${KSVW_SIM_TIMEOUT:-}" ]] && run=(timeout -k 5 "$KSVW_SIM_TIMEOUT" "$KSVW_SIM")
  : >"$name.out"
  "${run[@]}" "$@" >"$name.out" 2>"$name.err" </dev/null &
  local pid=$!
  sim_pids[$name]=$pid
  for _ in $(seq 200); do
    (($(grep -c '^listening' "$name.out") >= links)) && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "ksvw-sim $name did not start:" >&2
  cat "$name.err" >&2
  exit 1
}

sim_port() {
  grep '^listening tcp' "$1.out" | sed -n "${2:-1}p" | sed 's/.*://'
}

stop_sim() {
  local pid="${sim_pids[$1]:-}" rc=0
  [[ -n "$pid" ]] || return 0
  unset "sim_pids[$1]"
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" || rc=$?
  return "$rc"
}

stop_all_sims() {
  local name
  for name in "${!sim_pids[@]}"; do kill -TERM "${sim_pids[$name]}" 2>/dev/null || true; done
  for name in "${!sim_pids[@]}"; do wait "${sim_pids[$name]}" 2>/dev/null || true; done
  sim_pids=()
}
