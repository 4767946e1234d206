#!/usr/bin/env bash
# The manual pages render without a single warning, by groff itself and as
# man shows them; and krtlogs.1 documents every option the bash completion
# offers.
#
#   man_pages_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
failures=0
for page in "$source_dir"/man/*.1; do
  warnings=$(groff -man -ww -z -Tutf8 "$page" 2>&1)
  [ -z "$warnings" ] || { echo "groff: $page: $warnings" >&2; failures=$((failures + 1)); }
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "man: $page: $warnings" >&2; failures=$((failures + 1)); }
done

text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -E UTF-8 -l "$source_dir/man/krtlogs.1" 2>/dev/null | col -b)
# shellcheck disable=SC1091
source "$source_dir/completion/krtlogs"
COMP_WORDS=(krtlogs -)
COMP_CWORD=1
_krtlogs
for option in "${COMPREPLY[@]}"; do
  grep -q -e "^ *$option\b" -e "^ *[-a-zA-Z, ]*, $option\b" <<<"$text" ||
    { echo "krtlogs.1 does not describe $option" >&2; failures=$((failures + 1)); }
done
[ "${#COMPREPLY[@]}" -gt 10 ] || { echo "completion offers ${#COMPREPLY[@]} options" >&2; failures=$((failures + 1)); }
exit $((failures > 0))
