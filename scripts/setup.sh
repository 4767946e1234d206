#!/usr/bin/env bash
# Installs what the project needs from Debian's packages; does nothing when
# everything is already there.
set -euo pipefail

packages=(
  cmake make g++ clang pkg-config
  zlib1g-dev libdeflate-dev libssl-dev nlohmann-json3-dev
  omniidl libomniorb4-dev
  googletest libgtest-dev
  unzip p7zip-full zip pigz python3 python3-prometheus-client
  procps iproute2
  groff-base man-db
  dpkg-dev lintian binutils file
  ansible-core ansible-lint python3-apt openssh-client openssh-server
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}" >&2
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
