// Little-endian byte writers for building WAV files by hand, and the canonical 44-byte PCM
// header. Shared so every area writes RIFF integers the same way; each field is taken as given,
// so a test can declare values that disagree with the data that follows.
#pragma once

#include <cstdint>
#include <vector>

namespace test_support {

using Bytes = std::vector<unsigned char>;

// RIFF stores every integer little-endian, whatever the host.
inline void put_le16(Bytes &out, uint16_t value) {
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

inline void put_le32(Bytes &out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<unsigned char>(value >> shift));
}

// A four-character chunk identifier such as "RIFF" or "fmt ", without a terminator.
// Byte by byte: GCC 12 misreads a ranged vector insert here as an overflow (-Wstringop-overflow).
inline void put_fourcc(Bytes &out, const char *id) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(id[i]));
}

// The fields of a canonical PCM header, written verbatim: nothing is derived here.
struct WavHeader {
    uint16_t channels;
    uint32_t sample_rate;
    uint32_t byte_rate;
    uint16_t block_align;
    uint16_t bits_per_sample;
    uint32_t data_size;
};

// "RIFF" sized for the header and data_size bytes, "WAVE", a 16-byte 'fmt ' chunk of format 1
// and the 'data' chunk's identifier and size; the caller appends the data itself.
inline void put_canonical_wav_header(Bytes &out, const WavHeader &header) {
    put_fourcc(out, "RIFF");
    put_le32(out, 36 + header.data_size);
    put_fourcc(out, "WAVE");
    put_fourcc(out, "fmt ");
    put_le32(out, 16);
    put_le16(out, 1);
    put_le16(out, header.channels);
    put_le32(out, header.sample_rate);
    put_le32(out, header.byte_rate);
    put_le16(out, header.block_align);
    put_le16(out, header.bits_per_sample);
    put_fourcc(out, "data");
    put_le32(out, header.data_size);
}

}  // namespace test_support
