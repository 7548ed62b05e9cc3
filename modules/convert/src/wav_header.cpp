#include "wav_header.h"

#include <cstring>

namespace sonara_decoding {
namespace {

void put16(unsigned char *p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

void write_canonical_header(unsigned char *out, uint16_t channels, uint32_t sample_rate, uint32_t data_size) {
    const uint16_t block_align = static_cast<uint16_t>(channels * 2U);
    std::memcpy(out, "RIFF", 4);
    put32(out + 4, 36U + data_size);
    std::memcpy(out + 8, "WAVEfmt ", 8);
    put32(out + 16, 16);
    put16(out + 20, 1);
    put16(out + 22, channels);
    put32(out + 24, sample_rate);
    put32(out + 28, sample_rate * block_align);
    put16(out + 32, block_align);
    put16(out + 34, 16);
    std::memcpy(out + 36, "data", 4);
    put32(out + 40, data_size);
}

}  // namespace sonara_decoding
