#!/usr/bin/env bash
# consumer_test.sh BUILD_DIR CONSUMER_SOURCES WORK_DIR
# Installs the build into a fresh prefix, checks what was installed, and builds and
# runs a C consumer with pkg-config and a C++ consumer with the CMake package.
set -euo pipefail
build=$1 src=$2 work=$3
rm -rf "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
lib=$(cd "$prefix" && ls -d lib*/ | head -1)
lib=$prefix/${lib%/}
[ -f "$prefix/include/ocl_qarn_e9.h" ] || fail "header not installed"
[ -f "$lib/libocl_qarn_e9_sysv.a" ] || fail "System V entries not installed"
[ -f "$prefix/share/ocl_qarn_e9/exports.json" ] || fail "manifest not installed"
[ -f "$prefix/share/doc/libocl_qarn_e9/calling.md" ] || fail "documentation not installed"
real=$(ls "$lib"/libocl_qarn_e9.so.1.* 2>/dev/null | head -1)
[ -n "$real" ] || fail "no versioned libocl_qarn_e9.so.1.x"
[ "$(readlink "$lib/libocl_qarn_e9.so.1")" = "$(basename "$real")" ] || fail "libocl_qarn_e9.so.1 link"
[ -L "$lib/libocl_qarn_e9.so" ] || fail "no development link libocl_qarn_e9.so"
readelf -d "$real" | grep -q 'SONAME.*\[libocl_qarn_e9\.so\.1\]' || fail "SONAME is not libocl_qarn_e9.so.1"
# Every symbol the manifest (and so the header) names for GCC or Clang is defined in
# the installed entries or the library.
nm --defined-only "$lib/libocl_qarn_e9_sysv.a" | awk 'NF == 3 {print $3}' > "$work/symbols"
nm -D --defined-only "$real" | awk 'NF == 3 {print $3}' >> "$work/symbols"
python3 - "$prefix/share/ocl_qarn_e9/exports.json" "$work/symbols" <<'PY' || fail "manifest"
import json, sys
m = json.load(open(sys.argv[1]))
have = set(open(sys.argv[2]).read().split())
names = [e['name'] for e in m['exports']]
assert names and all(n in have for n in names), 'an export is missing from the library'
for e in m['exports']:
    for c, sym in e['c_symbol'].items():
        assert sym in have, '%s: %s entry %s is not installed' % (e['name'], c, sym)
    assert e['form'] != 'register' or ('shims' in e) == any(s != e['name'] for s in e['c_symbol'].values())
PY

# pkg-config, C, with GCC and (if present) Clang.
export PKG_CONFIG_PATH=$lib/pkgconfig
flags=$(pkg-config --cflags --libs ocl_qarn_e9) || fail "pkg-config does not know ocl_qarn_e9"
for cc in gcc clang; do
  command -v $cc >/dev/null || continue
  $cc -std=c11 -O2 -mavx -Wall -Wextra -Werror -Wno-psabi "$src/consumer.c" $flags \
      -Wl,-rpath,"$lib" -o "$work/consumer_$cc"
  readelf -d "$work/consumer_$cc" | grep -q 'NEEDED.*\[libocl_qarn_e9\.so\.1\]' || fail "$cc consumer does not need libocl_qarn_e9.so.1"
  "$work/consumer_$cc"
done

# The CMake package, C++.
cmake -S "$src" -B "$work/cmake_build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_BUILD_RPATH="$lib" >/dev/null
cmake --build "$work/cmake_build" >/dev/null
"$work/cmake_build/consumer"
echo "installed package: pkg-config and CMake consumers built and ran"
