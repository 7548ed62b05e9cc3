// The text that names what a recording was, as results report it ("FLAC 24-bit", "WAV A-law").
#pragma once

#include <cstdint>
#include <string>

namespace sonara_decoding {

// From libsndfile's SF_INFO.format (major type | subtype).
std::string format_name(int sndfile_format);

// A RIFF/WAVE as libsonara reads its 'fmt ' chunk: "WAV PCM 16-bit", "WAV float 32-bit", ...
std::string wav_format_name(uint16_t format_code, uint16_t bits_per_sample, bool pcm_sub_format);

}  // namespace sonara_decoding
