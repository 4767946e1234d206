#!/usr/bin/env bash
# The tool's main job on a bench without real units: sets up and builds the
# project, starts a Velto repository server and ten simulated units on
# loopback, runs krtlogs with its default options in a fresh folder, shows
# the archive it wrote, and stops the servers again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh
bash scripts/build.sh plain >/dev/null
bin=$root/build
work=$(mktemp -d "${TMPDIR:-/tmp}/krtlogs-run.XXXXXX")

pids=()
stop_servers() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
}
trap stop_servers EXIT

# Starts a server in the background and waits for its ready line.
start() {
  local name=$1 ready=$2
  shift 2
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

start velto-repo "velto-repo ready" "$bin/tools/velto-repo"
start krt-sim "krt-sim ready" "$bin/tools/krt-sim" --units 10
mkdir "$work/run"
echo "== krtlogs in $work/run" >&2
status=0
(cd "$work/run" && "$bin/app/krtlogs") || status=$?
echo "== exit status $status; the archive holds:" >&2
if [ -f "$work/run/KRTLogs.zip" ]; then
  unzip -l "$work/run/KRTLogs.zip"
fi
stop_servers
exit "$status"
