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
private=$prefix/libexec/sonara
for file in "$prefix/include/sonara/"{sonara.h,session_types.h,visara.h,libcommon.h,sonara_convert.h,sonara_archive.h} \
            "$prefix/bin/"{scanner,sonara} "$private/"{probe_run,probe_load,probe_link,probe_settings,idle_service,idle_audio} \
            "$libdir/pkgconfig/"{libsonara,libsonara_convert,libsonara_archive}.pc "$prefix/share/man/man1/sonara.1"; do
  [ -e "$file" ] || fail "$file not installed"
done
for program in probe_run probe_load probe_link probe_settings idle_service idle_audio; do
  [ ! -e "$prefix/bin/$program" ] || fail "$program installed in bin/, not in libexec/sonara"
done
for library in libsonara libcommon libvisara libsonara_convert libsonara_archive; do
  [ -f "$libdir/$library.so.1.2.5" ] || fail "$library.so.1.2.5 not installed in $libdir"
  [ "$(readlink "$libdir/$library.so")" = "$library.so.1.2.5" ] || fail "$library.so link"
done
configuration=$(find "$prefix/share" -name cv_configuration.json)
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

# The engine's and the converter's pkg-config files: a program using both, and what a static link
# would need (the private fields, through the libraries' own pkg-config files).
cat >"$prefix/engine.c" <<'C'
#include <stdio.h>
#include <string.h>
#include "sonara_archive.h"
#include "sonara_convert.h"
int main(void) {
    SonaraConversion conversion;
    memset(&conversion, 0, sizeof conversion);
    /* Four bytes are no recording: refused, with the converter's reason. */
    int code = sonara_convert((const unsigned char *)"RIFF", 4, 0, &conversion);
    const char *outcome = code < 0 && conversion.error[0] != '\0' ? "refused" : "taken";
    sonara_conversion_free(&conversion);
    printf("%s %s %s\n", sonara_archive_version(), sonara_archive_component_version("libsonara"), outcome);
    return 0;
}
C
# shellcheck disable=SC2046,SC2086
cc $flags -o "$prefix/engine" "$prefix/engine.c" $(pkg-config --cflags --libs libsonara_archive libsonara_convert) ||
  fail "building against libsonara_archive.pc and libsonara_convert.pc"
output=$(LD_LIBRARY_PATH=$libdir ASAN_OPTIONS=detect_leaks=0 "$prefix/engine") || fail "engine consumer exited $?"
[ "$output" = "1.2.5 1.2.5 refused" ] || fail "engine consumer printed: $output"
static=$(pkg-config --static --libs libsonara_archive) || fail "pkg-config --static libsonara_archive"
for flag in -lsonara_archive -lsonara -lcommon -lsonara_convert -lsoxr -lsndfile -lcrypto -lstdc++ -lpthread; do
  grep -qw -- "$flag" <<<"$static" || fail "pkg-config --static --libs libsonara_archive lacks $flag: $static"
done
grep -qw -- -lsndfile <<<"$(pkg-config --libs libsonara_convert)" && fail "libsonara_convert.pc links libsndfile for shared use"

# find_package
cmake -S "$consumer" -B "$prefix/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="$flags" >"$prefix/consumer.log" 2>&1 || { cat "$prefix/consumer.log"; fail "find_package"; }
cmake --build "$prefix/consumer-build" >>"$prefix/consumer.log" 2>&1 || { cat "$prefix/consumer.log"; fail "build"; }
output=$("$prefix/consumer-build/consumer" "$configuration") || fail "find_package consumer exited $?"
[ "$output" = "$expected" ] || fail "find_package consumer printed: $output"

# Installed tools find the libraries through their RPATH, without LD_LIBRARY_PATH.
photo_configuration=$(dirname "$configuration")/ci_configuration.json
output=$(cd "$prefix" && ASAN_OPTIONS=detect_leaks=0 "$private/probe_link" "$photo_configuration") ||
  fail "installed probe_link exited $?"
[ "$(head -2 <<<"$output" | tail -1)" = "VERSION: 1.2.5" ] || fail "installed probe_link printed: $output"
# A plain name given to dlopen is looked up through libcommon's RUNPATH. Under AddressSanitizer
# dlopen is called from the sanitizer's runtime instead, whose RUNPATH is not ours.
if [ -z "$flags" ]; then
  output=$(cd "$prefix" && "$private/probe_load" "$photo_configuration") ||
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
