#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite with warnings as errors:
# once plainly, once under AddressSanitizer and UndefinedBehaviorSanitizer;
# then builds the Debian packages from the plain build, checks them with
# lintian, installs them, runs the demo with them and removes them again
# (after the suite: the demo takes port 4000).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
export QO_WERROR=ON
for kind in plain asan; do
  echo "== $kind build" >&2
  bash scripts/build.sh "$kind"
  if [ "$kind" = plain ]; then bash scripts/thread_safety.sh; fi
  dir=build; [ "$kind" = asan ] && dir=build-asan
  echo "== $kind tests" >&2
  (cd "$dir" && ctest -j "$(nproc)" --output-on-failure)
done
echo "== packages" >&2
bash scripts/package.sh --check build
bash ansible/test/run.sh
