#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: once plainly, once under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
for kind in plain asan; do
  echo "== $kind build" >&2
  bash scripts/build.sh "$kind"
  if [ "$kind" = plain ]; then bash scripts/thread_safety.sh; fi
  dir=build; [ "$kind" = asan ] && dir=build-asan
  echo "== $kind tests" >&2
  (cd "$dir" && ctest -j "$(nproc)" --output-on-failure)
done
