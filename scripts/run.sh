#!/usr/bin/env bash
# The tool's main job on a bench without real units: starts a Velto
# repository server and ten simulated units on loopback, runs krtlogs with
# its default options in a fresh folder, shows the archive it wrote, and
# stops the servers again; the folder is removed when it ends. Port 4000
# must be free.
#
#   scripts/run.sh              sets up and builds the tool and the two
#                               servers only (no tests, no benchmarks) in
#                               build/, and runs those
#   scripts/run.sh --installed  runs the programs installed on this host
#                               (the Debian packages krtlogs and
#                               krtlogs-tools)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

case "${1:-}" in
  "")
    bash scripts/setup.sh
    launcher=()
    if command -v ccache >/dev/null; then
      launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
      "${launcher[@]}" >/dev/null
    cmake --build build -j "$(nproc)" --target krtlogs velto-repo krt-sim \
      >/dev/null
    krtlogs=$root/build/app/krtlogs
    velto_repo=$root/build/tools/velto-repo
    krt_sim=$root/build/tools/krt-sim
    ;;
  --installed)
    krtlogs=$(command -v krtlogs)
    velto_repo=$(command -v velto-repo)
    krt_sim=$(command -v krt-sim)
    ;;
  *)
    echo "usage: $0 [--installed]" >&2
    exit 2
    ;;
esac
work=$(mktemp -d "${TMPDIR:-/tmp}/krtlogs-run.XXXXXX")

# shellcheck source=scripts/servers.sh
source "$root/scripts/servers.sh"
# shellcheck disable=SC2317  # called by the trap
finish() {
  stop_servers
  rm -rf "$work"
}
trap finish EXIT

start velto-repo "velto-repo ready" "$velto_repo"
start krt-sim "krt-sim ready" "$krt_sim" --units 10
mkdir "$work/run"
echo "== $krtlogs in $work/run" >&2
status=0
(cd "$work/run" && "$krtlogs") || status=$?
echo "== exit status $status; the archive holds:" >&2
if [ -f "$work/run/KRTLogs.zip" ]; then
  unzip -l "$work/run/KRTLogs.zip"
fi
stop_servers
exit "$status"
