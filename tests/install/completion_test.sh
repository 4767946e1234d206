#!/usr/bin/env bash
# The bash completion of krtlogs: what it offers for a command line typed
# so far, the word under the cursor last.
#
#   completion_test.sh SOURCE_DIR
set -euo pipefail
# shellcheck disable=SC1091
source "$1/completion/krtlogs"

folder=$(mktemp -d "${TMPDIR:-/tmp}/completion.XXXXXX")
trap 'rm -rf "$folder"' EXIT
mkdir "$folder/logs" "$folder/old logs" "$folder/.hidden"
touch "$folder/KRTLogs.zip" "$folder/lots"
cd "$folder"

all="-n -s -all -clear -keep-going -list -partial -j -timeout -o -q"
all+=" -manifest -format -since -stamp -keep -metrics -noclobber -h -help --help"
all+=" -follow -tail -interval -version --version"
failures=0
# The words typed (the last one is being completed) and what is offered,
# sorted, separated by "|".
while IFS='=' read -r line want; do
  read -r -a COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  _krtlogs
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | paste -sd '|')
  if [ "$got" != "$want" ]; then
    echo "FAIL: '$line': got '$got', want '$want'" >&2
    failures=$((failures + 1))
  fi
done <<EOF_CASES
krtlogs -=$(tr ' ' '\n' <<<"$all" | sort | paste -sd '|')
krtlogs -cl=-clear
krtlogs -no=-noclobber
krtlogs --=--help|--version
krtlogs -k=-keep|-keep-going
krtlogs -metrics l=logs|lots
krtlogs -keep =
krtlogs -format =jsonl|tsv
krtlogs -format j=jsonl
krtlogs -o =.hidden|logs|old logs
krtlogs -o l=logs
krtlogs -o o=old logs
krtlogs -q -o lo=logs
krtlogs -n =
krtlogs -N =
krtlogs -s 1=
krtlogs -j =
krtlogs -timeout =
krtlogs -N 5 -cl=-clear
krtlogs -s 10.1.2.3 -ma=-manifest
krtlogs -fol=-follow
krtlogs -follow -tail =
krtlogs -follow -interval =
krtlogs -x=
EOF_CASES
exit $((failures > 0))
