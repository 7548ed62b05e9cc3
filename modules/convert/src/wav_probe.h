// Reading the RIFF/WAVE 'fmt ' chunk far enough to tell integer PCM from everything else, and
// writing the canonical header of a converted file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sonara_decoding {

enum class WavKind {
    NotWav,          // no RIFF/WAVE container: libsndfile decides what it is
    IntegerPcm,      // format code 1, or extensible with the PCM sub-format GUID
    OtherEncoding,   // a WAV whose samples are not integer PCM: decoded
    Unreadable       // RIFF/WAVE without a complete 'fmt ' chunk: judged as it is
};

struct WavProbe {
    WavKind kind = WavKind::NotWav;
    uint16_t bits_per_sample = 0;
    // Frames per channel from a 'fact' chunk (0 when there is none): the true length of a
    // block-coded file, whose last block is padded.
    uint32_t fact_frames = 0;
    // Frames per block of a block-coded 'fmt ' (wSamplesPerBlock; 0 when the chunk has none).
    uint16_t frames_per_block = 0;
};

WavProbe probe_wav(const unsigned char *content, size_t size);

// The 44-byte header of 16-bit PCM: format 1, block align channels x 2. The caller has checked
// that the rate, channel count and data size fit their fields.
void write_canonical_header(unsigned char *out, uint16_t channels, uint32_t sample_rate,
                            uint32_t data_size);

}  // namespace sonara_decoding
