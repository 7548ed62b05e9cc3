#include "flac_length.h"

#include <cstring>

namespace sonara_decoding {
namespace {

constexpr size_t kId3HeaderSize = 10;
constexpr size_t kStreamInfoSize = 34;
// Within STREAMINFO: block sizes (4 bytes), frame sizes (6), then 20 bits of rate, 3 of channels
// and 5 of depth, so the 36-bit count starts in the low nibble of byte 13.
constexpr size_t kTotalSamplesAt = 13;

// Where the FLAC stream starts: 0, or just past an ID3v2 tag (its size is 28 bits, 7 per byte).
size_t stream_start(const unsigned char *content, size_t size) {
    if (size < kId3HeaderSize || std::memcmp(content, "ID3", 3) != 0) return 0;
    size_t tag = 0;
    for (size_t i = 6; i < 10; ++i) {
        if (content[i] & 0x80) return 0;
        tag = (tag << 7) | content[i];
    }
    const bool footer = (content[5] & 0x10) != 0;
    return kId3HeaderSize + tag + (footer ? kId3HeaderSize : 0);
}

}  // namespace

FlacLength find_flac_length(const unsigned char *content, size_t size) {
    FlacLength length;
    if (content == nullptr) return length;
    const size_t start = stream_start(content, size);
    // "fLaC", then the metadata block header: type 0 (STREAMINFO, the last-block bit aside) and a
    // 24-bit length of 34.
    if (start > size || size - start < 8 + kStreamInfoSize) return length;
    const unsigned char *p = content + start;
    if (std::memcmp(p, "fLaC", 4) != 0 || (p[4] & 0x7F) != 0 || p[5] != 0 || p[6] != 0 || p[7] != kStreamInfoSize) {
        return length;
    }
    const unsigned char *field = p + 8 + kTotalSamplesAt;
    length.found = true;
    length.field_at = start + 8 + kTotalSamplesAt;
    length.total_samples = static_cast<uint64_t>(field[0] & 0x0F) << 32;
    for (int i = 1; i <= 4; ++i) length.total_samples |= static_cast<uint64_t>(field[i]) << (8 * (4 - i));
    return length;
}

}  // namespace sonara_decoding
