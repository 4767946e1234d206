#!/usr/bin/env bash
# Sets up and builds the project, then runs krtlogs with its default options
# in a fresh folder and shows what it left there.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh plain >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/krtlogs-run.XXXXXX")
echo "== running krtlogs in $work" >&2
status=0
(cd "$work" && "$OLDPWD/build/app/krtlogs") || status=$?
echo "== exit status $status; files left:" >&2
ls -l "$work" >&2
