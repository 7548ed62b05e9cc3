#!/usr/bin/env bash
# Times `sonara check` with -j 1 and -j 2 against `scanner` over one archive of recordings, in
# seconds of audio checked per second of wall time. Never run by CTest.
#
# The archive: 200 recordings of 60 s (samples/clean_16000_mono.wav repeated), at 8000, 16000,
# 44100 and 48000 Hz, mono and stereo in turn, made with sox once and kept in ARCHIVE.
# Each program runs RUNS times (default 3) after one warm-up read of the archive; the best run
# counts, since other work on the machine only ever slows a run down.
#
# usage: bench/archive_bench.sh <build dir> [archive dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: bench/archive_bench.sh <build dir> [archive dir]}" && pwd)
archive=${2:-$build/bench_archive}
runs=${RUNS:-3}
files=200
seconds=60
bin=$build/bin

make_archive() {
  mkdir -p "$archive"
  local rates=(8000 16000 44100 48000) source=$root/samples/clean_16000_mono.wav
  local repeats=$((seconds / 3 - 1))  # the source lasts 3 s
  for ((i = 0; i < files; ++i)); do
    local rate=${rates[i % 4]} channels=$((i / 4 % 2 + 1))
    local name
    name=$(printf '%s/rec_%03d_%d_%dch.wav' "$archive" "$i" "$rate" "$channels")
    # 3 dB down first, so converting the rate never clips.
    [ -s "$name" ] || sox -V1 "$source" -r "$rate" -c "$channels" -b 16 "$name" gain -3 repeat "$repeats"
  done
}

# "<wall s> <cpu s>" of the best (shortest wall time) of RUNS runs of the command; the CPU time
# (user + system, children included) shows the work done even when other load stretches the wall.
best_time() {
  local best="" best_cpu="" times
  times=$(mktemp)
  for ((run = 0; run < runs; ++run)); do
    /usr/bin/time -f '%e %U %S' -o "$times" "$@" >/dev/null 2>&1 || true
    local wall user system
    read -r wall user system <"$times"
    if [ -z "$best" ] || [ "$(echo "$wall < $best" | bc -l)" = 1 ]; then
      best=$wall
      best_cpu=$(echo "$user + $system" | bc -l)
    fi
  done
  rm -f "$times"
  echo "$best $best_cpu"
}

# The scanner runs from its bin folder, where it finds the libraries and configurations.
scanner=(env -C "$bin" ./scanner -dir "$archive")
sonara=("$bin/sonara" check -q --config "$bin/cv_configuration.json")

make_archive
count=$(find "$archive" -name '*.wav' | wc -l)
[ "$count" -eq "$files" ] || { echo "archive holds $count files, not $files" >&2; exit 1; }
audio=$((files * seconds))
cat "$archive"/*.wav >/dev/null  # warm the page cache for every program alike

echo "cores: $(nproc), load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
read -r scanner_time scanner_cpu < <(best_time "${scanner[@]}")
read -r one_time one_cpu < <(best_time "${sonara[@]}" -j 1 "$archive")
read -r two_time two_cpu < <(best_time "${sonara[@]}" -j 2 "$archive")
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

rate() { echo "scale=1; $audio / $1" | bc -l; }
printf '%-18s %8s %16s %8s %20s\n' program "wall s" "audio s per s" "CPU s" "audio s per CPU s"
for row in "scanner $scanner_time $scanner_cpu" "sonara_-j_1 $one_time $one_cpu" "sonara_-j_2 $two_time $two_cpu"; do
  read -r name wall cpu <<<"$row"
  printf '%-18s %8.2f %16s %8.2f %20s\n' "${name//_/ }" "$wall" "$(rate "$wall")" "$cpu" "$(rate "$cpu")"
done
echo "-j 1 / scanner: $(echo "scale=2; $scanner_time / $one_time" | bc -l)"
echo "-j 2 / -j 1:    $(echo "scale=2; $one_time / $two_time" | bc -l)"
