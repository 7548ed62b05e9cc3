#!/usr/bin/env bash
# Builds the Debian packages from this build tree with cpack (no second build), checks their
# names, metadata and contents with dpkg-deb, runs the programs and the Python package from the
# unpacked files, and, as root on a Debian system with apt, installs them, uses them from the
# system and purges them again. The installation is skipped, with a note, when any file of the
# packages is already on the system or a package of the same name is installed (nothing of the
# machine's own is overwritten or removed), or when SONARA_PACKAGE_TEST_INSTALL=0.
# usage: package_test.sh <build dir> <source dir> <version>
set -u
build=$1 source=$2 version=$3
scratch=$(mktemp -d)
installed=()
cleanup() {
  if [ ${#installed[@]} -gt 0 ]; then
    dpkg -P "${installed[@]}" >"$scratch/purge.log" 2>&1 || cat "$scratch/purge.log"
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; exit 1; }

packages=(libsonara libsonara-dev sonara-tools python3-sonara)
arch=$(dpkg --print-architecture)

# cpack reuses the built tree; -B keeps its staging and packages out of the build folder.
(cd "$build" && cpack -G DEB -B "$scratch/out") >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; fail "cpack"; }
declare -A deb
for package in "${packages[@]}"; do
  deb[$package]=$scratch/out/${package}_${version}_${arch}.deb
  [ -f "${deb[$package]}" ] || { ls "$scratch/out"; fail "no ${package}_${version}_${arch}.deb"; }
  [ "$(dpkg-deb -f "${deb[$package]}" Package)" = "$package" ] || fail "$package: Package field"
  [ "$(dpkg-deb -f "${deb[$package]}" Version)" = "$version" ] || fail "$package: Version field"
  dpkg-deb -c "${deb[$package]}" | awk '{print $6}' | sed 's|^\./|/|' >"$scratch/$package.files"
done
[ "$(find "$scratch/out" -maxdepth 1 -name '*.deb' | wc -l)" -eq ${#packages[@]} ] || fail "more packages than expected"

has() {  # <package> <path>...: each path is in the package
  local package=$1; shift
  for path in "$@"; do grep -qxF "$path" "$scratch/$package.files" || fail "$package lacks $path"; done
}
lacks() {  # <package> <extended regex>: no path of the package matches
  if grep -Eq "$2" "$scratch/$1.files"; then fail "$1 holds $(grep -E "$2" "$scratch/$1.files" | head -3)"; fi
}
depends() {  # <package> <dependency>...: each is named in Depends (as a whole word)
  local package=$1 field; shift
  field=$(dpkg-deb -f "${deb[$package]}" Depends)
  for dependency in "$@"; do
    grep -Eq "(^|, )${dependency//+/\\+}( \(|,|$)" <<<"$field" || fail "$package Depends lacks $dependency: $field"
  done
}

# The runtime package: the five libraries under their sonames, no links for the linker.
libdir=$(sed -n 's|^\(/usr/lib[^ ]*\)/libsonara\.so\.'"$version"'$|\1|p' "$scratch/libsonara.files")
[ -n "$libdir" ] || fail "libsonara holds no libsonara.so.$version"
for library in libsonara libcommon libvisara libsonara_convert libsonara_archive; do
  has libsonara "$libdir/$library.so.$version"
  has libsonara-dev "$libdir/$library.so"
done
lacks libsonara '\.so$|/include/|/bin/|\.pc$'
# Computed from the libraries by dpkg-shlibdeps.
depends libsonara libc6 libstdc++6 libsoxr0 libsndfile1 libssl3 libwebrtc-audio-processing1
dpkg-deb --ctrl-tarfile "${deb[libsonara]}" | tar -t | grep -q shlibs || fail "libsonara has no shlibs file"

has libsonara-dev /usr/include/sonara/{sonara.h,session_types.h,libcommon.h,visara.h,sonara_convert.h,sonara_archive.h} \
  "$libdir/pkgconfig/"{libsonara,libsonara_convert,libsonara_archive}.pc \
  "$libdir/cmake/libsonara/"{libsonaraConfig.cmake,libsonaraConfigVersion.cmake,libsonaraTargets.cmake}
depends libsonara-dev "libsonara \(= $version\)"

private=/usr/libexec/sonara
has sonara-tools /usr/bin/sonara /usr/bin/scanner /usr/share/man/man1/sonara.1 \
  /usr/share/sonara/{cv_configuration.json,ci_configuration.json} \
  "$private/"{probe_run,probe_load,probe_link,probe_settings,idle_service,idle_audio} \
  "$private/"{libsonara.so,libvisara.so,cv_configuration.json,ci_configuration.json}
lacks sonara-tools '^/usr/bin/(probe_|idle_)|/usr/lib/[^/]*\.so'
depends sonara-tools "libsonara \(= $version\)" libc6

python_dir=/usr/lib/python3/dist-packages/sonara
has python3-sonara "$python_dir/"{__init__.py,__main__.py,_library.py,_install.py,_generated_version.py,py.typed}
lacks python3-sonara '__pycache__|/_libs/|\.so'
depends python3-sonara python3 "libsonara \(= $version\)"

# The unpacked files work where they lie: every path between them is relative.
root=$scratch/root
for package in "${packages[@]}"; do dpkg-deb -x "${deb[$package]}" "$root"; done
sample=$source/samples/clean_16000_mono.wav
run_tools() {  # <prefix root>: the programs from that tree
  local top=$1 output
  output=$(cd / && "$top/usr/bin/sonara" --version) || fail "sonara --version from $top exited $?"
  [ "$output" = "$(printf 'sonara %s\nlibsonara %s, vendor kestro' "$version" "$version")" ] ||
    fail "sonara --version printed: $output"
  # The default configuration is the installed one.
  output=$(cd / && "$top/usr/bin/sonara" check -q -f jsonl "$sample") || fail "sonara check from $top exited $?"
  grep -q '"state":0,"state_name":"STATE_OK"' <<<"$output" || fail "sonara check printed: $output"
  # The scanner run from the private folder, where its libraries and configurations are.
  mkdir -p "$scratch/recordings" && cp "$sample" "$scratch/recordings/"
  output=$(cd "$top$private" && "$top/usr/bin/scanner" -dir "$scratch/recordings") ||
    fail "scanner in $top$private exited $?: $output"
  [ "$(grep -c '^VERSION: '"$version"'$' <<<"$output")" -eq 2 ] || fail "scanner printed: $output"
  grep -q '^\[process\] .*clean_16000_mono.wav: state=0 STATE_OK' <<<"$output" || fail "scanner printed: $output"
  output=$(cd / && "$top$private/probe_link" "$top/usr/share/sonara/ci_configuration.json") ||
    fail "probe_link from $top exited $?"
  grep -qx "VERSION: $version" <<<"$output" || fail "probe_link printed: $output"
}
check_python() {  # <prefix root> <dist-packages folder or "">
  (cd / && env ${2:+PYTHONPATH=$2} /usr/bin/python3 - "$sample" "$1$libdir" "$version" \
     "$1/usr/share/sonara/cv_configuration.json" <<'PY'
import sys
import sonara
from sonara.__main__ import versions

sample, library_dir, version, configuration = sys.argv[1:5]
assert sonara.__version__ == version, sonara.__version__
assert sonara.library_path().startswith(library_dir + "/"), sonara.library_path()
with sonara.Session(configuration) as session:
    result = session.check(sample)
assert result.state == sonara.State.STATE_OK and result.passed, result
rows = dict(versions())
assert rows["libsonara"].startswith(f"{version}, vendor kestro"), rows
assert rows["libsoxr"] != "unknown" and rows["libsndfile"] != "unknown", rows
PY
  ) || fail "the Python package from ${2:-the system}"
}
unset SONARA_LIBRARY SONARA_CONVERT_LIBRARY SONARA_BUILD_DIR LD_LIBRARY_PATH PYTHONPATH
export ASAN_OPTIONS=detect_leaks=0
run_tools "$root"
check_python "$root" "$root${python_dir%/sonara}"

# Installing on this machine: only as root, on Debian, with nothing of ours there already.
if [ "${SONARA_PACKAGE_TEST_INSTALL:-1}" = 0 ] || [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null ||
   [ ! -f /etc/debian_version ]; then
  echo "note: not root on Debian with apt (or SONARA_PACKAGE_TEST_INSTALL=0): packages checked, not installed"
  echo "PASS"
  exit 0
fi
for package in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q installed; then
    echo "note: $package is already installed: the packages are checked, not installed"; echo "PASS"; exit 0
  fi
  while read -r path; do
    if [ -n "$path" ] && [ ! -d "$path" ] && { [ -e "$path" ] || [ -L "$path" ]; }; then
      echo "note: $path is already on the system: the packages are checked, not installed"; echo "PASS"; exit 0
    fi
  done <"$scratch/$package.files"
done
installed=("${packages[@]}")
# Every dependency is already on a machine that builds the project, so dpkg installs them as they
# are; apt then completes what dpkg could not, from what it has (nothing is downloaded).
if ! dpkg -i "${deb[@]}" >"$scratch/dpkg.log" 2>&1; then
  DEBIAN_FRONTEND=noninteractive apt-get install -f -y -q --no-download >"$scratch/apt.log" 2>&1 ||
    { cat "$scratch/dpkg.log" "$scratch/apt.log"; fail "installing the packages"; }
fi
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" | grep -q 'install ok installed' || fail "$package not installed"
done
run_tools ""
check_python "" ""
dpkg -P "${packages[@]}" >"$scratch/purge.log" 2>&1 || { cat "$scratch/purge.log"; fail "dpkg -P"; }
installed=()
for package in "${packages[@]}"; do
  ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'installed' || fail "$package still installed"
  while read -r path; do
    if [ -L "$path" ] || { [ -e "$path" ] && [ ! -d "$path" ]; }; then fail "$path left after purging $package"; fi
  done <"$scratch/$package.files"
done
for folder in "$private" /usr/share/sonara /usr/include/sonara "$python_dir" "$libdir/cmake/libsonara"; do
  [ ! -e "$folder" ] || fail "$folder left after purging"
done
echo "PASS (installed, used and purged)"
