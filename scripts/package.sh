#!/usr/bin/env bash
# Builds the Debian packages into packages/ and checks them with lintian,
# failing on any error or warning: krtlogs, krtlogs-tools, libqo-dev and
# one runtime package per qo library (libqo-error1 ... libqo-zip1), as
# cmake/QoPackaging.cmake names them.
#
#   scripts/package.sh [--check] [BUILD_DIR]
#
# Installs what it needs from Debian first (scripts/setup.sh). BUILD_DIR: a
# build tree to package, reconfigured for the Debian layout with Debian's
# build flags (scripts/buildflags.sh; CI passes the tree the tests ran in,
# built with the same flags, so nothing is compiled twice); by default
# build-package/, configured here without tests.
# --check: then installs all the packages on this host with dpkg -i, builds
# programs against the installed runtime (tests/install/consumer_test.sh:
# through find_package(qo), through pkg-config, and a zip-only program
# through the module qo-zip alone), runs `krtlogs --version` and the demo
# (scripts/run.sh --installed) against the installed velto-repo and krt-sim,
# purges the packages again and checks that nothing of them is left. It
# needs root or sudo, port 4000 free, and refuses to run when one of the
# packages is installed already.
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
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

bash scripts/setup.sh
# shellcheck source=scripts/buildflags.sh
source scripts/buildflags.sh
flags=(-DQO_DEBIAN_LAYOUT=ON "${deb_cmake_flags[@]}")
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
cp "$dir/cpack/"*.deb packages/
ls -l packages >&2
packages=()
for deb in packages/*.deb; do packages+=("$(dpkg-deb -f "$deb" Package)"); done

# Dependencies follow what the programs link: every library that a
# program or library of a package needs comes from a package it depends
# on, ours (the runtime packages, found by the files they hold) or Debian's.
declare -A holder
for deb in packages/*.deb; do
  while IFS= read -r file; do
    holder[$(basename "$file")]=$(dpkg-deb -f "$deb" Package)
  done < <(dpkg-deb -c "$deb" | awk '$6 ~ /\/lib[^\/]*\.so\.[0-9]+$/ { print $6 }')
done
failures=0
check_depends() {
  local deb=$1 tree file lib path owner
  tree=$(mktemp -d)
  dpkg-deb -x "$deb" "$tree"
  local depends
  depends=$(dpkg-deb -f "$deb" Depends | tr ',|' '\n' |
    sed 's/(.*)//; s/:.*//; s/ //g')
  while IFS= read -r file; do
    readelf -h "$file" >/dev/null 2>&1 || continue
    for lib in $(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
      # The dynamic loader (needed by code with thread-local storage) comes
      # with libc6, on every system.
      case $lib in ld-linux*) continue ;; esac
      owner=${holder[$lib]:-}
      if [ -z "$owner" ]; then
        path=$(ldd "$file" | awk -v lib="$lib" '$1 == lib { print $3 }')
        owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "/usr$path" 2>/dev/null ||
          dpkg -S "${path#/usr}" 2>/dev/null || true)
        owner=${owner%%:*}
      fi
      if [ -z "$owner" ] || ! grep -qx -- "$owner" <<<"$depends"; then
        echo "$(basename "$deb"): ${file#"$tree"} needs $lib" \
          "(${owner:-no package}), not among: $(paste -sd " " <<<"$depends")" >&2
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
lintian --pedantic --display-info --tag-display-limit 0 \
  --fail-on error,warning packages/*.deb

if ! $check; then exit 0; fi

echo "== installing the packages on this host" >&2
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    echo "$p is installed on this host already; not replacing it" >&2
    exit 1
  fi
done
work=$(mktemp -d "${TMPDIR:-/tmp}/krtlogs-package.XXXXXX")
installed=false
# A purge leaves the system user of the scheduled collection, as Debian's
# packages do; the check removes it again when it made it.
user_before=false
if getent passwd krtlogs >/dev/null; then user_before=true; fi
remove() {
  "${sudo_cmd[@]}" dpkg --purge "${packages[@]}" >/dev/null
  installed=false
  if ! $user_before && getent passwd krtlogs >/dev/null; then
    "${sudo_cmd[@]}" userdel krtlogs
  fi
}
# shellcheck disable=SC2317  # called by the trap
finish() {
  if $installed; then remove || true; fi
  rm -rf "$work"
}
trap finish EXIT
installed=true
"${sudo_cmd[@]}" dpkg -i packages/*.deb >/dev/null

for program in krtlogs velto-repo krt-sim; do
  [ "$(command -v "$program")" = "/usr/bin/$program" ] ||
    { echo "$program is not installed in /usr/bin" >&2; exit 1; }
  man -w "$program" >/dev/null
done
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
echo "== programs built against the installed runtime" >&2
bash tests/install/consumer_test.sh tests/install/consumer /usr \
  "lib/$multiarch" "$version" "$work"
echo "== the demo with the installed programs" >&2
bash scripts/run.sh --installed
echo "== krtlogs --version" >&2
got=$(krtlogs --version)
if [ "$got" != "krtlogs $version" ]; then
  echo "krtlogs --version printed '$got', not 'krtlogs $version'" >&2
  exit 1
fi

echo "== the scheduled collection" >&2
unit=/usr/lib/systemd/system/krtlogs-collect
systemd-analyze verify "$unit.service" "$unit.timer"
# --threshold counts tenths: an exposure above 3.0 ("OK") fails.
if ! systemd-analyze security --offline=true --threshold=30 "$unit.service" \
  >/dev/null; then
  systemd-analyze security --offline=true "$unit.service" | tail -1 >&2
  echo "krtlogs-collect.service is exposed more than 3.0" >&2
  exit 1
fi
getent passwd krtlogs >/dev/null ||
  { echo "installing krtlogs made no user krtlogs" >&2; exit 1; }
dpkg-query -W -f='${Conffiles}\n' krtlogs | grep -q '^ /etc/krtlogs/collect.conf ' ||
  { echo "/etc/krtlogs/collect.conf is not a conffile of krtlogs" >&2; exit 1; }

echo "== purging the packages" >&2
remove
libdir=/usr/lib/$multiarch
left=(/usr/include/qo "$libdir"/libqo_* "$libdir/cmake/qo"
  "$libdir"/pkgconfig/qo.pc "$libdir"/pkgconfig/qo-*.pc)
for p in "${packages[@]}"; do
  left+=("/usr/share/doc/$p" "/usr/share/lintian/overrides/$p")
  if dpkg -L "$p" >/dev/null 2>&1; then
    echo "$p is still known to dpkg after its purge" >&2
    exit 1
  fi
done
for path in "${left[@]}"; do
  if [ -e "$path" ] || [ -L "$path" ]; then
    echo "$path is left after the purge" >&2
    exit 1
  fi
done
echo "== packages built, installed, used and purged" >&2
