#!/usr/bin/env bash
# Regenerates the sample recordings of this folder, byte for byte: speech from espeak-ng, noise,
# mixing, clipping and format changes from sox. Every sox call runs with -R, so its dither and
# noise generators start from the same seed on every run. Needs espeak-ng and sox (scripts/setup).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Plain 44-byte PCM headers for every output ("wavpcm"), never the extensible form.
sox_() { sox -R -V1 "$@"; }

# speak <name> <peak dBFS> <text>: espeak-ng speech (22050 Hz mono) normalised to the peak,
# with a little room before and after.
speak() {
    espeak-ng -v en-us -s 150 -w "$work/$1.raw.wav" "$3"
    sox_ "$work/$1.raw.wav" "$work/$1.wav" gain -n "$2" pad 0.3 0.3
}

# voice <speech> <rate> <seconds> <out>: speech at rate, cut or padded to seconds.
voice() {
    sox_ "$work/$1.wav" -r "$2" -b 16 "$work/$4.wav" trim 0 "$3" pad 0 "$3" trim 0 "$3"
}

# noise <rate> <seconds> <volume> <out>: mono white noise.
noise() {
    sox_ -n -r "$1" -c 1 -b 16 "$work/$4.wav" synth "$2" whitenoise vol "$3"
}

# mix <a> <b> <out>: sum of two mono signals at their own levels.
mix() {
    sox_ -m -v 1 "$work/$1.wav" -v 1 "$work/$2.wav" "$work/$3.wav"
}

# publish <work name> <sample file> [sox output options...]
publish() {
    local from=$1 to=$2
    shift 2
    sox_ "$work/$from.wav" -t wavpcm "$@" "$here/$to"
}

speak greeting 0 "Good morning. Please leave your message after the tone, and we will call you back."
speak numbers -6 "The meeting moved to Thursday at ten. Bring the signed forms."
speak short 0 "Hello there, goodbye."

# Clean speech over a faint room hiss: passes every check.
voice greeting 16000 3 greeting_16k
noise 16000 3 0.002 hiss_16k
mix greeting_16k hiss_16k clean_16k
publish clean_16k clean_16000_mono.wav

# Two clean channels at the telephone rate: passes every check.
voice numbers 8000 3 numbers_8k
noise 8000 3 0.002 hiss_8k_left
sox_ -n -r 8000 -c 1 -b 16 "$work/hiss_8k_right.wav" synth 3 pinknoise vol 0.002
mix numbers_8k hiss_8k_left left_8k
mix numbers_8k hiss_8k_right right_8k
sox_ -M "$work/left_8k.wav" "$work/right_8k.wav" "$work/stereo_8k.wav"
publish stereo_8k clean_8000_stereo.wav

# Hard clipping: speech driven 24 dB past full scale piles up at the extremes.
voice greeting 44100 2.5 greeting_44k
noise 44100 2.5 0.002 hiss_44k
mix greeting_44k hiss_44k plain_44k
sox_ "$work/plain_44k.wav" "$work/clipped_44k.wav" gain 24
publish clipped_44k clipped_44100_mono.wav

# Speech buried in loud noise: the detector finds no quiet part to measure noise against.
noise 16000 3 0.35 roar_16k
mix greeting_16k roar_16k noisy_16k
publish noisy_16k noisy_16000_mono.wav

# Clean left channel, noisy right channel: the telephone-rate border looks at the first
# channel only and passes; the per-channel signal-to-noise fails on the second.
noise 8000 3 0.06 hum_8k
mix numbers_8k hum_8k noisy_right_8k
sox_ -M "$work/left_8k.wav" "$work/noisy_right_8k.wav" "$work/half_noisy_8k.wav"
publish half_noisy_8k noisy_right_channel_8000_stereo.wav

# 1.5 s: below the two-second minimum.
voice short 16000 1.5 short_16k
publish short_16k too_short_16000_mono.wav

# 8 bits per sample.
voice numbers 8000 3 numbers_8bit
publish numbers_8bit depth_8bit_8000_mono.wav -b 8

# 96000 Hz, above the 48000 Hz maximum.
voice short 96000 2.1 short_96k
publish short_96k rate_96000_mono.wav

# Three channels.
voice numbers 8000 3 numbers_three
sox_ -M "$work/numbers_three.wav" "$work/numbers_three.wav" "$work/numbers_three.wav" \
    "$work/three_8k.wav"
publish three_8k three_channels_8000.wav

# Near-silence: the speech 60 dB down under the faint hiss; no voice for the detector.
sox_ "$work/greeting_16k.wav" "$work/whisper_16k.wav" vol 0.001
mix whisper_16k hiss_16k quiet_16k
publish quiet_16k near_silence_16000_mono.wav
