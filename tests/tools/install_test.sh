#!/usr/bin/env bash
# Installs a build into a scratch prefix, then builds an outside program against it through
# pkg-config and through find_package, and runs it and an installed tool.
# usage: install_test.sh <build dir> <consumer source dir> <extra compiler flags>
set -u
build=$1 consumer=$2 flags=${3:-}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$prefix/install.log" || { cat "$prefix/install.log"; fail "install"; }

pc=$(find "$prefix" -name libsonara.pc)
[ -n "$pc" ] || fail "no libsonara.pc installed"
libdir=$(dirname "$(dirname "$pc")")
for file in "$prefix/include/sonara/"{sonara.h,session_types.h,visara.h,libcommon.h} \
            "$prefix/bin/"{scanner,probe_run,probe_load,probe_link,probe_settings,idle_service,idle_audio,sonara} \
            "$prefix/share/man/man1/sonara.1"; do
  [ -e "$file" ] || fail "$file not installed"
done
for library in libsonara libcommon libvisara; do
  [ -f "$libdir/$library.so.1.2.5" ] || fail "$library.so.1.2.5 not installed in $libdir"
  [ "$(readlink "$libdir/$library.so")" = "$library.so.1.2.5" ] || fail "$library.so link"
done
configuration=$(find "$prefix" -name cv_configuration.json)
[ -n "$configuration" ] || fail "no cv_configuration.json installed"
version=$(sed -n 's/.*"version": *"\([^"]*\)".*/\1/p' "$configuration")
expected=$(printf 'VERSION: 1.2.5\nCONFIG : %s\nVENDOR : kestro' "$version")

# pkg-config
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046,SC2086
cc $flags -o "$prefix/consumer" "$consumer/consumer.c" $(pkg-config --cflags --libs libsonara) ||
  fail "building against pkg-config's flags"
output=$(LD_LIBRARY_PATH=$libdir "$prefix/consumer" "$configuration") || fail "pkg-config consumer exited $?"
[ "$output" = "$expected" ] || fail "pkg-config consumer printed: $output"

# find_package
cmake -S "$consumer" -B "$prefix/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="$flags" >"$prefix/consumer.log" 2>&1 || { cat "$prefix/consumer.log"; fail "find_package"; }
cmake --build "$prefix/consumer-build" >>"$prefix/consumer.log" 2>&1 || { cat "$prefix/consumer.log"; fail "build"; }
output=$("$prefix/consumer-build/consumer" "$configuration") || fail "find_package consumer exited $?"
[ "$output" = "$expected" ] || fail "find_package consumer printed: $output"

# Installed tools find the libraries through their RPATH, without LD_LIBRARY_PATH.
photo_configuration=$(dirname "$configuration")/ci_configuration.json
output=$(cd "$prefix" && ASAN_OPTIONS=detect_leaks=0 "$prefix/bin/probe_link" "$photo_configuration") ||
  fail "installed probe_link exited $?"
[ "$(head -2 <<<"$output" | tail -1)" = "VERSION: 1.2.5" ] || fail "installed probe_link printed: $output"
# A plain name given to dlopen is looked up through libcommon's RUNPATH. Under AddressSanitizer
# dlopen is called from the sanitizer's runtime instead, whose RUNPATH is not ours.
if [ -z "$flags" ]; then
  output=$(cd "$prefix" && "$prefix/bin/probe_load" "$photo_configuration") ||
    fail "installed probe_load exited $? (libcommon should load libvisara.so from its own folder)"
fi
# sonara from the prefix, run from elsewhere: its versions, and a check with the installed
# configuration found by default.
output=$(cd / && ASAN_OPTIONS=detect_leaks=0 "$prefix/bin/sonara" --version) || fail "installed sonara --version exited $?"
[ "$output" = "$(printf 'sonara 1.2.5\nlibsonara 1.2.5, vendor kestro')" ] || fail "sonara --version printed: $output"
samples=$(cd "$(dirname "$0")/../../samples" && pwd)
output=$(cd / && ASAN_OPTIONS=detect_leaks=0 "$prefix/bin/sonara" check -q -f jsonl "$samples/clean_16000_mono.wav") ||
  fail "installed sonara check exited $?"
grep -q '"state":0,"state_name":"STATE_OK","config_version":"'"$version"'"' <<<"$output" ||
  fail "installed sonara check printed: $output"
echo "PASS"
