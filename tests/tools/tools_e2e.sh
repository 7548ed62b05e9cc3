#!/usr/bin/env bash
# End-to-end runs of the scanner, probe and idle programs in a scratch directory.
# usage: tools_e2e.sh <case> <bin dir> <samples dir> <stub library>
# The stub library exports none of the checking functions; it stands in for a library whose
# slots all stay null.
set -u
case_name=$1 bin=$2 samples=$3 stub=$4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
work=$(pwd -P)

fail() {
  echo "FAIL [$case_name]: $*"
  echo "--- stdout"; cat "$work/out" 2>/dev/null
  echo "--- stderr"; cat "$work/err" 2>/dev/null
  exit 1
}

# run <expected exit status> <program> [arguments]: stdout to out, stderr to err.
run() {
  local expected=$1; shift
  "$@" >"$work/out" 2>"$work/err"
  local status=$?
  [ "$status" -eq "$expected" ] || fail "'$*' (in $(pwd)) exited with $status, expected $expected"
}

# expect_out <line>...: stdout is exactly these lines.
expect_out() {
  if [ $# -eq 0 ]; then
    [ ! -s "$work/out" ] || fail "stdout should be empty"
  else
    diff -u <(printf '%s\n' "$@") "$work/out" >"$work/diff" || { cat "$work/diff"; fail "stdout differs"; }
  fi
}

expect_err() { grep -qF -- "$1" "$work/err" || fail "stderr lacks '$1'"; }

# install_libraries <dir>: both checking libraries and both default configurations.
install_libraries() {
  ln -sf "$bin/libvisara.so" "$1/libvisara.so"
  ln -sf "$bin/libsonara.so" "$1/libsonara.so"
  cp "$bin/ci_configuration.json" "$bin/cv_configuration.json" "$1/"
}

config_version() { sed -n 's/.*"version": *"\([^"]*\)".*/\1/p' "$1"; }
hash12() { sha256sum "$1" | cut -c1-12; }
# kib <file> [format]: its size in KiB, printed as the tools print it.
kib() { awk -v n="$(stat -L -c %s "$1")" -v f="${2:-%g}" 'BEGIN { printf f, n / 1024 }'; }

photo_version=$(config_version "$bin/ci_configuration.json")
sound_version=$(config_version "$bin/cv_configuration.json")
photo_hash=$(hash12 "$bin/ci_configuration.json")
sound_hash=$(hash12 "$bin/cv_configuration.json")
photo_block=("VERSION: 1.2.5" "CONFIG : $photo_version" "VENDOR : kestro")
sound_block=("VERSION: 1.2.5" "CONFIG : $sound_version" "VENDOR : kestro")

# Two seconds of 16-bit mono silence at 8000 Hz.
make_wav() {
  { printf 'RIFF\x24\x7d\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x40\x1f\x00\x00'
    printf '\x80\x3e\x00\x00\x02\x00\x10\x00data\x00\x7d\x00\x00'
    head -c 32000 /dev/zero; } >"$1"
}

# photo_line <path> <state> <width slot> <height slot>: expected scanner line of a picture
# judged with the default photo configuration.
photo_line() {
  echo "[process] $1: state=$2 config=$photo_version hash=$photo_hash;" \
       "length=$(kib "$1") passed; $3; $4"
}

# Scanner lines of sound files: the library's numbers are not asserted, the line's shape is.
expect_sound_lines() {
  local -a lines
  mapfile -t lines < <(grep -F '.wav: ' "$work/out")
  [ "${#lines[@]}" -eq $# ] || fail "expected $# sound lines, got ${#lines[@]}"
  local i=0 path
  for path in "$@"; do
    local line=${lines[$i]} prefix="[process] $path: "
    [ "${line:0:${#prefix}}" = "$prefix" ] || fail "sound line $i is not for $path: $line"
    local rest=${line:${#prefix}}
    [[ $rest =~ ^state=[0-9]+\ [A-Z_]+\ config=(.*)\ hash=([0-9a-f]{12})\;\ length=[^\ ]+\ (passed|failed) ]] ||
      fail "sound line has the wrong shape: $line"
    [ "${BASH_REMATCH[1]}" = "$sound_version" ] && [ "${BASH_REMATCH[2]}" = "$sound_hash" ] ||
      fail "sound line names the wrong configuration: $line"
    i=$((i + 1))
  done
}

# Paths of the processed files, in output order.
processed() { sed -n 's/^\[process\] \(.*\): state=.*/\1/p' "$work/out"; }

# A scan directory with one picture that fits, one too narrow, and one recording.
make_scan_dir() {
  mkdir -p "$1"
  cp "$samples/landscape.png" "$samples/icon.png" "$1/"
  make_wav "$1/a.wav"
}

expect_scan_dir_output() {
  local d=$1
  diff -u <(printf '%s\n' "${photo_block[@]}" "${sound_block[@]}" \
      "$(photo_line "$d/landscape.png" "0 STATE_OK" "width=640 passed" "height=480 passed")" \
      "$(photo_line "$d/icon.png" "120 STATE_WIDTH_FAILED" "width=32 failed" "height=0 not evaluated")") \
    <(grep -vF '.wav: ' "$work/out") >"$work/diff" || { cat "$work/diff"; fail "scanner output differs"; }
  expect_sound_lines "$d/a.wav"
}

case_scanner_defaults() {
  install_libraries "$work"
  make_scan_dir "$work"
  run 0 "$bin/scanner"
  expect_scan_dir_output "$work"
}

case_scanner_options() {
  mkdir libs configs data empty
  install_libraries libs
  mv libs/*.json configs/
  make_scan_dir "$work/data"
  cd empty || exit 1
  # -lib_dir replaces both library paths; a configuration directory stands for its file.
  run 0 "$bin/scanner" -dir "$work/data" -lib_dir "$work/libs" \
    -photo_configuration "$work/configs" -sound_configuration "$work/configs/cv_configuration.json"
  expect_scan_dir_output "$work/data"
}

case_scanner_processing() {
  install_libraries "$work"
  make_scan_dir "$work/data"
  run 0 "$bin/scanner" -dir "$work/data"
  cp out reference
  # -processing takes no value wherever it stands; an option missing its value is ignored;
  # unknown arguments are skipped.
  local -a variants=("-processing -dir $work/data" "-dir $work/data -processing"
                     "-dir $work/data -lib_dir" "stray -dir $work/data -sound_configuration")
  local args
  for args in "${variants[@]}"; do
    # shellcheck disable=SC2086
    run 0 "$bin/scanner" $args
    diff -u reference out >diff || { cat diff; fail "scanner $args differs from a plain scan"; }
  done
  [ -z "$(find "$work/data" -name '*_processing.jpg')" ] || fail "a processing image was written"
}

case_scanner_missing_library() {
  mkdir libs empty
  install_libraries libs
  rm libs/libsonara.so
  local -a variants=("$work/empty|" "$work/libs|" "$work/empty|-lib_dir $work/libs"
                     "$work/libs|-lib_dir $work/nowhere")
  local variant
  for variant in "${variants[@]}"; do
    cd "${variant%%|*}" || exit 1
    # shellcheck disable=SC2086
    run 1 "$bin/scanner" ${variant#*|}
    expect_out
    expect_err "Libraries not load"
  done
}

case_scanner_bad_configuration() {
  install_libraries "$work"
  make_scan_dir "$work/data"
  printf '{ "version": ' >broken.json
  run 1 "$bin/scanner" -dir data -sound_configuration broken.json
  expect_out "${photo_block[@]}"
  expect_err "Sound create session"
  run 1 "$bin/scanner" -dir data -photo_configuration broken.json
  expect_out
  expect_err "Photo create session"
  ! grep -qF "Sound create session" err || fail "the sound session was tried after the photo failure"
  run 1 "$bin/scanner" -dir data -sound_configuration "$work/missing.json"
  expect_err "Sound create session"
}

case_scanner_suffixes() {
  install_libraries "$work"
  local d=$work/data
  mkdir -p "$d/d.wav" "$d/sub"
  for name in photo.JPG xjpg pic.png; do cp "$samples/landscape.png" "$d/$name"; done
  cp "$samples/portrait.jpg" "$d/x.jpeg"
  make_wav "$d/a.wav"; make_wav "$d/b.wav"; make_wav "$d/wav"; make_wav "$d/sub/e.wav"
  make_wav "$d/x.WAV"
  ln -s "$d/missing" "$d/c.wav"
  run 0 "$bin/scanner" -dir "$d"
  diff -u <(printf '%s\n' "$d/xjpg" "$d/x.jpeg" "$d/pic.png" "$d/b.wav" "$d/a.wav") \
    <(processed) >diff || { cat diff; fail "wrong files or order"; }
  grep -qxF "$(photo_line "$d/x.jpeg" "0 STATE_OK" "width=480 passed" "height=640 passed")" out ||
    fail "x.jpeg line"
  expect_sound_lines "$d/b.wav" "$d/a.wav"
}

case_scanner_photo_library_without_slots() {
  install_libraries "$work"
  ln -sf "$stub" libvisara.so
  make_scan_dir "$work/data"
  run 0 "$bin/scanner" -dir data
  diff -u <(printf '%s\n' "${sound_block[@]}") <(grep -vF '.wav: ' out) >diff ||
    { cat diff; fail "pictures should be skipped without a photo session"; }
  expect_sound_lines "data/a.wav"
}

case_probe_settings() {
  cat >settings.json <<'JSON'
{
  "version": "probe-7",
  "duration": { "min": 1, "max": 30 },
  "signal_noise": { "value": 2.5 },
  "muted": { "min": -4.9, "max": 5.9, "enable": false },
  "nested": { "inner": { "min": 1, "max": 2 } }
}
JSON
  run 0 "$bin/probe_settings" settings.json ignored
  expect_out "version = probe-7" "duration = [1, 30], true" "signal_noise = [2 : 2.500000], true" \
    "muted = [-4, 5], false"
  run 0 "$bin/probe_settings" "$work/missing.json"
  expect_out
  run 1 "$bin/probe_settings"
  expect_out
}

case_probe_run() {
  install_libraries "$work"
  export LD_LIBRARY_PATH=$work
  run 0 "$bin/probe_run"
  expect_out "Try create session." "${photo_block[@]}"
  run 0 "$bin/probe_run" ci_configuration.json "$samples/landscape.png"
  expect_out "Try create session." "${photo_block[@]}" "Result: 0, true" \
    "length = $(kib "$samples/landscape.png" %f), enable, passed" \
    "width = 640.000000, enable, passed" "height = 480.000000, enable, passed"
  run 0 "$bin/probe_run" ci_configuration.json "$samples/icon.png"
  expect_out "Try create session." "${photo_block[@]}" "Result: 120, false" \
    "length = $(kib "$samples/icon.png" %f), enable, passed" \
    "width = 32.000000, enable, failed" "height = 0.000000, enable, not evaluated"
  run 0 "$bin/probe_run" ci_configuration.json "$work/missing.png"
  expect_out "Try create session." "${photo_block[@]}"
  run 1 "$bin/probe_run" "$work/missing.json" "$samples/landscape.png"
  expect_out "Try create session."
  ln -sf "$stub" libvisara.so
  run 1 "$bin/probe_run"
  expect_out
  rm libvisara.so
  # libcommon also looks beside itself for a library named without a folder: run with a copy of
  # it that stands alone, so no libvisara.so can be found anywhere.
  mkdir alone && cp "$bin/libcommon.so.1.2.5" alone/
  export LD_LIBRARY_PATH=$work/alone
  run 1 "$bin/probe_run"
  expect_out
}

case_probe_load() {
  install_libraries "$work"
  export LD_LIBRARY_PATH=$work
  mkdir configs && cp ci_configuration.json configs/
  run 0 "$bin/probe_load"
  expect_out "Try create session." "${photo_block[@]}"
  run 0 "$bin/probe_load" configs
  expect_out "Try create session." "${photo_block[@]}"
  run 1 "$bin/probe_load" "$work/missing.json"
  expect_out "Try create session."
  ln -sf "$stub" libvisara.so
  run 1 "$bin/probe_load"
  expect_out
}

case_probe_link() {
  mkdir configs empty
  cp "$bin/ci_configuration.json" configs/
  cd configs || exit 1
  run 0 "$bin/probe_link"
  expect_out "Try create session." "${photo_block[@]}"
  cd ../empty || exit 1
  run 0 "$bin/probe_link" ../configs
  expect_out "Try create session." "${photo_block[@]}"
  run 1 "$bin/probe_link"
  expect_out "Try create session."
}

case_idle_programs() {
  local program
  for program in idle_service idle_audio; do
    run 0 "$bin/$program" ignored arguments
    expect_out
  done
}

# program | NEEDED entries it must have | entries it must not have
case_needed_entries() {
  local pthread=""
  [ -e /usr/lib/x86_64-linux-gnu/libpthread.so.0 ] && pthread=libpthread.so
  local -a table=(
    "scanner|libcommon.so|libsonara.so libvisara.so"
    "probe_run|libcommon.so|libsonara.so libvisara.so"
    "probe_load|libcommon.so|libsonara.so libvisara.so"
    "probe_settings|libcommon.so|libsonara.so libvisara.so"
    "idle_service|libcommon.so|libsonara.so libvisara.so"
    "probe_link|libcommon.so libvisara.so|libsonara.so"
    "idle_audio|libcommon.so libgomp.so $pthread|libsonara.so libvisara.so"
    "libvisara.so|libcommon.so|libsonara.so"
  )
  local row program needed entry
  for row in "${table[@]}"; do
    IFS='|' read -r program required forbidden <<<"$row"
    needed=$(readelf -d "$bin/$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    for entry in $required; do
      grep -q "^${entry//./\\.}" <<<"$needed" || { echo "$needed"; fail "$program lacks NEEDED $entry"; }
    done
    for entry in $forbidden; do
      ! grep -q "^${entry//./\\.}" <<<"$needed" || { echo "$needed"; fail "$program has NEEDED $entry"; }
    done
  done
}

"case_$case_name"
echo "PASS [$case_name]"
