# Helpers for the real-peer checks: start vxt-device-sim in the background, wait for a log line,
# stop it and insist that it stopped cleanly. Sourced by the check scripts.
work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill -TERM "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -f "$work/sim.log" ]; then echo "--- simulator log" >&2; cat "$work/sim.log" >&2; fi
  exit 1
}

# wait_for COMMAND...: retries the command every 50 ms, 200 times at most.
wait_for() {
  for _ in $(seq 200); do
    if "$@"; then return 0; fi
    sleep 0.05
  done
  return 1
}

start_sim() {
  "$sim" "$@" >"$work/sim.log" 2>&1 &
  sim_pid=$!
  wait_for grep -q -e "web server listening" -e "recovery loader listening" "$work/sim.log" ||
    fail "simulator did not come up"
}

stop_sim() {
  kill -TERM "$sim_pid"
  local status=0
  wait "$sim_pid" || status=$?
  sim_pid=""
  [ "$status" -eq 0 ] || fail "simulator exited with status $status on SIGTERM"
  grep -q "stopping on SIGTERM" "$work/sim.log" || fail "no stop line in the log"
}
