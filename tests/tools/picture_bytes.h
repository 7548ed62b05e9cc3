// Minimal picture headers for the libvisara tests: just enough bytes for the size to be read.
#ifndef TESTS_TOOLS_PICTURE_BYTES_H
#define TESTS_TOOLS_PICTURE_BYTES_H

#include <cstdint>
#include <vector>

using Bytes = std::vector<unsigned char>;

inline void put_be16(Bytes &out, uint32_t v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

inline void put_be32(Bytes &out, uint32_t v) {
    put_be16(out, v >> 16);
    put_be16(out, v & 0xffff);
}

// Signature and IHDR chunk (CRC left zero: the reader does not verify it).
inline Bytes png_bytes(uint32_t width, uint32_t height, uint32_t ihdr_length = 13) {
    Bytes out = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
    put_be32(out, ihdr_length);
    out.insert(out.end(), {'I', 'H', 'D', 'R'});
    put_be32(out, width);
    put_be32(out, height);
    out.insert(out.end(), {8, 0, 0, 0, 0, 0, 0, 0, 0});
    return out;
}

inline void put_segment(Bytes &out, uint8_t marker, const Bytes &payload) {
    out.push_back(0xff);
    out.push_back(marker);
    put_be16(out, uint32_t(payload.size() + 2));
    out.insert(out.end(), payload.begin(), payload.end());
}

// SOI, an APP0 and a DQT segment before the frame header, then a scan and EOI.
inline Bytes jpeg_bytes(uint32_t width, uint32_t height, uint8_t frame_marker = 0xc0) {
    Bytes out = {0xff, 0xd8};
    put_segment(out, 0xe0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
    put_segment(out, 0xdb, Bytes(65, 1));
    Bytes frame = {8};
    put_be16(frame, height);
    put_be16(frame, width);
    frame.insert(frame.end(), {1, 1, 0x11, 0});
    put_segment(out, frame_marker, frame);
    put_segment(out, 0xda, {1, 1, 0, 0, 0x3f, 0});
    out.insert(out.end(), {0x00, 0x3f, 0xff, 0xd9});
    return out;
}

#endif // TESTS_TOOLS_PICTURE_BYTES_H
