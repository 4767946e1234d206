# shellcheck shell=bash
# Background servers for the scripts that run the tool against a bench:
# sourced, not run. The caller sets $work to a folder of its own.
#
#   start NAME READY COMMAND...  runs COMMAND with its output in
#                                $work/NAME.out and waits up to 30 s for
#                                the line READY; exits 1 with the output
#                                when the server ends or never gets ready
#   stop_servers                 stops every server started, waiting for
#                                each to end

pids=()

start() {
  local name=$1 ready=$2
  shift 2
  # shellcheck disable=SC2154  # $work is the caller's
  "$@" >"$work/$name.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 300); do
    if grep -q "$ready" "$work/$name.out"; then return 0; fi
    if ! kill -0 "${pids[-1]}" 2>/dev/null; then break; fi
    sleep 0.1
  done
  echo "$name did not start:" >&2
  cat "$work/$name.out" >&2
  exit 1
}

# shellcheck disable=SC2317  # called by the callers' traps
stop_servers() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
}
