#!/usr/bin/env bash
# Installs the build tree into empty prefixes and checks what lands where,
# component by component; then builds a consumer project against the
# installed qo runtime, once through its CMake package and once through
# pkg-config, and runs it.
#
#   install_test.sh BUILD_DIR CONSUMER_DIR WORK_DIR LIBDIR DEBIAN_LAYOUT VERSION
set -euo pipefail
build=$1 consumer=$2 work=$3 libdir=$4 debian=$5 version=$6
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
  for package in krtlogs krtlogs-tools libqo-dev; do
    expected+=("share/doc/$package/copyright" "share/doc/$package/changelog.gz")
  done
else
  expected+=(share/doc/krtlogs/LICENSE share/doc/krtlogs/CHANGELOG)
fi
for library in error pproc pos idl corba log pm_core pm zip; do
  expected+=("$libdir/libqo_$library.a" "$libdir/libqo_$library.so")
done
for f in "${expected[@]}"; do
  [ -f "$prefix/$f" ] || fail "missing $f"
done

# Nothing outside the places above, and no file of the tree's tests.
while IFS= read -r f; do
  case $f in
    bin/krtlogs | bin/velto-repo | bin/krt-sim) ;;
    include/qo/*.hh | include/qo/runtime/*.h | include/qo/zip/*.h) ;;
    "$libdir"/libqo_* | "$libdir"/cmake/qo/* | "$libdir"/pkgconfig/qo.pc) ;;
    share/man/man1/*.1.gz | share/bash-completion/completions/krtlogs) ;;
    share/doc/* | share/qo/idl/*.idl) ;;
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
check_component krtlogs bin/krtlogs bin/velto-repo include "$libdir"
check_component tools bin/krt-sim bin/krtlogs include "$libdir" \
  share/man/man1/krtlogs.1.gz
check_component dev include/qo/runtime/log/manager_if.h bin share/man

# The consumer through CMake, shared and static.
cmake -S "$consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >"$work/consumer.log" 2>&1 ||
  { cat "$work/consumer.log" >&2; fail "consumer configure"; }
cmake --build "$work/consumer" -j 2 >>"$work/consumer.log" 2>&1 ||
  { cat "$work/consumer.log" >&2; fail "consumer build"; }

# pkg-config, with the compiler alone.
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
if flags=$(pkg-config --cflags --libs qo); then
  # shellcheck disable=SC2086
  g++ -std=c++17 -o "$work/pc_consumer" "$consumer/main.cc" $flags ||
    fail "consumer build through pkg-config ($flags)"
else
  fail "pkg-config qo"
fi
[ "$(pkg-config --modversion qo)" = "$version" ] || fail "pkg-config version"

printf 'hello from the consumer\n' >"$work/hello.txt"
for program in consumer/qo_consumer consumer/qo_consumer_static pc_consumer; do
  [ -x "$work/$program" ] || continue
  rm -f "$work/out.zip"
  if ! out=$(LD_LIBRARY_PATH=$prefix/$libdir "$work/$program" \
    "$work/out.zip" "$work/hello.txt" 2>&1); then
    fail "$program: $out"
    continue
  fi
  case $out in
    "archive written"$'\n'"no log manager: "*) ;;
    *) fail "$program printed: $out" ;;
  esac
  [ "$(unzip -p "$work/out.zip" hello.txt)" = "hello from the consumer" ] ||
    fail "$program: archive"
done
# The shared consumer uses the installed libraries, the static one none.
ldd "$work/consumer/qo_consumer" | grep -q "$prefix/$libdir/libqo_log.so.1" ||
  fail "qo_consumer does not load the installed libqo_log.so.1"
! ldd "$work/consumer/qo_consumer_static" | grep -q libqo_ ||
  fail "qo_consumer_static loads a qo library"

if [ "$failures" -ne 0 ]; then
  echo "$failures failures" >&2
  exit 1
fi
rm -rf "$work"
echo "install layout, components and consumers ok"
