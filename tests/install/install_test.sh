#!/usr/bin/env bash
# Installs the build tree into empty prefixes and checks what lands where,
# component by component; then builds programs against the installed qo
# runtime (consumer_test.sh) and runs them.
#
#   install_test.sh BUILD_DIR CONSUMER_DIR WORK_DIR LIBDIR DEBIAN_LAYOUT \
#                   VERSION PACKAGES
# PACKAGES: the Debian packages, a ;-list.
set -euo pipefail
build=$1 consumer=$2 work=$3 libdir=$4 debian=$5 version=$6
IFS=';' read -r -a packages <<<"$7"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

# Every file the install must have.
expected=(
  bin/krtlogs
  bin/velto-repo
  bin/krt-sim
  share/man/man1/krtlogs.1.gz
  share/man/man1/velto-repo.1.gz
  share/man/man1/krt-sim.1.gz
  share/bash-completion/completions/krtlogs
  lib/systemd/system/krtlogs-collect.service
  lib/systemd/system/krtlogs-collect.timer
  etc/krtlogs/collect.conf
  share/doc/krtlogs/README.md
  share/qo/idl/qoc_log.idl
  include/qo/qoc_common.hh
  include/qo/qoc_log.hh
  include/qo/qoc_pm.hh
  include/qo/runtime/error/exception.h
  include/qo/runtime/corba/orb.h
  include/qo/runtime/log/manager_if.h
  include/qo/runtime/pm/repository_if.h
  include/qo/runtime/pproc/thread.h
  include/qo/runtime/pos/ip_address.h
  include/qo/zip/zip_archive.h
  "$libdir/cmake/qo/qoConfig.cmake"
  "$libdir/cmake/qo/qoConfigVersion.cmake"
  "$libdir/cmake/qo/qoTargets.cmake"
  "$libdir/pkgconfig/qo.pc"
)
if [ "$debian" = ON ]; then
  for package in "${packages[@]}"; do
    expected+=("share/doc/$package/copyright" "share/doc/$package/changelog.gz")
  done
else
  expected+=(share/doc/krtlogs/LICENSE share/doc/krtlogs/CHANGELOG)
fi
for library in error pproc pos idl corba log pm_core pm zip; do
  expected+=("$libdir/libqo_$library.a" "$libdir/libqo_$library.so"
    "$libdir/pkgconfig/qo-${library//_/-}.pc")
done
for f in "${expected[@]}"; do
  [ -f "$prefix/$f" ] || fail "missing $f"
done

# Nothing outside the places above, and no file of the tree's tests.
while IFS= read -r f; do
  case $f in
    bin/krtlogs | bin/velto-repo | bin/krt-sim) ;;
    include/qo/*.hh | include/qo/runtime/*.h | include/qo/zip/*.h) ;;
    "$libdir"/libqo_* | "$libdir"/cmake/qo/* | "$libdir"/pkgconfig/qo*.pc) ;;
    share/man/man1/*.1.gz | share/bash-completion/completions/krtlogs) ;;
    share/doc/* | share/qo/idl/*.idl | share/lintian/overrides/*) ;;
    lib/systemd/system/krtlogs-collect.* | lib/sysusers.d/krtlogs.conf) ;;
    etc/krtlogs/collect.conf) ;;
    *) fail "unexpected file $f" ;;
  esac
  case $f in
    include/qo/*/internal/* | *test*) fail "internal file installed: $f" ;;
  esac
done < <(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||')

# Shared libraries: a SONAME of the major version, the development link
# pointing at it.
for library in error log zip; do
  so=$prefix/$libdir/libqo_$library.so
  soname=$(readelf -d "$so" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  [ "$soname" = "libqo_$library.so.1" ] || fail "libqo_$library SONAME '$soname'"
  [ "$(readlink "$so")" = "libqo_$library.so.1" ] ||
    fail "libqo_$library.so points to '$(readlink "$so")'"
done

# Each component alone: what it must have and what belongs to another.
check_component() {
  local component=$1 has=$2
  shift 2
  local dir=$work/component-$component
  cmake --install "$build" --prefix "$dir" --component "$component" >/dev/null
  [ -e "$dir/$has" ] || fail "component $component lacks $has"
  for other in "$@"; do
    [ ! -e "$dir/$other" ] || fail "component $component holds $other"
  done
}
check_component krtlogs bin/krtlogs bin/velto-repo include \
  "$libdir/libqo_zip.so.1" "$libdir/cmake" "$libdir/pkgconfig"
check_component tools bin/krt-sim bin/krtlogs include "$libdir" \
  share/man/man1/krtlogs.1.gz
check_component dev include/qo/runtime/log/manager_if.h bin share/man \
  "$libdir/libqo_zip.so.1"
check_component qo_zip "$libdir/libqo_zip.so.1" include "$libdir/libqo_zip.so" \
  "$libdir/libqo_error.so.1"

bash "$(dirname "$0")/consumer_test.sh" "$consumer" "$prefix" "$libdir" \
  "$version" "$work/consumers" || fail "programs built against the install"

if [ "$failures" -ne 0 ]; then
  echo "$failures failures" >&2
  exit 1
fi
rm -rf "$work"
echo "install layout, components and consumers ok"
