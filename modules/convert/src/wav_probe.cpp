#include "wav_probe.h"

#include <cstring>

namespace sonara_decoding {
namespace {

uint16_t le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t le32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void put16(unsigned char *p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM after its leading 16-bit format code: the fixed tail every
// WAVE_FORMAT_EXTENSIBLE sub-format GUID shares.
constexpr unsigned char kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// The kind told by a 'fmt ' chunk's payload; an extensible one too short for its GUID leaves
// the probe Unreadable.
void probe_format(const unsigned char *fmt, uint32_t declared, size_t available, WavProbe &probe) {
    const uint16_t code = le16(fmt);
    probe.bits_per_sample = le16(fmt + 14);
    // cbSize then wSamplesPerBlock, in the extension of ADPCM and GSM formats.
    if (code != kFormatPcm && code != kFormatExtensible && declared >= 20 && available >= 20) {
        probe.frames_per_block = le16(fmt + 18);
    }
    if (code == kFormatPcm) {
        probe.kind = WavKind::IntegerPcm;
    } else if (code != kFormatExtensible) {
        probe.kind = WavKind::OtherEncoding;
    } else if (declared >= 40 && available >= 40) {
        // Extension: cbSize, valid bits, channel mask, then the sub-format GUID at 24.
        const unsigned char *guid = fmt + 24;
        const bool pcm = le16(guid) == kFormatPcm && std::memcmp(guid + 2, kGuidTail, 14) == 0;
        probe.kind = pcm ? WavKind::IntegerPcm : WavKind::OtherEncoding;
    }
}

}  // namespace

WavProbe probe_wav(const unsigned char *content, size_t size) {
    WavProbe probe;
    if (content == nullptr || size < 12 || std::memcmp(content, "RIFF", 4) != 0 ||
        std::memcmp(content + 8, "WAVE", 4) != 0) {
        return probe;
    }
    probe.kind = WavKind::Unreadable;
    bool format_seen = false;
    // Chunks are walked by their declared sizes, padded to even; the first 'fmt ' decides the
    // kind, the first 'fact' gives the length.
    size_t position = 12;
    while (size - position >= 8) {
        const unsigned char *chunk = content + position;
        const uint32_t chunk_size = le32(chunk + 4);
        const size_t available = size - position - 8;
        if (!format_seen && std::memcmp(chunk, "fmt ", 4) == 0) {
            format_seen = true;
            if (chunk_size >= 16 && available >= 16) probe_format(chunk + 8, chunk_size, available, probe);
        } else if (probe.fact_frames == 0 && std::memcmp(chunk, "fact", 4) == 0 && chunk_size >= 4 &&
                   available >= 4) {
            probe.fact_frames = le32(chunk + 8);
        }
        const size_t advance = 8 + static_cast<size_t>(chunk_size) + (chunk_size & 1U);
        if (advance > size - position) break;
        position += advance;
    }
    return probe;
}

void write_canonical_header(unsigned char *out, uint16_t channels, uint32_t sample_rate,
                            uint32_t data_size) {
    const uint16_t block_align = static_cast<uint16_t>(channels * 2U);
    std::memcpy(out, "RIFF", 4);
    put32(out + 4, 36U + data_size);
    std::memcpy(out + 8, "WAVEfmt ", 8);
    put32(out + 16, 16);
    put16(out + 20, kFormatPcm);
    put16(out + 22, channels);
    put32(out + 24, sample_rate);
    put32(out + 28, sample_rate * block_align);
    put16(out + 32, block_align);
    put16(out + 34, 16);
    std::memcpy(out + 36, "data", 4);
    put32(out + 40, data_size);
}

}  // namespace sonara_decoding
