#include "wav_format.h"

#include <cstring>

namespace sonara_cli {
namespace {

uint16_t le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// KSDATAFORMAT_SUBTYPE_PCM: 00000001-0000-0010-8000-00aa00389b71, as stored.
constexpr unsigned char PCM_SUB_FORMAT[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                              0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
constexpr size_t FMT_BASE = 16;
constexpr size_t SUB_FORMAT_OFFSET = 24;  // inside the chunk's payload

}  // namespace

std::optional<WavFormat> read_wav_format(const unsigned char *content, size_t size) {
    if (content == nullptr || size < 12 || std::memcmp(content, "RIFF", 4) != 0 ||
        std::memcmp(content + 8, "WAVE", 4) != 0) {
        return std::nullopt;
    }
    std::optional<WavFormat> found;
    size_t position = 12;
    while (size - position >= 8) {
        const unsigned char *chunk = content + position;
        const uint64_t chunk_size = le32(chunk + 4);
        const size_t available = size - position - 8;
        if (std::memcmp(chunk, "data", 4) == 0) {
            break;
        }
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (chunk_size < FMT_BASE || available < FMT_BASE) {
                return found;
            }
            const unsigned char *payload = chunk + 8;
            WavFormat format;
            format.format_code = le16(payload);
            format.channels = le16(payload + 2);
            format.sample_rate = le32(payload + 4);
            format.byte_rate = le32(payload + 8);
            format.block_align = le16(payload + 12);
            format.bits_per_sample = le16(payload + 14);
            format.pcm_sub_format = chunk_size >= SUB_FORMAT_OFFSET + 16 &&
                                    available >= SUB_FORMAT_OFFSET + 16 &&
                                    std::memcmp(payload + SUB_FORMAT_OFFSET, PCM_SUB_FORMAT, 16) == 0;
            found = format;
        }
        const uint64_t next = 8 + chunk_size + (chunk_size & 1u);
        if (next > size - position) {
            break;
        }
        position += static_cast<size_t>(next);
    }
    return found;
}

}  // namespace sonara_cli
