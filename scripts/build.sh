#!/usr/bin/env bash
# Configures and builds the project. Usage: scripts/build.sh [plain|asan|tsan]
# Build trees: build/ (plain), build-asan/, build-tsan/.
set -euo pipefail
cd "$(dirname "$0")/.."

kind=${1:-plain}
case "$kind" in
  plain) dir=build; flags=() ;;
  asan) dir=build-asan; flags=(-DQO_ASAN=ON) ;;
  tsan) dir=build-tsan; flags=(-DQO_TSAN=ON) ;;
  *) echo "usage: $0 [plain|asan|tsan]" >&2; exit 2 ;;
esac

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
