#!/usr/bin/env bash
# Builds programs of another team against the qo runtime installed in
# PREFIX and runs them: the consumer project through its CMake package
# (shared and static) and through the pkg-config module qo, and a zip-only
# program through the module qo-zip alone, which must load libqo_zip and
# nothing of the ORB. Run by install_test.sh on an install prefix and by
# scripts/package.sh --check on the installed packages (PREFIX /usr).
#
#   consumer_test.sh CONSUMER_DIR PREFIX LIBDIR VERSION WORK_DIR
set -euo pipefail
consumer=$1 prefix=$2 libdir=$3 version=$4 work=$5
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
mkdir -p "$work"

# The consumer through CMake, shared and static.
cmake -S "$consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >"$work/consumer.log" 2>&1 ||
  { cat "$work/consumer.log" >&2; fail "consumer configure"; }
cmake --build "$work/consumer" -j 2 >>"$work/consumer.log" 2>&1 ||
  { cat "$work/consumer.log" >&2; fail "consumer build"; }

# pkg-config, with the compiler alone: canonical paths, and each module
# links its own library, the rest only when linking statically.
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
build() {
  local program=$1 source=$2 flags
  shift 2
  if ! flags=$(pkg-config "$@"); then
    fail "pkg-config $*"
    return
  fi
  case $flags in *"/../"* | *"/./"*) fail "pkg-config $*: $flags" ;; esac
  # shellcheck disable=SC2086
  g++ -std=c++17 -o "$work/$program" "$consumer/$source" $flags ||
    fail "$program through pkg-config ($flags)"
}
build pc_consumer main.cc --cflags --libs qo
build zip_only zip_only.cc --cflags --libs qo-zip
[ "$(pkg-config --modversion qo)" = "$version" ] || fail "pkg-config version"
static=" $(pkg-config --static --libs qo-zip) "
[[ $static == *" -lz "* && $static == *" -ldeflate "* ]] ||
  fail "pkg-config --static --libs qo-zip: $static"
if [ -x "$work/zip_only" ]; then
  ours=$(readelf -d "$work/zip_only" |
    sed -n 's/.*(NEEDED).*\[\(lib\(qo_\|omni\).*\)\]/\1/p' | paste -sd ' ')
  [ "$ours" = libqo_zip.so.1 ] || fail "zip_only needs $ours"
fi

printf 'hello from the consumer\n' >"$work/hello.txt"
for program in consumer/qo_consumer consumer/qo_consumer_static pc_consumer \
  zip_only; do
  [ -x "$work/$program" ] || continue
  rm -f "$work/out.zip"
  if ! out=$(LD_LIBRARY_PATH=$prefix/$libdir "$work/$program" \
    "$work/out.zip" "$work/hello.txt" 2>&1); then
    fail "$program: $out"
    continue
  fi
  case $program:$out in
    zip_only:"archive written") ;;
    *:"archive written"$'\n'"no log manager: "*) ;;
    *) fail "$program printed: $out" ;;
  esac
  [ "$(unzip -p "$work/out.zip" hello.txt)" = "hello from the consumer" ] ||
    fail "$program: archive"
done
# The shared consumer uses the installed libraries (by their real paths:
# /lib may be /usr/lib), the static one none.
loaded=$(LD_LIBRARY_PATH=$prefix/$libdir ldd "$work/consumer/qo_consumer" |
  awk '$1 == "libqo_log.so.1" { print $3 }')
if [ -z "$loaded" ] || [ "$(readlink -f "$loaded")" != \
  "$(readlink -f "$prefix/$libdir/libqo_log.so.1")" ]; then
  fail "qo_consumer loads libqo_log.so.1 from '$loaded'"
fi
! ldd "$work/consumer/qo_consumer_static" | grep -q libqo_ ||
  fail "qo_consumer_static loads a qo library"
exit $((failures > 0))
