// The 'fmt ' fields of a WAV file, read by the program itself for --strict: the library's
// verdict takes the header at its word, and strict mode checks the fields against each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace sonara_cli {

struct WavFormat {
    uint16_t format_code = 0;
    uint16_t channels = 0;
    uint32_t sample_rate = 0;
    uint32_t byte_rate = 0;
    uint16_t block_align = 0;
    uint16_t bits_per_sample = 0;
    // For WAVE_FORMAT_EXTENSIBLE (0xFFFE): the sub-format GUID names integer PCM.
    bool pcm_sub_format = false;
};

constexpr uint16_t WAV_FORMAT_PCM = 1;
constexpr uint16_t WAV_FORMAT_EXTENSIBLE = 0xFFFE;

// The last 'fmt ' chunk before the first 'data' chunk, walking the RIFF chunks by their declared
// sizes (odd sizes padded); nothing when the content is no RIFF/WAVE file or has no whole one.
std::optional<WavFormat> read_wav_format(const unsigned char *content, size_t size);

}  // namespace sonara_cli
