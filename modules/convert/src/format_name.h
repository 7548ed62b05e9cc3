// The text that names what a recording was, as results report it ("FLAC 24-bit", "WAV A-law").
#pragma once

#include <string>

namespace sonara_decoding {

// From libsndfile's SF_INFO.format (major type | subtype).
std::string format_name(int sndfile_format);

// An integer PCM WAV judged as it is: "WAV PCM <bits>-bit".
std::string pcm_wav_name(unsigned bits_per_sample);

}  // namespace sonara_decoding
