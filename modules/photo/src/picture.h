// Picture header recognition: the pixel size of a PNG or JPEG held in memory.
#ifndef VISARA_PICTURE_H
#define VISARA_PICTURE_H

#include <cstddef>
#include <cstdint>

enum class PictureFormat { unknown, png, jpeg };

struct PictureSize {
    PictureFormat format = PictureFormat::unknown;
    uint32_t width = 0;
    uint32_t height = 0;
};

// Reads the size from a PNG IHDR chunk or from the first JPEG SOF0/SOF1/SOF2 segment.
// false (format unknown) for anything else: another format, a truncated or damaged header,
// or a zero width or height. Never reads outside [content, content + size).
bool read_picture_size(const unsigned char *content, size_t size, PictureSize *out);

#endif // VISARA_PICTURE_H
