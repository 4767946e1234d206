#!/usr/bin/env bash
# Runs ansible/collect.yml against the sites of ansible/test/inventory.yml,
# all on this machine and sharing one velto-repo and one krt-sim (units
# 10.1.2.1 to 10.1.2.4, the last one failing every read):
#   site-a  -n 3, given as one string; installs krtlogs first   -> ok
#   site-b  -n 5 -partial: four found, one fails, exit status 1 -> partial
#   site-c  -s of an address nobody publishes: exit status 255 -> failed
#   site-d  ssh to a port nobody listens on: unreachable        -> failed
# and checks (check_collected.py) the two fetched archives with unzip, 7z
# and Python's zipfile, their SHA256SUMS and complete logs, summary.json,
# the table in the play's output and the sites' empty work folders; the
# playbook must exit with status 2 (sites failed). First runs the unit
# tests of the role's Python (plugins_test.py) and lints the role.
#
# Builds nothing: takes krtlogs and krtlogs-tools from packages/ (made by
# scripts/package.sh). krtlogs-tools is installed here, so that the servers
# are the ones a site would run; krtlogs is installed by the role. Both are
# purged at the end. Needs root or sudo, port 4000 free, and neither
# package installed before.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

entries=200
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

shopt -s nullglob
krtlogs_deb=(packages/krtlogs_*.deb)
tools_deb=(packages/krtlogs-tools_*.deb)
shopt -u nullglob
if [ ${#krtlogs_deb[@]} -ne 1 ] || [ ${#tools_deb[@]} -ne 1 ]; then
  echo "$0: needs one krtlogs and one krtlogs-tools package in packages/;" \
    "run scripts/package.sh first" >&2
  exit 1
fi
version=$(dpkg-deb -f "${krtlogs_deb[0]}" Version)
for p in krtlogs krtlogs-tools; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    echo "$0: $p is installed on this host already; not replacing it" >&2
    exit 1
  fi
done

# Python with Ansible's modules: the one ansible-playbook runs on.
read -r -a python < <(sed -n '1s/^#! *//p' "$(command -v ansible-playbook)")
echo "== the role's manifest reader and table" >&2
"${python[@]}" ansible/test/plugins_test.py

echo "== lint" >&2
if command -v ansible-lint >/dev/null; then
  (cd ansible && ansible-lint --offline --nocolor -q collect.yml roles/krtlogs)
else
  ansible-playbook --syntax-check -i ansible/test/inventory.yml \
    ansible/collect.yml
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/krtlogs-ansible.XXXXXX")
export ANSIBLE_LOCAL_TEMP=$work/ansible-local
export ANSIBLE_REMOTE_TEMP=$work/ansible-remote
export ANSIBLE_NOCOLOR=1

# shellcheck source=scripts/servers.sh
source "$root/scripts/servers.sh"
installed=false
# shellcheck disable=SC2317  # called by the trap
finish() {
  stop_servers
  if $installed; then
    "${sudo_cmd[@]}" dpkg --purge krtlogs krtlogs-tools >/dev/null
  fi
  rm -rf "$work"
}
trap finish EXIT

echo "== installing ${tools_deb[0]}" >&2
installed=true
"${sudo_cmd[@]}" dpkg -i "${tools_deb[0]}" >/dev/null
start velto-repo "velto-repo ready" velto-repo
start krt-sim "krt-sim ready" krt-sim --units 4 --entries "$entries" \
  --fault 10.1.2.4:get-last-error:0x20000001

echo "== ansible-playbook ansible/collect.yml" >&2
status=0
ansible-playbook -i ansible/test/inventory.yml ansible/collect.yml \
  -e "krtlogs_test_root=$work" -e "krtlogs_test_deb=$root/${krtlogs_deb[0]}" \
  >"$work/playbook.out" 2>&1 || status=$?
cat "$work/playbook.out"

failures=0
if [ "$status" -ne 2 ]; then
  echo "FAULT: ansible-playbook exited with status $status, not 2" >&2
  failures=1
fi
if ! dpkg-query -W -f='${Version}' krtlogs 2>/dev/null | grep -qx "$version"; then
  echo "FAULT: the role did not install krtlogs $version" >&2
  failures=1
fi
"${python[@]}" ansible/test/check_collected.py "$work" "$work/playbook.out" \
  "$version" "$entries" || failures=1
if [ "$failures" -ne 0 ] && [ -f "$work/collected/summary.json" ]; then
  cat "$work/collected/summary.json"
fi
exit "$failures"
