#include "picture.h"

#include <cstring>

namespace {

constexpr unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
// Signature, then the first chunk: length, type "IHDR", width, height (the rest is not needed).
constexpr size_t png_ihdr_length = 13;
constexpr size_t png_header_bytes = sizeof(png_signature) + 8 + 8;
// A PNG dimension is at most 2^31 - 1.
constexpr uint32_t png_dimension_limit = 0x7fffffffu;

constexpr unsigned char jpeg_marker = 0xff;
constexpr unsigned char jpeg_soi = 0xd8;
constexpr unsigned char jpeg_eoi = 0xd9;
constexpr unsigned char jpeg_sos = 0xda;
constexpr unsigned char jpeg_tem = 0x01;
// SOF segment payload: precision (1), height (2), width (2), component count (1).
constexpr size_t jpeg_sof_minimum_length = 2 + 6;

uint32_t big_endian_32(const unsigned char *p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

uint32_t big_endian_16(const unsigned char *p) { return (uint32_t(p[0]) << 8) | uint32_t(p[1]); }

bool read_png(const unsigned char *content, size_t size, PictureSize *out) {
    if (size < png_header_bytes) return false;
    const unsigned char *chunk = content + sizeof(png_signature);
    if (big_endian_32(chunk) != png_ihdr_length || std::memcmp(chunk + 4, "IHDR", 4) != 0)
        return false;
    uint32_t width = big_endian_32(chunk + 8);
    uint32_t height = big_endian_32(chunk + 12);
    if (width == 0 || height == 0 || width > png_dimension_limit || height > png_dimension_limit)
        return false;
    *out = {PictureFormat::png, width, height};
    return true;
}

bool is_standalone_jpeg_marker(unsigned char marker) {
    return marker == jpeg_soi || marker == jpeg_tem || (marker >= 0xd0 && marker <= 0xd7);
}

bool is_jpeg_frame_marker(unsigned char marker) {
    return marker == 0xc0 || marker == 0xc1 || marker == 0xc2;
}

// Walks the marker segments after SOI until the first SOF0/1/2. Entropy-coded data starts only
// after SOS, so reaching SOS or EOI first means there is no frame header to read.
bool read_jpeg(const unsigned char *content, size_t size, PictureSize *out) {
    size_t position = 2;
    while (position < size) {
        if (content[position] != jpeg_marker) return false;
        // Any number of fill bytes may precede a marker code.
        while (position < size && content[position] == jpeg_marker) ++position;
        if (position >= size) return false;
        unsigned char marker = content[position++];
        if (is_standalone_jpeg_marker(marker)) continue;
        if (marker == jpeg_eoi || marker == jpeg_sos) return false;
        if (size - position < 2) return false;
        size_t length = big_endian_16(content + position);
        if (length < 2 || length > size - position) return false;
        if (is_jpeg_frame_marker(marker)) {
            if (length < jpeg_sof_minimum_length) return false;
            uint32_t height = big_endian_16(content + position + 3);
            uint32_t width = big_endian_16(content + position + 5);
            if (width == 0 || height == 0) return false;
            *out = {PictureFormat::jpeg, width, height};
            return true;
        }
        position += length;
    }
    return false;
}

} // namespace

bool read_picture_size(const unsigned char *content, size_t size, PictureSize *out) {
    *out = {};
    if (content == nullptr) return false;
    if (size >= sizeof(png_signature) &&
        std::memcmp(content, png_signature, sizeof(png_signature)) == 0)
        return read_png(content, size, out);
    if (size >= 2 && content[0] == jpeg_marker && content[1] == jpeg_soi)
        return read_jpeg(content, size, out);
    return false;
}
