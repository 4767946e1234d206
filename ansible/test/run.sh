#!/usr/bin/env bash
# Runs ansible/collect.yml over real ssh, as README's "Many sites" says, and
# checks each outcome (check_collected.py). Two sites, plant-north and
# plant-south, each a network namespace with its own sshd, velto-repo and
# krt-sim (24 units; plant-south's 10.1.2.9 fails every read, plant-north's
# never answers), joined to the controller's namespace by veth pairs on
# 10.23.N.0/30. The cases, in order (the command lines are README's own,
# taken from it): the package installed on both sites at once (one waits
# for dpkg's lock), a string of arguments, one that would lose arguments,
# --limit, -since twice, sshd stopped, and the link cut while krtlogs runs
# and ssh holds its connection open.
#
# Builds nothing: takes krtlogs and krtlogs-tools from packages/ (made by
# scripts/package.sh); krtlogs-tools is installed here, krtlogs by the role;
# both are purged at the end, and the user krtlogs removed when the package
# made it. Needs root, and neither package installed before.
set -euo pipefail
cd "$(dirname "$0")/../.."

if [ "$(id -u)" -ne 0 ]; then
  echo "$0: needs root (network namespaces)" >&2
  exit 1
fi
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
(cd ansible && ansible-lint --offline --nocolor -q collect.yml roles/krtlogs)

work=$(mktemp -d "${TMPDIR:-/tmp}/krtlogs-ansible.XXXXXX")
chmod 755 "$work"
tag=k$$
ctl=$tag-ctl
user_before=false
if getent passwd krtlogs >/dev/null; then user_before=true; fi
made_run_sshd=false
# shellcheck disable=SC2317  # called by the trap
finish() {
  local ns
  for ns in "$ctl" "$tag-1" "$tag-2"; do
    ip netns pids "$ns" 2>/dev/null | xargs -r kill -KILL 2>/dev/null || true
    ip netns del "$ns" 2>/dev/null || true
  done
  dpkg --purge krtlogs krtlogs-tools >/dev/null 2>&1 || true
  if ! $user_before && getent passwd krtlogs >/dev/null; then userdel krtlogs; fi
  if $made_run_sshd; then rmdir /run/sshd 2>/dev/null || true; fi
  rm -rf "$work"
}
trap finish EXIT

echo "== installing ${tools_deb[0]}" >&2
dpkg -i "${tools_deb[0]}" >/dev/null

# The namespaces, a throwaway key and one sshd, velto-repo and krt-sim per
# site; the controller reaches site N at 10.23.N.2.
ssh-keygen -q -t ed25519 -N '' -f "$work/id" -C krtlogs-test
ssh-keygen -q -t ed25519 -N '' -f "$work/host" -C krtlogs-test-host
if [ ! -d /run/sshd ]; then mkdir -m 755 /run/sshd && made_run_sshd=true; fi
ip netns add "$ctl"
ip -n "$ctl" link set lo up
for n in 1 2; do
  ns=$tag-$n
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  ip link add "$tag-c$n" netns "$ctl" type veth peer name "$tag-s$n" netns "$ns"
  ip -n "$ctl" addr add "10.23.$n.1/30" dev "$tag-c$n"
  ip -n "$ns" addr add "10.23.$n.2/30" dev "$tag-s$n"
  ip -n "$ctl" link set "$tag-c$n" up
  ip -n "$ns" link set "$tag-s$n" up
  cat >"$work/sshd-$n.conf" <<EOF
ListenAddress 10.23.$n.2
HostKey $work/host
AuthorizedKeysFile $work/id.pub
PidFile $work/sshd-$n.pid
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
Subsystem sftp internal-sftp
# bash sources ~/.bashrc for a command run over ssh, but not in a nested
# shell: root's shell setup on the test host is not the sites' business.
SetEnv SHLVL=2
EOF
done
start_site() {
  # 10.1.2.9: the last of the 24 in the repository's order, which -n
  # follows; -n 20 does not reach it.
  local n=$1 faults=(--fault 10.1.2.9:get-last-error:0x20000001)
  [ "$n" = 1 ] && faults=(--fault 10.1.2.9:hang:get_last)
  ip netns exec "$tag-$n" velto-repo >"$work/repo-$n.out" 2>&1 &
  wait_for "$work/repo-$n.out" "velto-repo ready"
  ip netns exec "$tag-$n" krt-sim --units 24 --entries 200 "${faults[@]}" \
    >"$work/sim-$n.out" 2>&1 &
  wait_for "$work/sim-$n.out" "krt-sim ready"
  start_sshd "$n"
}
start_sshd() {
  ip netns exec "$tag-$1" /usr/sbin/sshd -f "$work/sshd-$1.conf" -E "$work/sshd-$1.log"
  wait_for "$work/sshd-$1.log" "Server listening"
}
wait_for() {
  for _ in $(seq 100); do
    if grep -q "$2" "$1" 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "$0: no '$2' in $1:" >&2
  cat "$1" >&2
  exit 1
}
start_site 1
start_site 2

