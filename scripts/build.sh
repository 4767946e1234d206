#!/usr/bin/env bash
# Configures and builds the project with its tests and benchmarks.
# Usage: scripts/build.sh [plain|asan|tsan] [TARGET...]
# Build trees: build/ (plain), build-asan/, build-tsan/. The plain build
# has Debian's hardening flags (scripts/buildflags.sh), as it is the tree
# that CI packages; the sanitizer builds have their own instrumentation.
# QO_WERROR=ON in the environment makes warnings errors; a ccache on the
# PATH is used.
set -euo pipefail
cd "$(dirname "$0")/.."

kind=${1:-plain}
if [ $# -gt 0 ]; then shift; fi
case "$kind" in
  plain)
    dir=build
    # shellcheck source=scripts/buildflags.sh
    source scripts/buildflags.sh
    flags=("${deb_cmake_flags[@]}")
    ;;
  asan) dir=build-asan; flags=(-DQO_ASAN=ON) ;;
  tsan) dir=build-tsan; flags=(-DQO_TSAN=ON) ;;
  *) echo "usage: $0 [plain|asan|tsan] [TARGET...]" >&2; exit 2 ;;
esac
if command -v ccache >/dev/null; then
  flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
targets=()
for t in "$@"; do targets+=(--target "$t"); done

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
  -DQO_WERROR="${QO_WERROR:-OFF}" "${flags[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
