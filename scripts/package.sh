#!/usr/bin/env bash
# Builds the Debian packages krtlogs, krtlogs-tools and libqo-dev into
# packages/ and checks them with lintian.
#
#   scripts/package.sh [--check] [BUILD_DIR]
#
# BUILD_DIR: a build tree to package, reconfigured for the Debian layout
# (CI passes the tree the tests ran in, so nothing is compiled twice);
# by default build-package/, configured here without tests.
# --check: then installs the packages on this host with dpkg -i, runs
# `krtlogs --version` and the demo (scripts/run.sh --installed) against the
# installed velto-repo and krt-sim, and removes the packages again. It needs
# root or sudo, port 4000 free, and refuses to run when one of the packages
# is installed already.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

check=false
dir=
for arg in "$@"; do
  case "$arg" in
    --check) check=true ;;
    -*) echo "usage: $0 [--check] [BUILD_DIR]" >&2; exit 2 ;;
    *) dir=$arg ;;
  esac
done
packages=(krtlogs krtlogs-tools libqo-dev)
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

flags=(-DQO_DEBIAN_LAYOUT=ON)
if [ -z "$dir" ]; then
  dir=build-package
  flags+=(-DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo)
  if command -v ccache >/dev/null; then
    flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
fi
echo "== packaging from $dir" >&2
cmake -S . -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)" >/dev/null

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
changelog_version=$(sed -n '1s/^krtlogs (\([^)]*\)).*/\1/p' CHANGELOG)
if [ "$version" != "$changelog_version" ]; then
  echo "CHANGELOG's first entry is $changelog_version; the project is $version" >&2
  exit 1
fi

rm -rf "$dir/cpack" packages
(cd "$dir" && cpack -G DEB -B "$root/$dir/cpack" >/dev/null)
mkdir packages
for p in "${packages[@]}"; do
  cp "$dir/cpack/${p}_${version}_"*.deb packages/
done
ls -l packages >&2

# Dependencies follow what the programs link: every library that a
# program or library of a package needs (other than the qo runtime's own)
# comes from a package it depends on.
failures=0
check_depends() {
  local deb=$1 tree file lib path owner
  tree=$(mktemp -d)
  dpkg-deb -x "$deb" "$tree"
  local depends
  depends=$(dpkg-deb -f "$deb" Depends | tr ',|' '\n\n' |
    sed 's/(.*)//; s/:.*//; s/ //g')
  while IFS= read -r file; do
    readelf -h "$file" >/dev/null 2>&1 || continue
    for lib in $(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
      # Our own libraries travel in libqo-dev; the dynamic loader (needed
      # by code with thread-local storage) comes with libc6, on every system.
      case $lib in libqo_* | ld-linux*) continue ;; esac
      path=$(ldd "$file" | awk -v lib="$lib" '$1 == lib { print $3 }')
      owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "/usr$path" 2>/dev/null ||
        dpkg -S "${path#/usr}" 2>/dev/null || true)
      owner=${owner%%:*}
      if [ -z "$owner" ] || ! grep -qx -- "$owner" <<<"$depends"; then
        echo "$(basename "$deb"): ${file#"$tree"} needs $lib" \
          "(${owner:-no package}), not among: $(echo $depends)" >&2
        failures=$((failures + 1))
      fi
    done
  done < <(find "$tree" -type f)
  rm -rf "$tree"
}
for deb in packages/*.deb; do check_depends "$deb"; done
for deb in packages/*.deb; do
  echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Depends)" >&2
done
[ "$failures" -eq 0 ] || exit 1

echo "== lintian" >&2
lintian --fail-on error packages/*.deb

if ! $check; then exit 0; fi

echo "== installing the packages on this host" >&2
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    echo "$p is installed on this host already; not replacing it" >&2
    exit 1
  fi
done
remove() { "${sudo_cmd[@]}" dpkg --purge "${packages[@]}" >/dev/null; }
trap remove EXIT
"${sudo_cmd[@]}" dpkg -i packages/*.deb >/dev/null

for program in krtlogs velto-repo krt-sim; do
  [ "$(command -v "$program")" = "/usr/bin/$program" ] ||
    { echo "$program is not installed in /usr/bin" >&2; exit 1; }
  man -w "$program" >/dev/null
done
echo "== the demo with the installed programs" >&2
bash scripts/run.sh --installed
echo "== krtlogs --version" >&2
got=$(krtlogs --version)
if [ "$got" != "krtlogs $version" ]; then
  echo "krtlogs --version printed '$got', not 'krtlogs $version'" >&2
  exit 1
fi
remove
trap - EXIT
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    echo "$p is still installed after its removal" >&2
    exit 1
  fi
done
echo "== packages built, installed, used and removed" >&2