# The inventory README shows, with the test's addresses, key and folders.
cat >"$work/sites.yml" <<EOF
all:
  vars:
    ansible_user: root
    ansible_ssh_private_key_file: $work/id
    ansible_ssh_common_args: -o UserKnownHostsFile=/dev/null -o StrictHostKeyChecking=no
    ansible_python_interpreter: /usr/bin/python3
    ansible_remote_tmp: $work/remote-tmp
  hosts:
    plant-north:
      ansible_host: 10.23.1.2
      krtlogs_args: "{{ ['-s', '10.1.2.9', '-timeout', '30'] if krtlogs_test_case == 'cut' else ['-n', '3'] }}"
      krtlogs_workdir: $work/plant-north/work
      krtlogs_statedir: $work/plant-north/state
    plant-south:
      ansible_host: 10.23.2.2
      krtlogs_args: "{{ ['-n', '3'] if krtlogs_test_case == 'cut' else ['-n', '24'] }}"
      krtlogs_workdir: $work/plant-south/work
      krtlogs_statedir: $work/plant-south/state
EOF
mkdir "$work/home"
# Pipelining: fewer ssh round trips per task, for CI's time.
export ANSIBLE_NOCOLOR=1 ANSIBLE_SSH_CONTROL_PATH_DIR=$work/cp ANSIBLE_PIPELINING=1
export ANSIBLE_LOCAL_TEMP=$work/ansible-local HOME=$work/home

# A command line of README's "Many sites" holding FRAGMENT, for the
# test's inventory.
readme_command() {
  local line
  line=$(sed -n '/^## Many sites/,/^## Usage/p' README.md |
    grep -F -- "$1" | grep -m1 '^    ansible-playbook ') ||
    { echo "$0: README shows no ansible-playbook line with: $1" >&2; exit 1; }
  line=${line#    }
  echo "${line/-i sites.yml/-i $work/sites.yml}"
}

# Cut plant-north's link once its krtlogs runs, while ssh's connection is
# open: the controller's end of the pair goes down.
cut_when_running() {
  for _ in $(seq 600); do
    if pgrep -f "krtlogs -q -manifest -stamp -o $work/plant-north/" >/dev/null; then
      sleep 2
      ip -n "$ctl" link set "$tag-c1" down
      date +%s >"$work/cut-at"
      return 0
    fi
    sleep 0.1
  done
}

# Each case: name | what README's command line holds | more arguments |
# the exit status | the sites' statuses. check_collected.py checks what
# else the case leaves.
cases=(
  "deb|-e krtlogs_deb=packages/||0|plant-north=ok plant-south=partial"
  "string|krtlogs_args=\"||0|plant-north=ok plant-south=ok"
  "lost|-e krtlogs_dest=\$HOME/krt-logs|-e krtlogs_args=-n 20 -j 4|2|"
  "limit|--limit plant-south||0|plant-south=partial"
  "since1|\"-since\"|--limit plant-north|0|plant-north=ok"
  "since2|\"-since\"|--limit plant-north|0|plant-north=ok"
  "nosshd|-e krtlogs_dest=\$HOME/krt-logs||2|plant-north=ok plant-south=failed"
  "cut|-e krtlogs_dest=\$HOME/krt-logs||2|plant-north=failed plant-south=ok"
)
failures=0
for c in "${cases[@]}"; do
  IFS='|' read -r name fragment more status expected <<<"$c"
  command=$(readme_command "$fragment")
  if [ "$name" = nosshd ]; then
    # Its listener and the sessions ControlPersist still holds open.
    for pid in $(ip netns pids "$tag-2"); do
      if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = sshd ]; then kill "$pid"; fi
    done
  fi
  echo "== $name: $command $more" >&2
  # shellcheck disable=SC2034  # used through eval
  extra=()
  if [ -n "$more" ]; then read -r -a extra <<<"$more"; fi
  # shellcheck disable=SC2034  # used through eval
  [ "$name" = lost ] && extra=(-e "krtlogs_args=-n 20 -j 4")
  cutter=
  if [ "$name" = cut ]; then
    cut_when_running &
    cutter=$!
  fi
  started=$(date +%s)
  got=0
  eval "ip netns exec $ctl $command -e krtlogs_test_case=$name \"\${extra[@]}\"" \
    >"$work/$name.out" 2>&1 || got=$?
  ended=$(date +%s)
  if [ -n "$cutter" ]; then wait "$cutter"; fi
  echo "   exit status $got after $((ended - started)) s" >&2
  bound=
  if [ "$name" = cut ]; then
    # krtlogs' own time-out (-timeout 30) + 60 s from the cut.
    bound=$(($(cat "$work/cut-at" 2>/dev/null || echo "$started") + 90 - ended))
    echo "   the play ended $((ended - $(cat "$work/cut-at" 2>/dev/null || echo 0))) s after the cut" >&2
  fi
  if [ "$got" -ne "$status" ]; then
    echo "FAULT: $name: ansible-playbook exited with status $got, not $status" >&2
    failures=$((failures + 1))
  fi
  if ! "${python[@]}" ansible/test/check_collected.py "$name" "$work" \
    "$version" "$expected" "$bound"; then
    failures=$((failures + 1))
  fi
  if [ "$failures" -ne 0 ]; then cat "$work/$name.out"; fi
  case $name in
    nosshd) start_sshd 2 ;;
    deb)
      dpkg-query -W -f='${Version}' krtlogs 2>/dev/null | grep -qx "$version" ||
        { echo "FAULT: the role did not install krtlogs $version" >&2; failures=$((failures + 1)); }
      ;;
  esac
done
[ "$failures" -eq 0 ] && echo "== all cases as expected" >&2
exit "$failures"
