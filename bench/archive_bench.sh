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

# Best wall time in seconds of RUNS runs of the command.
best_time() {
  local best=""
  for ((run = 0; run < runs; ++run)); do
    local start end elapsed
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    elapsed=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$elapsed < $best" | bc -l)" = 1 ]; then best=$elapsed; fi
  done
  echo "$best"
}

scanner() { (cd "$bin" && ./scanner -dir "$archive"); }
sonara_jobs() { "$bin/sonara" check -q -j "$1" --config "$bin/cv_configuration.json" "$archive"; }

make_archive
count=$(find "$archive" -name '*.wav' | wc -l)
[ "$count" -eq "$files" ] || { echo "archive holds $count files, not $files" >&2; exit 1; }
audio=$((files * seconds))
cat "$archive"/*.wav >/dev/null  # warm the page cache for every program alike

echo "cores: $(nproc), load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
scanner_time=$(best_time scanner)
one_time=$(best_time sonara_jobs 1)
two_time=$(best_time sonara_jobs 2)
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

rate() { echo "scale=1; $audio / $1" | bc -l; }
printf '%-18s %10s %16s\n' program "wall s" "audio s per s"
printf '%-18s %10.2f %16s\n' "scanner" "$scanner_time" "$(rate "$scanner_time")"
printf '%-18s %10.2f %16s\n' "sonara check -j 1" "$one_time" "$(rate "$one_time")"
printf '%-18s %10.2f %16s\n' "sonara check -j 2" "$two_time" "$(rate "$two_time")"
echo "-j 1 / scanner: $(echo "scale=2; $scanner_time / $one_time" | bc -l)"
echo "-j 2 / -j 1:    $(echo "scale=2; $one_time / $two_time" | bc -l)"
