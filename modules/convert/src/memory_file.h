// libsndfile's virtual I/O over the caller's bytes, read only, with a few bytes that can be shown
// differently from what the content holds (a header field the decoder must not believe).
#pragma once

#include <sndfile.h>

#include <cstddef>

namespace sonara_decoding {

struct MemoryFile {
    const unsigned char *data = nullptr;
    sf_count_t size = 0;
    sf_count_t position = 0;
    // Bytes [overlay_at, overlay_at + overlay_size) read as `overlay` instead of the content.
    sf_count_t overlay_at = 0;
    size_t overlay_size = 0;
    unsigned char overlay[8] = {};
};

// The callbacks for sf_open_virtual; the user pointer is a MemoryFile.
SF_VIRTUAL_IO memory_io();

}  // namespace sonara_decoding
